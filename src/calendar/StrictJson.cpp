#include "calendar/StrictJson.h"

#include <QJsonDocument>
#include <cmath>

namespace {

// Integers beyond this are not exact in a JSON number read as a double.
constexpr double kLargestExactInteger = 9007199254740992.0; // 2^53

bool isInteger(const QJsonValue& value)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    return std::isfinite(number) && std::trunc(number) == number && std::fabs(number) <= kLargestExactInteger;
}

} // namespace

StrictJson::StrictJson(const QJsonValue& value)
    : m_object(value.toObject())
    , m_ok(value.isObject())
{ }

std::optional<QJsonObject> StrictJson::parseObject(const QByteArray& body)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<QJsonValue> StrictJson::take(const char* key, bool optional, bool (*matches)(const QJsonValue&))
{
    const QJsonValue value = m_object.value(QLatin1String(key));
    if (optional && isAbsent(value))
        return std::nullopt;
    if (!matches(value)) {
        m_ok = false;
        return std::nullopt;
    }
    return value;
}

QString StrictJson::string(const char* key)
{
    return take(key, false, [](const QJsonValue& v) { return v.isString(); }).value_or(QJsonValue()).toString();
}

qint64 StrictJson::integer(const char* key)
{
    return qint64(take(key, false, isInteger).value_or(QJsonValue(0)).toDouble());
}

QStringList StrictJson::stringList(const char* key)
{
    return list<QString>(
        key, [](const QJsonValue& v) { return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt; });
}

std::optional<QString> StrictJson::optionalString(const char* key)
{
    const std::optional<QJsonValue> value = take(key, true, [](const QJsonValue& v) { return v.isString(); });
    return value ? std::optional<QString>(value->toString()) : std::nullopt;
}

std::optional<bool> StrictJson::optionalBool(const char* key)
{
    const std::optional<QJsonValue> value = take(key, true, [](const QJsonValue& v) { return v.isBool(); });
    return value ? std::optional<bool>(value->toBool()) : std::nullopt;
}
