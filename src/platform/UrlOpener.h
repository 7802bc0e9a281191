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

    // A call app's own link: "facetime:" with no host, or the scheme a call service's desktop
    // app registers, on that service's own host (or a subdomain of it) and without user info.
    // Each scheme counts only with its own service's host: "zoommtg://example.com" is not
    // Zoom's, and a scheme is a program to run, so no guessed ones.
    static bool isCallAppLink(const QUrl& url)
    {
        if (!url.isValid())
            return false;
        const QString scheme = url.scheme();
        const QString host = url.host().toLower();
        if (host.isEmpty())
            return scheme == QLatin1String("facetime");
        if (!url.userInfo().isEmpty())
            return false;
        struct AppScheme
        {
            QLatin1String scheme;
            QLatin1String host;
        };
        static constexpr AppScheme kAppSchemes[] {
            { QLatin1String("zoommtg"), QLatin1String("zoom.us") },
            { QLatin1String("zoomus"), QLatin1String("zoom.us") },
            { QLatin1String("msteams"), QLatin1String("teams.microsoft.com") },
            { QLatin1String("msteams"), QLatin1String("teams.live.com") },
        };
        for (const AppScheme& app : kAppSchemes) {
            if (scheme != app.scheme)
                continue;
            if (host == app.host || (host.endsWith(app.host) && host.at(host.size() - app.host.size() - 1) == u'.'))
                return true;
        }
        return false;
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
