#include "platform/UrlRouter.h"

#include "platform/AppIdentity.h"
#include "platform/Log.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <memory>

namespace {

// Longer lines are not URLs we hand out: they are refused, and never kept while they arrive.
constexpr qsizetype kMaxLineBytes = 64 * 1024;
constexpr int kConnectWaitMs = 1000;
// How long a later start waits for an answer before it says that it waits.
constexpr int kAnswerNoticeMs = 1000;
// A later start sends its line as soon as it is connected; a connection that has not sent a
// whole line by then is closed, so that idle connections cannot pile up.
constexpr std::chrono::seconds kLineTimeLimit { 5 };
const QByteArray kAck = QByteArrayLiteral("ok\n");
const QByteArray kRefused = QByteArrayLiteral("refused\n");
// Not a URL of our scheme, so it cannot be mistaken for one.
const QByteArray kShowWindow = QByteArrayLiteral("show-window");

// QUrl lowercases schemes; what comes from outside must carry the scheme exactly as ours.
bool hasExactScheme(const QString& text, const QStringList& redirectSchemes)
{
    if (text.startsWith(UrlRouter::kScheme + QLatin1Char(':')))
        return true;
    for (const QString& scheme : redirectSchemes)
        if (!scheme.isEmpty() && text.startsWith(scheme + QLatin1Char(':')))
            return true;
    return false;
}

// The redirect scheme that the URL is of, as spelled where it was configured.
std::optional<QString> redirectSchemeOf(const QUrl& url, const QStringList& redirectSchemes)
{
    if (!url.isValid())
        return std::nullopt;
    for (const QString& scheme : redirectSchemes)
        if (!scheme.isEmpty() && url.scheme() == scheme.toLower())
            return scheme;
    return std::nullopt;
}

} // namespace

UrlRouter::UrlRouter(QObject* parent)
    : QObject(parent)
{ }

UrlRouter::~UrlRouter() = default;

void UrlRouter::setOAuthCallbackHandler(Handler handler)
{
    m_oauthHandler = std::move(handler);
}

void UrlRouter::setOpenUrlHandler(Handler handler)
{
    m_openUrlHandler = std::move(handler);
}

void UrlRouter::addRedirectScheme(const QString& scheme, Handler handler)
{
    if (!scheme.isEmpty())
        m_redirects.append({ scheme, std::move(handler) });
}

QStringList UrlRouter::redirectSchemes() const
{
    QStringList schemes;
    for (const auto& [scheme, handler] : m_redirects)
        schemes.append(scheme);
    return schemes;
}

QString UrlRouter::loggableForm(const QUrl& url)
{
    if (url.host().isEmpty())
        return url.scheme() + QLatin1Char(':');
    return url.scheme() + QStringLiteral("://") + url.host();
}

void UrlRouter::route(const QUrl& url)
{
    if (const std::optional<QString> redirect = redirectSchemeOf(url, redirectSchemes())) {
        // The query carries the authorisation code.
        Log::line("[Quillet] Opened URL %@", *redirect + QLatin1Char(':'));
        for (const auto& [scheme, handler] : m_redirects)
            if (scheme == *redirect && handler)
                handler(url);
        return;
    }
    if (!url.isValid() || url.scheme() != kScheme) {
        Log::line("[Quillet] Ignored URL with scheme %@", url.scheme());
        return;
    }
    const QString loggable = loggableForm(url);
    Log::line("[Quillet] Opened URL %@", loggable);
    const Handler& handler = url.host() == QLatin1String("callback") ? m_oauthHandler : m_openUrlHandler;
    if (!handler) {
        Log::line("[Quillet] No handler for URL %@", loggable);
        return;
    }
    handler(url);
}

QString UrlRouter::defaultServerName()
{
    return storeServerName({});
}

QString UrlRouter::storeServerName(const QString& storeKey)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    const QString store = storeKey.isEmpty() ? QString() : QLatin1Char('.') + storeKey;
    return folder + QLatin1Char('/') + AppIdentity::bundleIdentifier() + store + QStringLiteral(".urls");
}

std::optional<QUrl> UrlRouter::urlFromArguments(const QStringList& arguments, const QStringList& redirectSchemes)
{
    for (const QString& argument : arguments) {
        const QUrl url(argument, QUrl::StrictMode);
        if (hasExactScheme(argument, redirectSchemes) && url.isValid())
            return url;
    }
    return std::nullopt;
}

