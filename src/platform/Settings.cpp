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

void Settings::registerDefaults(const QVariantMap& defaults)
{
    std::lock_guard lock(m_mutex);
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_defaults.insert(it.key(), it.value());
}

bool Settings::contains(const QString& key) const
{
    std::lock_guard lock(m_mutex);
    return m_settings->contains(key);
}

QVariant Settings::storedOrDefault(const QString& key, bool* isStored) const
{
    std::lock_guard lock(m_mutex);
    *isStored = m_settings->contains(key);
    if (*isStored)
        return m_settings->value(key);
    return m_defaults.value(key);
}

template <typename Convert>
auto Settings::converted(const QString& key, Convert convert) const -> decltype(convert(QVariant()))
{
    bool stored = false;
    if (auto value = convert(storedOrDefault(key, &stored)))
        return value;
    if (!stored)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    return convert(m_defaults.value(key));
}

QVariant Settings::value(const QString& key) const
{
    bool stored = false;
    return storedOrDefault(key, &stored);
}

bool Settings::boolValue(const QString& key, bool fallback) const
{
    return converted(key, toBool).value_or(fallback);
}

QString Settings::stringValue(const QString& key, const QString& fallback) const
{
    return optionalString(key).value_or(fallback);
}

std::optional<QString> Settings::optionalString(const QString& key) const
{
    return converted(key, toString);
}

QStringList Settings::stringListValue(const QString& key, const QStringList& fallback) const
{
    bool stored = false;
    const QVariant v = storedOrDefault(key, &stored);
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList();
    if (v.typeId() == QMetaType::QVariantList) {
        QStringList list;
        for (const QVariant& item : v.toList()) {
            if (item.typeId() != QMetaType::QString)
                return fallback;
            list.append(item.toString());
        }
        return list;
    }
    // The INI format writes a one-element list as a plain string and an empty list as
    // an invalid value.
    if (stored && v.typeId() == QMetaType::QString)
        return QStringList { v.toString() };
    if (stored && !v.isValid())
        return {};
    return fallback;
}

qint64 Settings::integerValue(const QString& key, qint64 fallback) const
{
    return converted(key, toInteger).value_or(fallback);
}

double Settings::doubleValue(const QString& key, double fallback) const
{
    return converted(key, toDouble).value_or(fallback);
}

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
