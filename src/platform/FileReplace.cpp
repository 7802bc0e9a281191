#include "platform/FileReplace.h"

#include <QSaveFile>

std::optional<QString> replaceFileContents(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    const auto failed = [&] {
        const QString reason = file.errorString();
        file.cancelWriting();
        return QStringLiteral("%1: %2").arg(path, reason);
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed();
    if (file.write(content) != content.size() || !file.flush())
        return failed();
    if (!file.commit())
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    return std::nullopt;
}
