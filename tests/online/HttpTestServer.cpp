#include "HttpTestServer.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrlQuery>

#include <future>
#include <optional>

namespace tolvane::test {

namespace {

// Reads the request head (up to the blank line); returns the request target
// or an empty array when none arrived in time.
QByteArray readRequestTarget(QTcpSocket& socket) {
    QByteArray head;
    QElapsedTimer clock;
    clock.start();
    while (!head.contains("\r\n\r\n") && clock.elapsed() < 3000 && head.size() < 65536) {
        if (!socket.waitForReadyRead(100) && socket.state() != QAbstractSocket::ConnectedState)
            break;
        head += socket.readAll();
    }
    const int lineEnd = head.indexOf("\r\n");
    const QList<QByteArray> parts = head.left(lineEnd).split(' ');
    return parts.size() >= 2 ? parts[1] : QByteArray();
}

void send(QTcpSocket& socket, const QByteArray& bytes) {
    socket.write(bytes);
    while (socket.bytesToWrite() > 0 && socket.state() == QAbstractSocket::ConnectedState) {
        if (!socket.waitForBytesWritten(2000))
            break;
    }
}

void respond(QTcpSocket& socket, int status, const QByteArray& body,
             const QByteArray& extraHeaders = {}) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Test\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "Connection: close\r\n" + extraHeaders + "\r\n";
    send(socket, head + body);
}

// Waits until the peer goes away or the time is up, checking stop.
void waitForPeerToLeave(QTcpSocket& socket, int maxMs, const std::atomic<bool>& stop) {
    QElapsedTimer clock;
    clock.start();
    while (!stop && clock.elapsed() < maxMs && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(50);
        socket.readAll();
    }
}

int sizeParameter(const QByteArray& target) {
    const int q = target.indexOf('?');
    const QUrlQuery query(QString::fromLatin1(q < 0 ? QByteArray() : target.mid(q + 1)));
    return query.queryItemValue(QStringLiteral("size")).toInt();
}

} // namespace

QByteArray HttpTestServer::Pattern(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
    return bytes;
}

HttpTestServer::HttpTestServer() {
    std::promise<quint16> ready;
    std::future<quint16> port = ready.get_future();
    thread_ = std::thread([this, &ready] {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, 0)) {
            ready.set_value(0);
            return;
        }
        ready.set_value(server.serverPort());
        while (!stop_) {
            if (!server.waitForNewConnection(50))
                continue;
            std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
            if (!socket)
                continue;
            const QByteArray target = readRequestTarget(*socket);
            const int query = target.indexOf('?');
            const QByteArray path = query < 0 ? target : target.left(query);
            std::optional<Route> route;
            {
                std::lock_guard lock(mutex_);
                lastTarget_ = target;
                targets_ << target;
                if (routes_.contains(path))
                    route = routes_.value(path);
            }
            if (route && route->status >= 300 && route->status < 400) {
                respond(*socket, route->status, "moved", "Location: " + route->body + "\r\n");
            } else if (route) {
                respond(*socket, route->status, route->body);
            } else if (path == "/body") {
                respond(*socket, 200, Pattern(sizeParameter(target)));
            } else if (path == "/nolength") {
                send(*socket, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" +
                                  Pattern(sizeParameter(target)));
            } else if (path == "/empty") {
                respond(*socket, 200, {});
            } else if (path.startsWith("/status/")) {
                respond(*socket, path.mid(8).toInt(), "status page\n");
            } else if (path == "/truncated") {
                send(*socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: "
                              "close\r\n\r\n" +
                                  Pattern(100));
            } else if (path == "/chunked-truncated") {
                send(*socket, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: "
                              "close\r\n\r\n64\r\n" +
                                  Pattern(100) + "\r\n");
            } else if (path == "/stall") {
                waitForPeerToLeave(*socket, 10000, stop_);
            } else if (path == "/trickle") {
                send(*socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: "
                              "close\r\n\r\n");
                for (int i = 0;
                     i < 1000 && !stop_ && socket->state() == QAbstractSocket::ConnectedState;
                     ++i) {
                    send(*socket, "x");
                    waitForPeerToLeave(*socket, 100, stop_);
                }
            } else if (path.startsWith("/redirect/")) {
                const int n = path.mid(10).toInt();
                if (n <= 0)
                    respond(*socket, 200, "arrived");
                else
                    respond(*socket, 302, "moved",
                            "Location: /redirect/" + QByteArray::number(n - 1) + "\r\n");
            } else if (path == "/redirect-nowhere") {
                respond(*socket, 302, "moved");
            } else if (path.startsWith("/echo")) {
                respond(*socket, 200, target);
            } else {
                respond(*socket, 404, "no such route\n");
            }
            socket->disconnectFromHost();
            if (socket->state() != QAbstractSocket::UnconnectedState)
                socket->waitForDisconnected(1000);
        }
    });
    port_ = port.get();
    if (port_ == 0)
        qFatal("the test HTTP server could not listen on 127.0.0.1");
}

HttpTestServer::~HttpTestServer() {
    stop_ = true;
    thread_.join();
}

QString HttpTestServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
}

QByteArray HttpTestServer::lastTarget() const {
    std::lock_guard lock(mutex_);
    return lastTarget_;
}

QList<QByteArray> HttpTestServer::targets() const {
    std::lock_guard lock(mutex_);
    return targets_;
}

int HttpTestServer::hits(const QByteArray& path) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const QByteArray& t : targets_) {
        const int query = t.indexOf('?');
        if ((query < 0 ? t : t.left(query)) == path)
            ++n;
    }
    return n;
}

void HttpTestServer::setRoute(const QByteArray& path, const QByteArray& body, int status) {
    std::lock_guard lock(mutex_);
    routes_[path] = Route{status, body};
}

quint16 UnusedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        qFatal("cannot bind a port on 127.0.0.1");
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace tolvane::test
