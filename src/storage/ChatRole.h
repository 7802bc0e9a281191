#pragma once

#include <QString>

enum class ChatRole { User, Assistant };

QString chatRoleRawValue(ChatRole role);
// Exact, case-sensitive: only "assistant" is the assistant; every other value is the user.
ChatRole chatRoleFromRawValue(const QString& rawValue);
