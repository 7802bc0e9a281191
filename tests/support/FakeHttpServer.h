#pragma once

// A stand-in for an outside web service (the provider's APIs, the cloud account server, the
// update site) during tests: a cpp-httplib server on 127.0.0.1, on a port the system picks,
// serving from its own thread. It records every request and answers each route with a canned
// reply, a reply computed by a handler, or a reply held back until the test releases it.
//
//   FakeHttpServer server;
//   server.on("GET", "/v1/me", FakeHttpServer::Reply::json(200, R"({"userId":"u1"})"));
//   server.hold("POST", "/v1/auth/verify");          // answer only after release()
//   QTRY_COMPARE(server.heldCount(), 1);              // the request waits
//   server.release("POST", "/v1/auth/verify");       // it, and only it, goes on
//   QTRY_COMPARE(server.requestCount(), 1);
//   QCOMPARE(server.requests().first().header("Authorization"), "Bearer t1");
//
// Unknown routes answer 404 with an empty body. Header names come back in the server library's
// order (sorted by name, ignoring case); repeated headers keep their order of arrival.

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <arpa/inet.h>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <httplib.h>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <utility>

class FakeHttpServer final
{
public:
    using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

    struct Part
    {
        QByteArray name;
        QByteArray fileName;
        QByteArray contentType;
        QByteArray content;
    };

    struct Request
    {
        QByteArray method;
        QByteArray path; // decoded, without the query
        QByteArray target; // exactly as sent: path and query, still percent-encoded
        HeaderList headers;
        QByteArray body;
        QList<Part> parts; // multipart/form-data bodies, in the order sent

        bool hasHeader(const QByteArray& name) const
        {
            for (const auto& [key, value] : headers)
                if (key.compare(name, Qt::CaseInsensitive) == 0)
                    return true;
            return false;
        }
        QByteArray header(const QByteArray& name) const
        {
            for (const auto& [key, value] : headers)
                if (key.compare(name, Qt::CaseInsensitive) == 0)
                    return value;
            return {};
        }
        // The raw query string (no "?"), as sent.
        QByteArray rawQuery() const
        {
            const qsizetype mark = target.indexOf('?');
            return mark < 0 ? QByteArray() : target.mid(mark + 1);
        }
        // Query items in the order sent, decoded ("+" stays "+").
        QList<std::pair<QString, QString>> queryItems() const
        {
            return QUrlQuery(QString::fromUtf8(rawQuery())).queryItems(QUrl::FullyDecoded);
        }
        // An application/x-www-form-urlencoded body as pairs, in the order sent ("+" is a space).
        QList<std::pair<QString, QString>> formItems() const
        {
            QByteArray text = body;
            text.replace('+', ' ');
            return QUrlQuery(QString::fromUtf8(text)).queryItems(QUrl::FullyDecoded);
        }
        QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    };

    struct Reply
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        HeaderList headers;
        // Sent one write each with chunked transfer encoding (for streamed answers).
        QList<QByteArray> chunks;
        // Break the connection off after the chunks instead of ending the reply.
        bool breakAfterChunks = false;
        // Close the connection after reading the request, without any answer.
        bool dropConnection = false;

        static Reply json(int status, const QByteArray& body)
        {
            Reply reply;
            reply.status = status;
            reply.body = body;
            return reply;
        }
        static Reply text(int status, const QByteArray& body, const QByteArray& contentType = "text/html")
        {
            Reply reply;
            reply.status = status;
            reply.body = body;
            reply.contentType = contentType;
            return reply;
        }
        static Reply redirect(const QUrl& location, int status = 302)
        {
            Reply reply;
            reply.status = status;
            reply.contentType = "text/plain";
            reply.headers.append({ "Location", location.toEncoded() });
            return reply;
        }
        static Reply dropped()
        {
            Reply reply;
            reply.dropConnection = true;
            return reply;
        }
    };

    using Handler = std::function<Reply(const Request&)>;

    FakeHttpServer()
    {
        // The server library writes without MSG_NOSIGNAL; a client that hangs up must not end
        // the test process.
        std::signal(SIGPIPE, SIG_IGN);
        const auto dispatch = [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); };
        m_server.Get(".*", dispatch);
        m_server.Post(".*", dispatch);
        m_server.Put(".*", dispatch);
        m_server.Patch(".*", dispatch);
        m_server.Delete(".*", dispatch);
        m_server.Options(".*", dispatch);
        m_server.set_keep_alive_timeout(1);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        // The socket already listens after binding, so requests made before the thread runs
        // wait in the backlog.
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() is ignored until the accept loop runs, so a server destroyed before it started
        // would never end its thread.
        while (!m_server.is_running())
            std::this_thread::yield();
    }

    ~FakeHttpServer()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_held.clear();
            m_waiting.clear();
        }
        m_changed.notify_all();
        m_server.stop();
        if (m_thread.joinable())
            m_thread.join();
    }

    FakeHttpServer(const FakeHttpServer&) = delete;
    FakeHttpServer& operator=(const FakeHttpServer&) = delete;

    bool isListening() const { return m_port > 0; }
    quint16 port() const { return quint16(m_port); }

    // http://127.0.0.1:<port> followed by the path.
    QUrl url(const QString& path = {}) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
    }

    void on(const QByteArray& method, const QByteArray& path, const Reply& reply)
    {
        on(method, path, [reply](const Request&) { return reply; });
    }

    void on(const QByteArray& method, const QByteArray& path, Handler handler)
    {
        std::lock_guard lock(m_mutex);
        m_routes[{ method, path }] = std::move(handler);
    }

    // From now on, requests to the route are recorded and then wait until release().
    void hold(const QByteArray& method, const QByteArray& path)
    {
        std::lock_guard lock(m_mutex);
        m_held.insert({ method, path });
    }

    // Lets the requests of the route that wait now be answered, and stops holding it. Each
    // waiting request is released by its own ticket, so a hold() that follows at once holds
    // only the requests that arrive after it, however late a released one wakes up.
    void release(const QByteArray& method, const QByteArray& path)
    {
        {
            std::lock_guard lock(m_mutex);
            const Route route { method, path };
            m_held.erase(route);
            std::erase_if(m_waiting, [&](const auto& waiting) { return waiting.second == route; });
        }
        m_changed.notify_all();
    }

    // How many requests are waiting in hold() right now; a release() takes its requests off
    // this count at once.
    int heldCount() const
    {
        std::lock_guard lock(m_mutex);
        return int(m_waiting.size());
    }

    QList<Request> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    QList<Request> requestsTo(const QByteArray& method, const QByteArray& path) const
    {
        std::lock_guard lock(m_mutex);
        QList<Request> matching;
        for (const Request& request : m_requests)
            if (request.method == method && request.path == path)
                matching.append(request);
        return matching;
    }

    int requestCount() const
    {
        std::lock_guard lock(m_mutex);
        return int(m_requests.size());
    }

    void clearRequests()
    {
        std::lock_guard lock(m_mutex);
        m_requests.clear();
    }

