#pragma once
// A small HTTP/1.1 server on 127.0.0.1 (port 0) that runs on a thread of its
// own, so that a blocking client on the test's thread can talk to it. Every
// response closes its connection. Routes:
//   /body?size=N          200 with Content-Length and N bytes of Pattern()
//   /nolength?size=N      200 without Content-Length, N bytes, then close
//   /empty                200 with an empty body
//   /status/NNN           that status with a short body
//   /truncated            Content-Length 1000, 100 bytes, then close
//   /chunked-truncated    chunked body whose final chunk never comes
//   /stall                reads the request, answers nothing until the peer
//                         leaves (at most 10 s)
//   /trickle              Content-Length 1000, one byte every 100 ms
//   /redirect/N           302 to /redirect/N-1; /redirect/0 is 200 "arrived"
//   /redirect-nowhere     302 without a Location header
//   /echo...              200 with the request target exactly as received
// and any route a test sets with setRoute (checked first, by path without
// the query).

#include <QByteArray>
#include <QString>

#include <QList>
#include <QMap>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace tolvane::test {

class HttpTestServer {
public:
    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    quint16 port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path.
    QString url(const QString& path) const;
    // The request target of the last request, as sent.
    QByteArray lastTarget() const;
    // Every request target so far, in order.
    QList<QByteArray> targets() const;
    // How many requests asked for a path (query left out).
    int hits(const QByteArray& path) const;

    // Answers requests for path with status and body from now on; a 3xx
    // status redirects to the address given as body.
    void setRoute(const QByteArray& path, const QByteArray& body, int status = 200);

    // The body of /body and /nolength: N bytes of a repeating pattern.
    static QByteArray Pattern(int size);

private:
    std::atomic<bool> stop_{false};
    quint16 port_ = 0;
    mutable std::mutex mutex_;
    QByteArray lastTarget_;
    QList<QByteArray> targets_;
    struct Route {
        int status = 200;
        QByteArray body;
    };
    QMap<QByteArray, Route> routes_;
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
quint16 UnusedPort();

} // namespace tolvane::test
