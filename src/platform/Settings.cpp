#include "platform/Settings.h"

#include "platform/AppIdentity.h"

#include <QDir>
#include <QStandardPaths>

namespace {

std::optional<bool> toBool(const QVariant& v)
{
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        if (s == QLatin1String("true"))
            return true;
        if (s == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

std::optional<QString> toString(const QVariant& v)
{
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    return std::nullopt;
}

// Strict number parsing: QString's conversions accept blanks, which a stored value never has.
template <typename T, typename Parse> std::optional<T> parseStrictly(const QString& s, Parse parse)
{
    if (s.isEmpty() || s.trimmed() != s)
        return std::nullopt;
    bool ok = false;
    const T value = parse(s, &ok);
    return ok ? std::optional<T>(value) : std::nullopt;
}

std::optional<qint64> toInteger(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return v.toLongLong();
    case QMetaType::QString:
        return parseStrictly<qint64>(v.toString(), [](const QString& s, bool* ok) { return s.toLongLong(ok, 10); });
    default:
        return std::nullopt;
    }
}

std::optional<double> toDouble(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
        return v.toDouble();
    case QMetaType::QString:
        return parseStrictly<double>(v.toString(), [](const QString& s, bool* ok) { return s.toDouble(ok); });
    default:
        return std::nullopt;
    }
}

std::optional<QStringList> toStringList(const QVariant& v)
{
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList();
    if (v.typeId() == QMetaType::QVariantList) {
        QStringList list;
        for (const QVariant& item : v.toList()) {
            if (item.typeId() != QMetaType::QString)
                return std::nullopt;
            list.append(item.toString());
        }
        return list;
    }
    // The INI format writes a one-element list as a plain string and an empty list as an
    // invalid value.
    if (v.typeId() == QMetaType::QString)
        return QStringList { v.toString() };
    if (!v.isValid())
        return QStringList {};
    return std::nullopt;
}

// A map is written in Qt's own binary form, which keeps its booleans typed; anything else
// stored under a map key (a hand-edited file, an older format) is not a map of booleans.
std::optional<CalendarVisibilityMap> toBoolMap(const QVariant& v)
{
    if (v.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    CalendarVisibilityMap map;
    const QVariantMap stored = v.toMap();
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        if (it.value().typeId() != QMetaType::Bool)
            return std::nullopt;
        map.insert(it.key(), it.value().toBool());
    }
    return map;
}

std::optional<bool> read(const QVariant& v, bool*)
{
    return toBool(v);
}
std::optional<QString> read(const QVariant& v, QString*)
{
    return toString(v);
}
std::optional<QStringList> read(const QVariant& v, QStringList*)
{
    return toStringList(v);
}
std::optional<qint64> read(const QVariant& v, qint64*)
{
    return toInteger(v);
}
std::optional<double> read(const QVariant& v, double*)
{
    return toDouble(v);
}
std::optional<CalendarVisibilityMap> read(const QVariant& v, CalendarVisibilityMap*)
{
    return toBoolMap(v);
}

QVariant written(bool v)
{
    return v;
}
QVariant written(const QString& v)
{
    return v;
}
QVariant written(const QStringList& v)
{
    return v;
}
QVariant written(qint64 v)
{
    return v;
}
QVariant written(double v)
{
    return v;
}
QVariant written(const CalendarVisibilityMap& v)
{
    QVariantMap map;
    for (auto it = v.begin(); it != v.end(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

} // namespace

Settings::Settings(const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{ }

Settings::~Settings()
{
    sync();
}

QString Settings::defaultFilePath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(base).filePath(AppIdentity::containerName() + QStringLiteral("/settings.ini"));
}

QString Settings::filePath() const
{
    std::lock_guard lock(m_mutex);
    return m_settings->fileName();
}

template <typename T> void Settings::registerDefault(const SettingsKey<T>& key)
{
    std::lock_guard lock(m_mutex);
    m_defaults.insert(key.key(), written(key.defaultValue));
}

bool Settings::contains(const QString& key) const
{
    std::lock_guard lock(m_mutex);
    return m_settings->contains(key);
}

QVariant Settings::storedValue(const QString& key, bool* isStored) const
{
    std::lock_guard lock(m_mutex);
    *isStored = m_settings->contains(key);
    return *isStored ? m_settings->value(key) : QVariant();
}

QVariant Settings::value(const QString& key) const
{
    bool stored = false;
    const QVariant v = storedValue(key, &stored);
    if (stored)
        return v;
    std::lock_guard lock(m_mutex);
    return m_defaults.value(key);
}

template <typename T> std::optional<T> Settings::stored(const SettingsKey<T>& key) const
{
    bool isStored = false;
    const QVariant v = storedValue(key.key(), &isStored);
    if (!isStored)
        return std::nullopt;
    return read(v, static_cast<T*>(nullptr));
}

template <typename T> T Settings::get(const SettingsKey<T>& key) const
{
    return stored(key).value_or(key.defaultValue);
}

template <typename T> void Settings::set(const SettingsKey<T>& key, const T& value)
{
    setValue(key.key(), written(value));
}

#define QUILLET_SETTINGS_TYPE(T)                                                                                       \
    template void Settings::registerDefault<T>(const SettingsKey<T>&);                                                 \
    template std::optional<T> Settings::stored<T>(const SettingsKey<T>&) const;                                        \
    template T Settings::get<T>(const SettingsKey<T>&) const;                                                          \
    template void Settings::set<T>(const SettingsKey<T>&, const T&);
QUILLET_SETTINGS_TYPE(bool)
QUILLET_SETTINGS_TYPE(QString)
QUILLET_SETTINGS_TYPE(QStringList)
QUILLET_SETTINGS_TYPE(qint64)
QUILLET_SETTINGS_TYPE(double)
QUILLET_SETTINGS_TYPE(CalendarVisibilityMap)
#undef QUILLET_SETTINGS_TYPE

void Settings::setValue(const QString& key, const QVariant& value)
{
    {
        std::lock_guard lock(m_mutex);
        m_settings->setValue(key, value);
    }
    emit changed(key);
}

void Settings::remove(const QString& key)
{
    {
        std::lock_guard lock(m_mutex);
        m_settings->remove(key);
    }
    emit changed(key);
}

void Settings::sync()
{
    std::lock_guard lock(m_mutex);
    m_settings->sync();
}
