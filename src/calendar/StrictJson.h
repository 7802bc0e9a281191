#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Reads one JSON object as a typed record, strictly: a required key must hold a value of its
// JSON type (true is a Bool, 1 is not; 3599.5 is no integer), an optional key may also be absent
// or null, and anything else spoils the whole record: ok() turns false and stays false. Unknown
// keys are ignored. Nested records and lists of records are read by a function of their own.
//
//   StrictJson json(value);
//   Entry entry { json.string("id"), json.optionalString("summary"), json.optionalBool("primary") };
//   if (!json.ok()) return std::nullopt;
class StrictJson final
{
public:
    template <typename T> using Reader = std::function<std::optional<T>(const QJsonValue&)>;

    // Not an object: ok() is false from the start.
    explicit StrictJson(const QJsonValue& value);

    // The body's one top-level object; nothing when the body is no JSON object.
    static std::optional<QJsonObject> parseObject(const QByteArray& body);

    bool ok() const { return m_ok; }

    QString string(const char* key);
    qint64 integer(const char* key);
    QStringList stringList(const char* key);
    template <typename T> QList<T> list(const char* key, const Reader<T>& read)
    {
        return optionalList(key, read, false).value_or(QList<T> {});
    }

    std::optional<QString> optionalString(const char* key);
    std::optional<bool> optionalBool(const char* key);
    template <typename T> std::optional<T> optionalRecord(const char* key, const Reader<T>& read)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (isAbsent(value))
            return std::nullopt;
        std::optional<T> record = read(value);
        m_ok = m_ok && record.has_value();
        return record;
    }
    template <typename T> std::optional<QList<T>> optionalList(const char* key, const Reader<T>& read)
    {
        return optionalList(key, read, true);
    }

private:
    static bool isAbsent(const QJsonValue& value) { return value.isUndefined() || value.isNull(); }

    // A value that is absent (or null) where allowed reads as nothing; any other value that
    // does not pass `matches` spoils the record.
    std::optional<QJsonValue> take(const char* key, bool optional, bool (*matches)(const QJsonValue&));

    template <typename T> std::optional<QList<T>> optionalList(const char* key, const Reader<T>& read, bool optional)
    {
        const std::optional<QJsonValue> value = take(key, optional, [](const QJsonValue& v) { return v.isArray(); });
        if (!value)
            return std::nullopt;
        QList<T> items;
        const QJsonArray array = value->toArray();
        items.reserve(array.size());
        for (const QJsonValue& element : array) {
            std::optional<T> item = read(element);
            if (!item) {
                m_ok = false;
                return std::nullopt;
            }
            items.append(std::move(*item));
        }
        return items;
    }

    QJsonObject m_object;
    bool m_ok;
};
