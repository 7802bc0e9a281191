#pragma once

#include <QString>
#include <QUrl>

// Appends a path below a base URL, keeping whatever path the base already has: a base of
// "https://host/api" and "v1/me" (or "/v1/me") give "https://host/api/v1/me". QUrl::resolved
// would drop the base's last segment instead. With QUrl::DecodedMode the path is taken as plain
// text, every "%" included, and encoded exactly once.
inline QUrl appendingPath(const QUrl& base, const QString& path, QUrl::ParsingMode mode = QUrl::TolerantMode)
{
    QString joined = base.path();
    while (joined.endsWith(QLatin1Char('/')))
        joined.chop(1);
    if (!path.startsWith(QLatin1Char('/')))
        joined += QLatin1Char('/');
    joined += path;
    QUrl url = base;
    url.setPath(joined, mode);
    return url;
}
