#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <chrono>

class QTcpSocket;

// One HTTP/1.1 POST whose reply body is handed on as it arrives, for streamed answers.
//
// The network access manager of this Qt version sometimes reports a chunked reply that the
// server broke off as complete, which would store half an answer as the whole one. This
// request reads the framing itself: a reply ends cleanly only with its last chunk, its full
// Content-Length, or (when it has neither) the server closing the connection.
//
// Signals come from the event loop of the thread that made the object. After abort(), or
// after finished() or failed(), nothing more is emitted.
class StreamedPost final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StreamedPost)

public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    // idleTimeout: the longest silence, while connecting or reading, before the request fails.
    StreamedPost(const QUrl& url, const Headers& headers, const QByteArray& body, std::chrono::milliseconds idleTimeout,
        QObject* parent = nullptr);
    ~StreamedPost() override;

    void start();
    void abort();

signals:
    void headReceived(int status);
    void bodyReceived(const QByteArray& bytes);
    void finished();
    void failed(const QString& description);

private:
    enum class Stage { Idle, Connecting, Head, ChunkSize, ChunkData, ChunkEnd, Length, UntilClose, Trailer, Done };

    void sendRequest();
    void onReadyRead();
    void onDisconnected();
    void process();
    bool parseHead();
    void emitBody(const QByteArray& bytes);
    void succeed();
    void fail(const QString& description);
    void shutDown();

    QUrl m_url;
    Headers m_headers;
    QByteArray m_body;
    std::chrono::milliseconds m_idleTimeout;

    QTcpSocket* m_socket = nullptr;
    QTimer m_idleTimer;
    QByteArray m_buffer;
    Stage m_stage = Stage::Idle;
    qint64 m_remaining = 0; // bytes left in the current chunk or the Content-Length body
};
