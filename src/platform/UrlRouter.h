#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

class QLocalServer;

// Routes "quillet:" URLs opened into the application, and keeps it a single instance: the
// first process listens on a local socket in the user's runtime folder, and a later process
// hands over there and exits: its URL, or, started without one, a request to bring the main
// window back. "quillet://callback" goes to the waiting provider sign-in, every other
// "quillet:" URL to the open-URL handler. A redirect scheme (the Google sign-in's) is accepted
// wherever "quillet" is, and its URLs go to their own handler; URLs of any other scheme are
// ignored. URLs can carry sign-in tokens and codes: only scheme and host of a "quillet:" URL,
// and only the scheme of a redirect, are ever logged.
//
// Schemes are compared as spelled where a URL arrives as text (command line, socket); QUrl
// keeps a scheme in lower case.
class UrlRouter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UrlRouter)

public:
    using Handler = std::function<void(const QUrl&)>;

    static inline const QString kScheme = QStringLiteral("quillet");

    explicit UrlRouter(QObject* parent = nullptr);
    ~UrlRouter() override;

    void setOAuthCallbackHandler(Handler handler);
    void setOpenUrlHandler(Handler handler);
    // Accepts the URLs of one more scheme and hands them to handler. An empty scheme is ignored.
    void addRedirectScheme(const QString& scheme, Handler handler);

    // Hands the URL to its handler; a URL with no handler registered is dropped (logged).
    void route(const QUrl& url);

    // Accepts URLs from later processes. False when the socket cannot be opened (another
    // instance already listens there). A connection gets a few seconds to send its line; a
    // line longer than 64 KB is refused (answered, logged, never used).
    bool listen(const QString& serverName = defaultServerName());

    // How the running instance answered a hand-over.
    enum class HandOver {
        Accepted,
        Refused, // a link longer than the instance takes: it was not used
        NoAnswer, // nobody listens there, or the connection closed unanswered
    };

    // Sends a "quillet:" URL, or one of the redirect schemes, to the instance listening on
    // serverName. Once connected it waits as long as the instance takes to answer (its main
    // thread may be busy), logging that it waits after a second; meant for start-up, before
    // the event loop runs.
    static HandOver forwardToRunningInstance(
        const QUrl& url, const QStringList& redirectSchemes = {}, const QString& serverName = defaultServerName());

    // What a later process does before anything else: hands the first "quillet:" URL (or URL of
    // a redirect scheme) among its arguments to the running instance, or, without one, asks it
    // for its main window, waiting for the answer as forwardToRunningInstance() does. While it
    // waits, keepWaiting (when given) is asked about once a second; false gives up (NoAnswer).
    static HandOver handOverToRunningInstance(const QStringList& arguments, const QStringList& redirectSchemes = {},
        const QString& serverName = defaultServerName(), const std::function<bool()>& keepWaiting = {});

    // <runtime folder>/<bundle identifier>.urls
    static QString defaultServerName();
    // <runtime folder>/<bundle identifier>.<key>.urls: where the instance that holds the store of
    // that key (InstanceLock::storeKey) listens.
    static QString storeServerName(const QString& storeKey);

    // The first "quillet:" URL, or URL of one of the redirect schemes, among command-line
    // arguments (with or without the program name: a program path never starts with a scheme).
    static std::optional<QUrl> urlFromArguments(const QStringList& arguments, const QStringList& redirectSchemes = {});

    // "quillet://auth" for "quillet://auth?token=…": what may be logged of a URL.
    static QString loggableForm(const QUrl& url);

signals:
    // A URL arrived from another process (after it was routed).
    void urlReceived();
    // A later process started without a URL asks for the main window.
    void mainWindowRequested();

private:
    struct Connection;

    void readConnection();
    void serve(Connection& connection);
    // The text a URL is handed over as; none for a URL of no scheme of ours.
    static std::optional<QByteArray> lineFor(const QUrl& url, const QStringList& redirectSchemes);
    static HandOver sendLine(
        const QByteArray& line, const QString& serverName, const std::function<bool()>& keepWaiting = {});
    QStringList redirectSchemes() const;

    Handler m_oauthHandler;
    Handler m_openUrlHandler;
    QList<std::pair<QString, Handler>> m_redirects;
    QLocalServer* m_server = nullptr;
};
