#include "platform/AutostartEntry.h"

#include "platform/AppIdentity.h"
#include "platform/FileReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Exec= quoting of the desktop entry format: an argument with reserved characters goes in
// double quotes with ", `, $ and \ escaped; then the value's own escaping doubles every
// backslash, and % is written %%.
QString execValue(const QString& path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : path)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString argument = path;
    if (needsQuotes) {
        QString quoted;
        for (const QChar c : path) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        argument = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return argument;
}

} // namespace

namespace AutostartEntry {

QString defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart/")
        + AppIdentity::bundleIdentifier() + QStringLiteral(".desktop");
}

Result<void, Error> install(const QString& path, const QString& execPath)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return Error { QStringLiteral("Cannot create the folder %1").arg(folder) };
    const QByteArray content = QStringLiteral("[Desktop Entry]\n"
                                              "Type=Application\n"
                                              "Name=Quillet\n"
                                              "Exec=%1\n"
                                              "Icon=quillet\n"
                                              "Terminal=false\n"
                                              "X-GNOME-Autostart-enabled=true\n")
                                   .arg(execValue(execPath))
                                   .toUtf8();
    if (const auto failure = replaceFileContents(path, content))
        return Error { *failure };
    return Result<void, Error>::success();
}

Result<void, Error> uninstall(const QString& path)
{
    QFile file(path);
    if (file.exists() && !file.remove())
        return Error { QStringLiteral("%1: %2").arg(path, file.errorString()) };
    return Result<void, Error>::success();
}

} // namespace AutostartEntry
