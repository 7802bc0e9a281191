#pragma once

#include <QString>
#include <QUrl>
#include <functional>

// Opens a web page in the user's browser, or a folder in the file manager. The application uses
// DesktopUrlOpener; tests pass a recorder that fetches or keeps the URL instead.
class UrlOpener
{
public:
    // Runs later, on the main thread, when the desktop could not open what it was handed.
    using Failed = std::function<void()>;

    virtual ~UrlOpener() = default;

    // False when the link may not be opened or no browser could be asked to open it. A browser
    // that fails once asked is reported through `failed` (at most once, never from inside
    // open()).
    virtual bool open(const QUrl& url, Failed failed) = 0;
    bool open(const QUrl& url) { return open(url, {}); }

    // A folder the application made itself (the archive); no link from outside comes here.
    virtual bool openFolder(const QString& path) = 0;

    // An absolute http(s) address with a host and no user info. QUrl calls almost any text
    // valid, and other schemes reach other handlers ("quillet:" signs the user in, "file:" runs
    // what it names). Credentials written into a link would be sent to the site unasked, or hide
    // where it leads ("https://zoom.us:x@example.com").
    static bool isWebPage(const QUrl& url)
    {
        const QString scheme = url.scheme().toLower();
        return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
            && !url.host().isEmpty() && url.userInfo().isEmpty();
    }

    // A call app's own link: "facetime:" with no host.
    static bool isCallAppLink(const QUrl& url)
    {
        return url.isValid() && url.scheme() == QLatin1String("facetime") && url.host().isEmpty();
    }

    // The only links taken from text the application did not write itself (an invitation, a
    // model's answer, a server's reply) that the desktop may be asked to open: web pages, mail
    // addresses and call apps' links.
    static bool mayOpen(const QUrl& url)
    {
        return isWebPage(url) || isCallAppLink(url)
            || (url.isValid() && url.scheme() == QLatin1String("mailto") && url.host().isEmpty());
    }
};
