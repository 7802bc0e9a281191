#include "storage/Speaker.h"

#include <QHash>

Speaker Speaker::me()
{
    return { Kind::Me, {} };
}

Speaker Speaker::them()
{
    return { Kind::Them, {} };
}

Speaker Speaker::other(const QString& name)
{
    return { Kind::Other, name };
}

std::optional<Speaker> Speaker::fromRawValue(const QString& rawValue)
{
    if (rawValue == QLatin1String("Me"))
        return me();
    if (rawValue == QLatin1String("Them"))
        return them();
    if (rawValue.isEmpty())
        return std::nullopt;
    return other(rawValue);
}

QString Speaker::rawValue() const
{
    switch (kind) {
    case Kind::Me:
        return QStringLiteral("Me");
    case Kind::Them:
        return QStringLiteral("Them");
    case Kind::Other:
        break;
    }
    return name;
}

QString Speaker::transcriptLabel() const
{
    switch (kind) {
    case Kind::Me:
        return QStringLiteral("Speaker A");
    case Kind::Them:
        return QStringLiteral("Speaker B");
    case Kind::Other:
        break;
    }
    return name;
}

size_t qHash(const Speaker& speaker, size_t seed) noexcept
{
    const QString name = speaker.kind == Speaker::Kind::Other ? speaker.name : QString();
    return qHashMulti(seed, static_cast<int>(speaker.kind), name);
}
