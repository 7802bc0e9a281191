#include "archive/ArchiveIndex.h"

#include "archive/ArchiveMarkdown.h"
#include "platform/FileReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <cmath>

namespace {

std::optional<ArchiveIndexEntry> decodeEntry(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue title = object.value(QLatin1String("title"));
    const QJsonValue date = object.value(QLatin1String("date"));
    const QJsonValue minutes = object.value(QLatin1String("durationMinutes"));
    const QJsonValue path = object.value(QLatin1String("path"));
    const QJsonValue hasSummary = object.value(QLatin1String("hasSummary"));
    if (!title.isString() || !date.isString() || !minutes.isDouble() || !path.isString() || !hasSummary.isBool())
        return std::nullopt;

    const double minutesValue = minutes.toDouble();
    if (std::trunc(minutesValue) != minutesValue || std::abs(minutesValue) >= 9223372036854775808.0)
        return std::nullopt;
    const auto parsedDate = ArchiveMarkdown::parseIsoDate(date.toString());
    if (!parsedDate)
        return std::nullopt;

    ArchiveIndexEntry entry;
    entry.title = title.toString();
    entry.date = *parsedDate;
    entry.durationMinutes = minutes.toInteger(static_cast<qint64>(minutesValue));
    entry.path = path.toString();
    entry.hasSummary = hasSummary.toBool();
    // Optional, and written by no earlier version: anything but true leaves the writer free to
    // name the file.
    entry.keepsPath = object.value(QLatin1String("keepsPath")).toBool(false);
    if (const QJsonValue replaces = object.value(QLatin1String("replaces")); replaces.isString())
        entry.replaces = replaces.toString();
    return entry;
}

void appendJsonString(QString& json, const QString& text)
{
    json += u'"';
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            json += u"\\\"";
            break;
        case u'\\':
            json += u"\\\\";
            break;
        case u'\b':
            json += u"\\b";
            break;
        case u'\f':
            json += u"\\f";
            break;
        case u'\n':
            json += u"\\n";
            break;
        case u'\r':
            json += u"\\r";
            break;
        case u'\t':
            json += u"\\t";
            break;
        default:
            if (c.unicode() < 0x20)
                json += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                json += c;
        }
    }
    json += u'"';
}

} // namespace

std::optional<ArchiveIndex> ArchiveIndex::decode(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    ArchiveIndex index;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        auto entry = decodeEntry(it.value());
        if (!entry)
            return std::nullopt;
        index.put(it.key(), *entry);
    }
    return index;
}

std::optional<ArchiveIndex> ArchiveIndex::load(const QString& filePath, QString& unreadable)
{
    unreadable.clear();
    const QFileInfo info(filePath);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    const QString name = info.fileName();
    QFile file(filePath);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        unreadable = info.isDir() ? QStringLiteral("%1 is a folder, not a file").arg(name)
                                  : QStringLiteral("%1 could not be opened (%2)").arg(name, file.errorString());
        return std::nullopt;
    }
    auto index = decode(file.readAll());
    if (!index)
        unreadable = QStringLiteral("%1 is damaged").arg(name);
    return index;
}

QString ArchiveIndex::normalisedPath(const QString& relativePath)
{
    if (relativePath.isEmpty() || QDir::isAbsolutePath(relativePath) || relativePath.contains(u'\\'))
        return {};
    const QString cleaned = QDir::cleanPath(relativePath);
    if (cleaned == QLatin1String(".") || cleaned == QLatin1String("..") || cleaned.startsWith(QLatin1String("../")))
        return {};
    return cleaned;
}

QByteArray ArchiveIndex::encode() const
{
    // Written by hand rather than through QJsonObject, whose sorted inserts make a large index
    // quadratic to build; the layout is the one QJsonDocument::Indented produces.
    if (m_entries.isEmpty())
        return QByteArrayLiteral("{\n}\n");
    QString json;
    json.reserve(m_entries.size() * 260);
    json += u"{\n";
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        const ArchiveIndexEntry& entry = it.value();
        json += u"    ";
        appendJsonString(json, it.key());
        json += u": {\n        \"date\": \"";
        json += ArchiveMarkdown::isoDate(entry.date);
        json += u"\",\n        \"durationMinutes\": ";
        json += QString::number(entry.durationMinutes);
        json += u",\n        \"hasSummary\": ";
        json += entry.hasSummary ? u"true" : u"false";
        if (entry.keepsPath)
            json += u",\n        \"keepsPath\": true";
        json += u",\n        \"path\": ";
        appendJsonString(json, entry.path);
        if (entry.replaces) {
            json += u",\n        \"replaces\": ";
            appendJsonString(json, *entry.replaces);
        }
        json += u",\n        \"title\": ";
        appendJsonString(json, entry.title);
        json += std::next(it) == m_entries.end() ? u"\n    }\n" : u"\n    },\n";
    }
    json += u"}\n";
    return json.toUtf8();
}

std::optional<QString> ArchiveIndex::save(const QString& filePath) const
{
    return replaceFileContents(filePath, encode());
}

std::optional<ArchiveIndexEntry> ArchiveIndex::entry(const QString& id) const
{
    const auto it = m_entries.constFind(id);
    if (it == m_entries.constEnd())
        return std::nullopt;
    return it.value();
}

bool ArchiveIndex::pathTakenByOther(const QString& path, const QString& id) const
{
    const QString key = normalisedPath(path);
    for (auto it = m_idsByPath.constFind(key); it != m_idsByPath.constEnd() && it.key() == key; ++it) {
        if (it.value() != id)
            return true;
    }
    return false;
}

void ArchiveIndex::put(const QString& id, const ArchiveIndexEntry& entry)
{
    take(id);
    m_entries.insert(id, entry);
    m_idsByPath.insert(normalisedPath(entry.path), id);
}

std::optional<ArchiveIndexEntry> ArchiveIndex::take(const QString& id)
{
    const auto it = m_entries.find(id);
    if (it == m_entries.end())
        return std::nullopt;
    ArchiveIndexEntry entry = it.value();
    m_entries.erase(it);
    m_idsByPath.remove(normalisedPath(entry.path), id);
    return entry;
}
