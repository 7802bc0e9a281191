#pragma once

// A bare HTTP listener on 127.0.0.1 for replies that no HTTP library sends on purpose: a body
// that never ends, or one that trickles in a byte at a time. Each request is read whole, then
// answered with `opening` (status line, headers, blank line and the start of the body), then
// `filler` over and over: as fast as the client takes it, or one byte per `tick`.
//
//   ScriptedHttpServer server({ "HTTP/1.1 200 OK\r\n\r\n{\"a\":\"", "x" });
//   cloud(server.url()).me(...);   // the reply never ends
//
// Runs on the thread that made it, which must run its event loop; mostWritten() and
// waitForWritten() may be called from any thread (a test whose own thread stays busy makes the
// server on a thread of its own).

#include <QByteArray>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

class ScriptedHttpServer final : public QObject
{
public:
    struct Script
    {
        QByteArray opening;
        QByteArray filler;
        std::chrono::milliseconds tick { 0 }; // 0: no pause between fillers
    };

    // Past this much body the server stops writing (and keeps the connection open), so that a
    // client without limits of its own fails its test instead of taking all memory.
    static constexpr qint64 kMostWritten = 128 * 1024 * 1024;

    explicit ScriptedHttpServer(Script script)
        : m_script(std::move(script))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    m_connections.remove(socket);
                    socket->deleteLater();
                });
            }
        });
    }

    QUrl url(const QString& path = {}) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    int requestCount() const { return m_requestCount; }
    // The most body written on one connection: what its client took in, kernel buffers aside.
    qint64 mostWritten() const { return m_mostWritten; }

    // Blocks until some connection has been written `bytes`, or until nothing more was written
    // for `stall` (the client stopped reading); returns mostWritten(). Call it from another
    // thread than the server's.
    qint64 waitForWritten(qint64 bytes, std::chrono::milliseconds stall)
    {
        std::unique_lock lock(m_progressMutex);
        qint64 seen = m_mostWritten;
        while (seen < bytes) {
            m_progress.wait_for(lock, stall, [&] { return m_mostWritten != seen; });
            if (m_mostWritten == seen)
                break;
            seen = m_mostWritten;
        }
        return seen;
    }

private:
    struct Connection
    {
        QByteArray request;
        bool answering = false;
        qint64 written = 0;
    };

    void readRequest(QTcpSocket* socket)
    {
        Connection& connection = m_connections[socket];
        connection.request += socket->readAll();
        const qsizetype headEnd = connection.request.indexOf("\r\n\r\n");
        if (connection.answering || headEnd < 0)
            return;
        qsizetype length = 0;
        for (const QByteArray& line : connection.request.left(headEnd).split('\n'))
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        if (connection.request.size() < headEnd + 4 + length)
            return;
        connection.answering = true;
        ++m_requestCount;
        socket->write(m_script.opening);
        if (m_script.tick.count() == 0) {
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { fill(socket); });
            fill(socket);
            return;
        }
        auto* timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [this, socket] {
            Connection& c = m_connections[socket];
            if (c.written < kMostWritten)
                socket->write(m_script.filler.mid(c.written++ % m_script.filler.size(), 1));
        });
        timer->start(m_script.tick);
    }

    void fill(QTcpSocket* socket)
    {
        Connection& connection = m_connections[socket];
        while (socket->bytesToWrite() < 256 * 1024 && connection.written < kMostWritten) {
            const QByteArray block
                = m_script.filler.repeated(std::max<qsizetype>(1, 64 * 1024 / m_script.filler.size()));
            socket->write(block);
            connection.written += block.size();
            if (connection.written > m_mostWritten) {
                {
                    std::lock_guard lock(m_progressMutex);
                    m_mostWritten = connection.written;
                }
                m_progress.notify_all();
            }
        }
    }

    Script m_script;
    QTcpServer m_server;
    QHash<QTcpSocket*, Connection> m_connections;
    int m_requestCount = 0;
    std::atomic<qint64> m_mostWritten = 0;
    std::mutex m_progressMutex;
    std::condition_variable m_progress;
};
