#include "storage/ChatRole.h"

QString chatRoleRawValue(ChatRole role)
{
    return role == ChatRole::Assistant ? QStringLiteral("assistant") : QStringLiteral("user");
}

ChatRole chatRoleFromRawValue(const QString& rawValue)
{
    return rawValue == QLatin1String("assistant") ? ChatRole::Assistant : ChatRole::User;
}
