#pragma once

// A plain HTTP/1.1 client for the web page's tests (loopback only), and the
// instance with its web.conf.

#include "tests/e2e/harness.h"

#include <QTcpServer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::e2e {

struct Reply {
    int status = 0;
    QByteArray head, body;
};

// A socket connected to 127.0.0.1:port, reads timing out after `timeoutMs`.
inline int connectTo(int port, int timeoutMs = 10000)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends `request` (request line and headers, without the blank line) and
// `body`, reads the reply until the server closes.
inline Reply http(int port, const QByteArray& request, const QByteArray& body = {},
                  int timeoutMs = 10000)
{
    Reply r;
    const int fd = connectTo(port, timeoutMs);
    if (fd < 0)
        return r;
    QByteArray all = request + "\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                     "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) +
                     "\r\n\r\n" + body;
    ::send(fd, all.constData(), size_t(all.size()), MSG_NOSIGNAL);
    all.clear();
    char buf[65536];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (ssize_t n;
         std::chrono::steady_clock::now() < deadline && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
        all.append(buf, n);
    ::close(fd);
    const qsizetype end = all.indexOf("\r\n\r\n");
    r.head = all.left(end);
    r.body = end < 0 ? QByteArray() : all.mid(end + 4);
    r.status = all.mid(9, 3).toInt();
    return r;
}

inline int freeTcpPort()
{
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost) ? s.serverPort() : 0;
}

// An instance "pump" with a password ("letmein") on a free port, against a
// device that sends lines by itself.
class WebTest : public E2eTest {
protected:
    int webPort = freeTcpPort();
    QByteArray auth = "Authorization: Basic " + QByteArray("quellmark:letmein").toBase64();

    QProcess& startInstance(const QStringList& simArgs = {"--continuous", "20"})
    {
        writeAll(dir.filePath("pw"), "letmein\n");
        ::chmod(path + "/pw", 0600);
        writeAll(dir.filePath("web.conf"),
                 "port = " + QByteArray::number(webPort) + "\npassword_file = " + path + "/pw\n");
        startSim(QStringList{"--link", port(1)} + simArgs);
        QProcess& app = startApp("pump", {});
        waitUntil([&] { return http(webPort, "GET /healthz HTTP/1.1").status == 200; }, 10s);
        return app;
    }
    Reply get(const QByteArray& target, const QByteArray& headers = {})
    {
        return http(webPort, "GET " + target + " HTTP/1.1\r\n" + auth + headers);
    }
};

} // namespace qm::e2e
