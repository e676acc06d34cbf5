#pragma once

#include "web/login_guard.h"
#include "web/snapshot_hub.h"
#include "web/web_config.h"
#include "web/web_routes.h"

#include <QString>

#include <map>
#include <memory>
#include <mutex>

struct MHD_Daemon;
struct MHD_Connection;

namespace qm {

// The page's HTTP server: libmicrohttpd on threads of its own (one per
// connection, at most kMaxConnections), never touching the event loop: it
// reads snapshots from the hub and answers through the routes. Basic
// authentication when a password is set, wrong passwords answered slower and
// slower per client address, the event stream gathered to the newest state.
class HttpServer {
public:
    static constexpr unsigned kMaxConnections = 32;
    static constexpr int kMaxStreams = 24; // leaves room for other requests
    static constexpr std::size_t kMaxBody = 16 * 1024;
    static constexpr unsigned kIdleTimeoutS = 60;
    static constexpr int kKeepaliveMs = 15000;

    HttpServer(WebConfig config, QString instance, SnapshotHub& hub, const WebRoutes& routes);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens; false with `error` (the port in use named) when it cannot.
    bool start(QString& error);
    void stop();

    // Internal, for the library's callbacks.
    struct Call;
    struct Stream;
    bool answer(MHD_Connection* c, Call& call, const char* url, const char* method);
    long streamRead(Stream& s, char* buf, std::size_t max);
    void streamEnded();

private:
    bool authorised(MHD_Connection* c, const QByteArray& client);
    bool stream(MHD_Connection* c);
    bool send(MHD_Connection* c, HttpResponse r);
    int listenSocket(QString& error) const;

    WebConfig config_;
    QByteArray realm_;
    SnapshotHub& hub_;
    const WebRoutes& routes_;
    MHD_Daemon* daemon_ = nullptr;
    std::string cert_, key_; // kept for the library while it runs
    LoginGuard guard_;
    std::mutex mutex_;
    int streams_ = 0; // event streams open
};

} // namespace qm
