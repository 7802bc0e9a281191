#include "chat/StreamedPost.h"

#include "network/ReplyLimiter.h"
#include "network/TransportError.h"
#include "platform/Scheduler.h"

#include <QSslSocket>

namespace {

constexpr qsizetype kMaxHeadSize = 64 * 1024;

bool headerIs(const QByteArray& name, const char* wanted)
{
    return name.trimmed().compare(wanted, Qt::CaseInsensitive) == 0;
}

} // namespace

StreamedPost::StreamedPost(const QUrl& url, const Headers& headers, const QByteArray& body, const Limits& limits,
    Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , m_url(url)
    , m_headers(headers)
    , m_body(body)
    , m_limits(limits)
    , m_scheduler(scheduler)
{
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, &StreamedPost::giveUp);
}

StreamedPost::~StreamedPost()
{
    shutDown();
}

void StreamedPost::start()
{
    if (m_stage != Stage::Idle)
        return;
    const bool secure = m_url.scheme() == QLatin1String("https");
    if (!secure && m_url.scheme() != QLatin1String("http")) {
        // Reported from the event loop, like every other outcome.
        m_stage = Stage::Connecting;
        QMetaObject::invokeMethod(
            this, [this] { fail(QStringLiteral("Unsupported URL")); }, Qt::QueuedConnection);
        return;
    }
    m_stage = Stage::Connecting;
    // Plain requests (the local test services) need no TLS library at all.
    QSslSocket* secureSocket = secure ? new QSslSocket(this) : nullptr;
    m_socket = secure ? secureSocket : new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &StreamedPost::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &StreamedPost::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // A close by the server is judged by the framing of what came before it.
        if (error == QAbstractSocket::RemoteHostClosedError)
            onDisconnected();
        else
            fail(TransportError::ofSocket(error, m_socket->errorString()).description());
    });
    if (secureSocket) {
        connect(secureSocket, &QSslSocket::encrypted, this, &StreamedPost::sendRequest);
        secureSocket->connectToHostEncrypted(m_url.host(), quint16(m_url.port(443)));
    } else {
        connect(m_socket, &QTcpSocket::connected, this, &StreamedPost::sendRequest);
        m_socket->connectToHost(m_url.host(), quint16(m_url.port(80)));
    }
    m_idleTimer.start(m_limits.idleTimeout);
    // Not cancelled: once the request has ended, giveUp() does nothing, and the call goes with
    // this object.
    m_scheduler.schedule(m_limits.deadline, this, [this] { giveUp(); });
}

void StreamedPost::abort()
{
    m_stage = Stage::Done;
    shutDown();
}

void StreamedPost::sendRequest()
{
    QByteArray target = m_url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (m_url.hasQuery())
        target += '?' + m_url.query(QUrl::FullyEncoded).toLatin1();
    const bool defaultPort = m_url.port() == -1;
    QByteArray host = m_url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (!defaultPort)
        host += ':' + QByteArray::number(m_url.port());

    QByteArray request = "POST " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const auto& [name, value] : std::as_const(m_headers))
        request += name + ": " + value + "\r\n";
    request += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n";
    request += m_body;
    m_stage = Stage::Head;
    m_socket->write(request);
    m_idleTimer.start(m_limits.idleTimeout);
}

void StreamedPost::onReadyRead()
{
    if (!m_socket || m_stage == Stage::Done)
        return;
    m_buffer += m_socket->readAll();
    m_idleTimer.start(m_limits.idleTimeout);
    process();
}

void StreamedPost::onDisconnected()
{
    if (!m_socket || m_stage == Stage::Done)
        return;
    m_buffer += m_socket->readAll();
    process();
    if (m_stage == Stage::Done)
        return;
    if (m_stage == Stage::UntilClose) {
        succeed();
        return;
    }
    fail(m_stage == Stage::Connecting || m_stage == Stage::Head
            ? QStringLiteral("The server closed the connection without answering.")
            : QStringLiteral("The connection closed before the answer was complete."));
}

void StreamedPost::process()
{
    readBuffered();
    // What was read goes in one move, not one move per piece.
    m_buffer.remove(0, m_offset);
    m_headScanned = std::max<qsizetype>(0, m_headScanned - m_offset);
    m_offset = 0;
}

