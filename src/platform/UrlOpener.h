#pragma once

#include <QUrl>

// Opens a web page in the user's browser. The application uses DesktopUrlOpener; tests pass
// a recorder that fetches or keeps the URL instead.
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;

    // False when no browser could be asked to open it.
    virtual bool open(const QUrl& url) = 0;
};