bool UrlRouter::listen(const QString& serverName)
{
    if (m_server)
        return m_server->isListening();
    // Listening with access options replaces an existing socket file without complaint, so
    // ask first whether another instance answers there.
    {
        QLocalSocket probe;
        probe.connectToServer(serverName);
        if (probe.waitForConnected(kConnectWaitMs)) {
            probe.abort();
            return false;
        }
    }
    // Nobody answers: any socket file left is a crashed process's, and is taken over.
    QLocalServer::removeServer(serverName);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const bool listening = m_server->listen(serverName);
    if (!listening) {
        Log::line("[Quillet] URL listener failed: %@", m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &UrlRouter::readConnection);
    return true;
}

// One connection from a later start: its one line, read as it arrives.
struct UrlRouter::Connection
{
    QLocalSocket* socket = nullptr;
    bool tooLong = false; // the line passed the limit: what comes of it is dropped
    bool answered = false;
};

void UrlRouter::readConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Buffered up to one byte past the limit: a full buffer without a line end is too long.
        socket->setReadBufferSize(kMaxLineBytes + 1);
        auto connection = std::make_shared<Connection>(Connection { socket });
        auto* limit = new QTimer(socket);
        limit->setSingleShot(true);
        connect(socket, &QLocalSocket::readyRead, this, [this, connection] { serve(*connection); });
        connect(limit, &QTimer::timeout, this, [this, connection] {
            // A busy main thread may get here late, with the line already waiting unread.
            QLocalSocket* socket = connection->socket;
            socket->waitForReadyRead(0);
            serve(*connection);
            if (connection->answered)
                return;
            Log::line("[Quillet] Closed a connection that sent no URL in time");
            socket->abort();
            socket->deleteLater();
        });
        limit->start(kLineTimeLimit);
        serve(*connection);
    }
}

void UrlRouter::serve(Connection& connection)
{
    QLocalSocket* socket = connection.socket;
    if (!connection.answered) {
        if (socket->canReadLine()) {
            const QByteArray line = socket->readLine().trimmed();
            connection.answered = true;
            if (connection.tooLong) {
                Log::line("[Quillet] Refused a URL longer than %d bytes from another start", kMaxLineBytes);
                socket->write(kRefused);
                socket->flush();
                socket->disconnectFromServer();
                return;
            }
            socket->write(kAck);
            socket->flush();
            socket->disconnectFromServer();
            if (line == kShowWindow) {
                emit mainWindowRequested();
                return;
            }
            const QString text = QString::fromUtf8(line);
            if (hasExactScheme(text, redirectSchemes()))
                route(QUrl::fromEncoded(line, QUrl::StrictMode));
            else
                Log::line("[Quillet] Ignored URL with scheme %@", QUrl(text).scheme());
            emit urlReceived();
            return;
        }
        if (!connection.tooLong && socket->bytesAvailable() <= kMaxLineBytes)
            return; // more is coming
        // Never cut to the limit and used: dropped as it comes (no line end is buffered yet),
        // then refused at its end.
        connection.tooLong = true;
        static_cast<void>(socket->read(socket->bytesAvailable()));
    }
}

std::optional<QByteArray> UrlRouter::lineFor(const QUrl& url, const QStringList& redirectSchemes)
{
    const std::optional<QString> redirect = redirectSchemeOf(url, redirectSchemes);
    if (!redirect && (!url.isValid() || url.scheme() != kScheme))
        return std::nullopt;
    QByteArray text = url.toEncoded();
    // The receiving side wants the scheme spelled as it was configured, not in QUrl's lower case.
    if (redirect)
        text.replace(0, redirect->size(), redirect->toUtf8());
    return text;
}

UrlRouter::HandOver UrlRouter::forwardToRunningInstance(
    const QUrl& url, const QStringList& redirectSchemes, const QString& serverName)
{
    const std::optional<QByteArray> line = lineFor(url, redirectSchemes);
    return line ? sendLine(*line, serverName) : HandOver::NoAnswer;
}

UrlRouter::HandOver UrlRouter::handOverToRunningInstance(const QStringList& arguments,
    const QStringList& redirectSchemes, const QString& serverName, const std::function<bool()>& keepWaiting)
{
    if (const std::optional<QUrl> url = urlFromArguments(arguments, redirectSchemes)) {
        const std::optional<QByteArray> line = lineFor(*url, redirectSchemes);
        return line ? sendLine(*line, serverName, keepWaiting) : HandOver::NoAnswer;
    }
    return sendLine(kShowWindow, serverName, keepWaiting);
}

UrlRouter::HandOver UrlRouter::sendLine(
    const QByteArray& line, const QString& serverName, const std::function<bool()>& keepWaiting)
{
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(kConnectWaitMs))
        return HandOver::NoAnswer;
    socket.write(line + '\n');
    // The running instance answers when its main thread is free, which can take long (a large
    // import, a debugger). Giving up would start a second instance beside it.
    bool saidSo = false;
    while (!socket.canReadLine()) {
        if (socket.waitForReadyRead(kAnswerNoticeMs))
            continue;
        if (socket.state() != QLocalSocket::ConnectedState || (keepWaiting && !keepWaiting()))
            return HandOver::NoAnswer;
        if (!saidSo) {
            Log::line("[Quillet] Waiting for the running instance to answer");
            saidSo = true;
        }
    }
    const QByteArray answer = socket.readLine();
    if (answer == kAck)
        return HandOver::Accepted;
    return answer == kRefused ? HandOver::Refused : HandOver::NoAnswer;
}