void StreamedPost::readBuffered()
{
    // Every emit may end this request (a listener may abort it), so the stage is checked again.
    while (m_stage != Stage::Done) {
        const QByteArrayView unread = QByteArrayView(m_buffer).sliced(m_offset);
        switch (m_stage) {
        case Stage::Head:
            if (!parseHead())
                return;
            break;
        case Stage::ChunkSize: {
            const qsizetype end = framingLineEnd(unread);
            if (end < 0)
                return;
            QByteArrayView sizeText = unread.first(end);
            if (const qsizetype extension = sizeText.indexOf(';'); extension >= 0)
                sizeText.truncate(extension);
            bool ok = false;
            m_remaining = sizeText.trimmed().toLongLong(&ok, 16);
            m_offset += end + 2;
            if (!ok || m_remaining < 0) {
                fail(QStringLiteral("The server's reply could not be read."));
                return;
            }
            m_stage = m_remaining == 0 ? Stage::Trailer : Stage::ChunkData;
            break;
        }
        case Stage::ChunkData:
        case Stage::Length: {
            if (m_stage == Stage::Length && m_remaining == 0) {
                succeed();
                break;
            }
            if (unread.isEmpty())
                return;
            const QByteArrayView piece = unread.first(std::min<qint64>(unread.size(), m_remaining));
            m_offset += piece.size();
            m_remaining -= piece.size();
            if (m_stage == Stage::ChunkData && m_remaining == 0)
                m_stage = Stage::ChunkEnd;
            emitBody(piece.toByteArray());
            break;
        }
        case Stage::ChunkEnd:
            if (unread.size() < 2)
                return;
            m_offset += 2;
            m_stage = Stage::ChunkSize;
            break;
        case Stage::Trailer: {
            // Trailer fields, if any, end with an empty line; their content is of no use here.
            const qsizetype end = framingLineEnd(unread);
            if (end < 0)
                return;
            m_offset += end + 2;
            m_trailerBytes += end + 2;
            if (m_trailerBytes > kMaxHeadSize)
                fail(RequestLimits::tooLargeText());
            else if (end == 0)
                succeed();
            break;
        }
        case Stage::UntilClose:
            if (unread.isEmpty())
                return;
            m_offset = m_buffer.size();
            emitBody(unread.toByteArray());
            break;
        case Stage::Idle:
        case Stage::Connecting:
        case Stage::Done:
            return;
        }
    }
}

qsizetype StreamedPost::framingLineEnd(QByteArrayView unread)
{
    const qsizetype end = unread.first(std::min(unread.size(), kMaxFramingLine + 2)).indexOf("\r\n");
    if (end < 0 && unread.size() >= kMaxFramingLine + 2) {
        fail(RequestLimits::tooLargeText());
        return -2;
    }
    return end;
}

bool StreamedPost::parseHead()
{
    // Only the bytes that came since the last look are searched (less the three that may
    // begin the blank line).
    const QByteArrayView unread = QByteArrayView(m_buffer).sliced(m_offset);
    const qsizetype end = unread.indexOf("\r\n\r\n", std::max<qsizetype>(0, m_headScanned - m_offset - 3));
    if (end < 0) {
        m_headScanned = m_buffer.size();
        if (unread.size() > kMaxHeadSize)
            fail(QStringLiteral("The server's reply could not be read."));
        return false;
    }
    const QList<QByteArray> lines = unread.first(end).toByteArray().split('\n');
    m_offset += end + 4;
    m_headScanned = m_offset;

    const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
    bool ok = false;
    const int status = statusLine.size() >= 2 ? statusLine.at(1).toInt(&ok) : 0;
    if (!statusLine.first().startsWith("HTTP/1.") || !ok) {
        fail(QStringLiteral("The server's reply could not be read."));
        return false;
    }
    if (status >= 100 && status < 200)
        return true; // an interim reply; the real head follows

    bool chunked = false;
    qint64 length = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = lines.at(i).left(colon);
        const QByteArray value = lines.at(i).mid(colon + 1).trimmed();
        if (headerIs(name, "Transfer-Encoding"))
            chunked = value.toLower().contains("chunked");
        else if (headerIs(name, "Content-Length")) {
            const qint64 parsed = value.toLongLong(&ok);
            length = ok && parsed >= 0 ? parsed : -1;
        }
    }
    if (chunked) {
        m_stage = Stage::ChunkSize;
    } else if (length >= 0) {
        m_stage = Stage::Length;
        m_remaining = length;
    } else {
        m_stage = Stage::UntilClose;
    }
    const QPointer<StreamedPost> alive(this);
    emit headReceived(status);
    return alive && m_stage != Stage::Done;
}

void StreamedPost::emitBody(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    m_bodyBytes += bytes.size();
    if (m_bodyBytes > m_limits.maxBodyBytes) {
        fail(RequestLimits::tooLargeText());
        return;
    }
    emit bodyReceived(bytes);
}

void StreamedPost::succeed()
{
    m_stage = Stage::Done;
    shutDown();
    emit finished();
}

void StreamedPost::fail(const QString& description)
{
    if (m_stage == Stage::Done)
        return;
    m_stage = Stage::Done;
    shutDown();
    emit failed(description);
}

void StreamedPost::giveUp()
{
    if (m_stage == Stage::Done)
        return;
    m_stage = Stage::Done;
    shutDown();
    emit timedOut();
}

void StreamedPost::shutDown()
{
    m_idleTimer.stop();
    if (QTcpSocket* socket = std::exchange(m_socket, nullptr)) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}