private:
    using Route = std::pair<QByteArray, QByteArray>;

    static QByteArray bytes(const std::string& s) { return QByteArray(s.data(), qsizetype(s.size())); }

    void handle(const httplib::Request& req, httplib::Response& res)
    {
        Request request;
        request.method = bytes(req.method);
        request.path = bytes(req.path);
        request.target = bytes(req.target);
        request.body = bytes(req.body);
        for (const auto& [name, value] : req.headers) {
            // The server library files the peer's address among the headers.
            if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
                continue;
            request.headers.append({ bytes(name), bytes(value) });
        }
        for (const auto& [name, part] : req.files)
            request.parts.append(
                { bytes(part.name), bytes(part.filename), bytes(part.content_type), bytes(part.content) });
        if (!request.parts.isEmpty()) {
            // The library files parts by name; give them back in the order of the body.
            std::stable_sort(request.parts.begin(), request.parts.end(), [&](const Part& a, const Part& b) {
                return request.body.indexOf("name=\"" + a.name + '"') < request.body.indexOf("name=\"" + b.name + '"');
            });
        }

        const Route route { request.method, request.path };
        Handler handler;
        {
            std::unique_lock lock(m_mutex);
            m_requests.append(request);
            if (m_held.count(route) != 0) {
                const quint64 ticket = ++m_lastTicket;
                m_waiting.emplace(ticket, route);
                m_changed.wait(lock, [&] { return m_stopping || m_waiting.count(ticket) == 0; });
                m_waiting.erase(ticket);
            }
            const auto found = m_routes.find(route);
            if (found != m_routes.end())
                handler = found->second;
        }

        if (!handler) {
            res.status = 404;
            return;
        }
        const Reply reply = handler(request);
        if (reply.dropConnection) {
            closeConnection(req.remote_port);
            return;
        }
        res.status = reply.status;
        for (const auto& [name, value] : reply.headers)
            res.set_header(name.toStdString(), value.toStdString());
        if (!reply.chunks.isEmpty()) {
            auto chunks = std::make_shared<QList<QByteArray>>(reply.chunks);
            res.set_chunked_content_provider(reply.contentType.toStdString(),
                [chunks, breakOff = reply.breakAfterChunks](size_t, httplib::DataSink& sink) {
                    for (const QByteArray& chunk : *chunks)
                        sink.write(chunk.constData(), size_t(chunk.size()));
                    if (breakOff)
                        return false;
                    sink.done();
                    return true;
                });
            return;
        }
        res.set_content(reply.body.toStdString(), reply.contentType.toStdString());
    }

    // Shuts the server's side of the connection from the given client port, so the client
    // sees the connection end without an answer.
    void closeConnection(int remotePort) const
    {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
            const int fd = std::atoi(entry.path().filename().c_str());
            sockaddr_in local {};
            sockaddr_in peer {};
            socklen_t localSize = sizeof local;
            socklen_t peerSize = sizeof peer;
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0
                || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0)
                continue;
            if (local.sin_family == AF_INET && ntohs(local.sin_port) == m_port && ntohs(peer.sin_port) == remotePort)
                ::shutdown(fd, SHUT_RDWR);
        }
    }

    httplib::Server m_server;
    std::thread m_thread;
    int m_port = -1;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<Route, Handler> m_routes;
    std::set<Route> m_held;
    QList<Request> m_requests;
    std::map<quint64, Route> m_waiting; // the requests held now, by ticket
    quint64 m_lastTicket = 0;
    bool m_stopping = false;
};
