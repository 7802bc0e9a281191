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
class Scheduler;

// One HTTP/1.1 POST whose reply body is handed on as it arrives, for streamed answers.
//
// The network access manager of this Qt version sometimes reports a chunked reply that the
// server broke off as complete, which would store half an answer as the whole one. This
// request reads the framing itself: a reply ends cleanly only with its last chunk, its full
// Content-Length, or (when it has neither) the server closing the connection.
//
// Signals come from the event loop of the thread that made the object. After abort(), or
// after finished(), failed() or timedOut(), nothing more is emitted.
class StreamedPost final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StreamedPost)

public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    // How far one reply may go; past a limit the request fails.
    struct Limits
    {
        // The longest silence while connecting or reading.
        std::chrono::milliseconds idleTimeout;
        // The longest the whole request may take, however steadily its head or body arrives:
        // a server that sends a byte now and then never falls silent for the idle limit.
        std::chrono::milliseconds deadline;
        // The most body bytes handed on.
        qint64 maxBodyBytes = 0;
    };

    // The longest chunk-size or trailer line that is read; real ones are a few bytes.
    static constexpr qsizetype kMaxFramingLine = 8 * 1024;

    // The deadline runs on the scheduler; the idle limit, restarted by every byte, on a timer.
    StreamedPost(const QUrl& url, const Headers& headers, const QByteArray& body, const Limits& limits,
        Scheduler& scheduler, QObject* parent = nullptr);
    ~StreamedPost() override;

    void start();
    void abort();

signals:
    void headReceived(int status);
    void bodyReceived(const QByteArray& bytes);
    void finished();
    void failed(const QString& description);
    // A limit of time was passed: the server fell silent, or the whole request took too long.
    void timedOut();

private:
    enum class Stage { Idle, Connecting, Head, ChunkSize, ChunkData, ChunkEnd, Length, UntilClose, Trailer, Done };

    void sendRequest();
    // The end of the framing line that unread begins with, -1 while it is incomplete, or -2
    // when it is longer than any real one (the request has then failed).
    qsizetype framingLineEnd(QByteArrayView unread);
    void onReadyRead();
    void onDisconnected();
    void process();
    void readBuffered();
    bool parseHead();
    void emitBody(const QByteArray& bytes);
    void succeed();
    void fail(const QString& description);
    void giveUp();
    void shutDown();

    QUrl m_url;
    Headers m_headers;
    QByteArray m_body;
    Limits m_limits;
    Scheduler& m_scheduler;

    QTcpSocket* m_socket = nullptr;
    QTimer m_idleTimer;
    qint64 m_bodyBytes = 0;
    qsizetype m_trailerBytes = 0;
    QByteArray m_buffer;
    qsizetype m_offset = 0; // the bytes of m_buffer before it have been read
    qsizetype m_headScanned = 0; // the head's blank line is not before it
    Stage m_stage = Stage::Idle;
    qint64 m_remaining = 0; // bytes left in the current chunk or the Content-Length body
};
