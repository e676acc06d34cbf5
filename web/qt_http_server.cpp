#include "web/qt_http_server.h"

#include "app/files.h"
#include "app/log_categories.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm {

namespace {

constexpr const char* kSecurityHeaders[][2] = {
    {"Content-Security-Policy",
     "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
     "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'"},
    {"X-Frame-Options", "DENY"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"}};

} // namespace

struct HttpServer::Stream {
    HttpServer* server;
    SnapshotHub* hub;
    QByteArray pending;
    qsizetype sent = 0;
    quint64 generation = 0;
    bool first = true;
};

struct HttpServer::Call {
    QByteArray body;
    bool tooLarge = false;
};

namespace {

QByteArray header(MHD_Connection* c, const char* name)
{
    const char* v = MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
    return v ? QByteArray(v) : QByteArray();
}

QByteArray clientAddress(MHD_Connection* c)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* a = info->client_addr;
    if (a->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    else if (a->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text,
                    sizeof text);
    return text;
}

// The query as sent: the library hands its arguments over undecoded (see
// keepEscapes), and the routes decode them.
QByteArray rawQuery(MHD_Connection* c)
{
    QByteArray query;
    MHD_get_connection_values(
        c, MHD_GET_ARGUMENT_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
            QByteArray& q = *static_cast<QByteArray*>(cls);
            if (!q.isEmpty())
                q += '&';
            q += key;
            if (value)
                q += QByteArray("=") + value;
            return MHD_YES;
        },
        &query);
    return query;
}

// Paths and arguments reach the routes as sent, so that "%2f" or "%00" are
// judged there instead of being decoded beforehand.
size_t keepEscapes(void*, MHD_Connection*, char* s)
{
    return std::strlen(s);
}

ssize_t readStream(void* cls, uint64_t, char* buf, size_t max)
{
    auto& s = *static_cast<HttpServer::Stream*>(cls);
    return s.server->streamRead(s, buf, max);
}

void endStream(void* cls)
{
    auto* s = static_cast<HttpServer::Stream*>(cls);
    s->server->streamEnded();
    delete s;
}

void logMessage(void*, const char* format, va_list ap)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, ap);
    qCDebug(lcWeb).noquote() << QString::fromUtf8(text).trimmed();
}

bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

} // namespace

HttpServer::HttpServer(WebConfig config, QString instance, SnapshotHub& hub,
                       const WebRoutes& routes)
    : config_(std::move(config))
    , realm_("Basic realm=\"Quellmark " + instance.toUtf8().replace('"', '\'') + '"')
    , hub_(hub)
    , routes_(routes)
{
}

HttpServer::~HttpServer()
{
    stop();
}

namespace {

MHD_Result onRequest(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                     const char* data, size_t* size, void** state)
{
    auto* server = static_cast<HttpServer*>(cls);
    auto* call = static_cast<HttpServer::Call*>(*state);
    if (!call) {
        call = new HttpServer::Call;
        *state = call;
        // A body announced too large is answered before it is read.
        const char* length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Content-Length");
        if (length && QByteArray(length).toULongLong() > HttpServer::kMaxBody) {
            call->tooLarge = true;
            return server->answer(c, *call, url, method) ? MHD_YES : MHD_NO;
        }
        return MHD_YES;
    }
    if (*size > 0) {
        if (call->body.size() + qsizetype(*size) > qsizetype(HttpServer::kMaxBody))
            call->tooLarge = true;
        else
            call->body.append(data, qsizetype(*size));
        *size = 0;
        return MHD_YES;
    }
    return server->answer(c, *call, url, method) ? MHD_YES : MHD_NO;
}

void onCompleted(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode)
{
    delete static_cast<HttpServer::Call*>(*state);
    *state = nullptr;
}

} // namespace

int HttpServer::listenSocket(QString& error) const
{
    sockaddr_storage addr{};
    socklen_t size = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (::inet_pton(AF_INET, config_.bind.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(quint16(config_.port));
        size = sizeof *v4;
    } else {
        ::inet_pton(AF_INET6, config_.bind.constData(), &v6->sin6_addr);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(quint16(config_.port));
        size = sizeof *v6;
    }
    const int fd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), size) != 0 ||
        ::listen(fd, 64) != 0) {
        const int e = errno;
        error = e == EADDRINUSE
                    ? QStringLiteral("port %1 on %2 is in use (another instance or program "
                                     "listens there; give this one another port in web.conf)")
                          .arg(config_.port)
                          .arg(QString::fromUtf8(config_.bind))
                    : QStringLiteral("cannot listen on %2 port %1: %3")
                          .arg(config_.port)
                          .arg(QString::fromUtf8(config_.bind),
                               QString::fromLocal8Bit(std::strerror(e)));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

bool HttpServer::start(QString& error)
{
    unsigned flags =
        MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG;
    if (config_.tls()) {
        cert_ = readRegularFile(config_.certFile, 1 << 20).value_or("");
        key_ = readRegularFile(config_.keyFile, 1 << 20).value_or("");
        if (cert_.empty() || key_.empty() || MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
            error = QStringLiteral("web.conf: cert_file or key_file cannot be used for HTTPS");
            return false;
        }
        flags |= MHD_USE_TLS;
    }
    const int fd = listenSocket(error);
    if (fd < 0)
        return false;
    if (config_.bind.contains(':'))
        flags |= MHD_USE_IPv6;
    const MHD_OptionItem tls[] = {
        {config_.tls() ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0, cert_.data()},
        {config_.tls() ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, 0, key_.data()},
        {MHD_OPTION_END, 0, nullptr}};
    daemon_ = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &onRequest, this, MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutS,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(64 * 1024), MHD_OPTION_NOTIFY_COMPLETED,
        &onCompleted, nullptr, MHD_OPTION_UNESCAPE_CALLBACK, &keepEscapes, nullptr,
        MHD_OPTION_EXTERNAL_LOGGER, &logMessage, nullptr, MHD_OPTION_ARRAY, tls, MHD_OPTION_END);
    if (!daemon_) {
        ::close(fd);
        error = QStringLiteral("the web server cannot start on port %1").arg(config_.port);
        return false;
    }
    return true;
}

void HttpServer::stop()
{
    if (!daemon_)
        return;
    hub_.stop(); // the event streams end, held answers go out
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

bool HttpServer::authorised(MHD_Connection* c, const QByteArray& client)
{
    const QByteArray given = header(c, "Authorization");
    if (!given.startsWith("Basic "))
        return false;
    const QByteArray pair = QByteArray::fromBase64(given.mid(6).trimmed());
    const qsizetype colon = pair.indexOf(':');
    const bool right = colon >= 0 && sameBytes(pair.left(colon), config_.user.toUtf8()) &
                                         sameBytes(pair.mid(colon + 1), config_.password.toUtf8());
    if (right) {
        guard_.succeeded(client);
        return true;
    }
    hub_.pause(std::chrono::milliseconds(guard_.failed(client)));
    return false;
}

bool HttpServer::answer(MHD_Connection* c, Call& call, const char* url, const char* method)
{
    HttpRequest rq;
    rq.method = method;
    rq.passwordSet = !config_.password.isEmpty();
    QByteArray ignored;
    if (!decodePath(url, rq.path, ignored))
        return send(c, HttpResponse::json(404, R"({"error":"not found"})"));
    if (rq.passwordSet && rq.path != "/healthz") {
        if (!authorised(c, clientAddress(c))) {
            HttpResponse r = HttpResponse::json(401, R"({"error":"authentication required"})");
            r.headers.emplace_back("WWW-Authenticate", realm_);
            return send(c, std::move(r));
        }
        rq.authenticated = true;
    }
    if (call.tooLarge)
        return send(c,
                    HttpResponse::json(413, R"({"ok":false,"reason":"body larger than 16 KiB"})"));
    if (rq.path == "/api/events" && rq.method == "GET")
        return stream(c);
    rq.query = rawQuery(c);
    rq.body = call.body;
    rq.origin = header(c, "Origin");
    rq.fetchSite = header(c, "Sec-Fetch-Site");
    rq.host = header(c, "Host");
    rq.csrfToken = header(c, "X-CSRF-Token");
    rq.contentType = header(c, "Content-Type");
    return send(c, routes_.handle(rq));
}

bool HttpServer::send(MHD_Connection* c, HttpResponse r)
{
    MHD_Response* response = MHD_create_response_from_buffer(size_t(r.body.size()), r.body.data(),
                                                             MHD_RESPMEM_MUST_COPY);
    if (!response)
        return false;
    for (const auto& h : kSecurityHeaders)
        MHD_add_response_header(response, h[0], h[1]);
    MHD_add_response_header(response, "Content-Type", r.contentType.constData());
    MHD_add_response_header(response, "Cache-Control", r.cacheable ? "max-age=300" : "no-store");
    for (const auto& [name, value] : r.headers)
        MHD_add_response_header(response, name.constData(), value.constData());
    const MHD_Result ok = MHD_queue_response(c, unsigned(r.status), response);
    MHD_destroy_response(response);
    return ok == MHD_YES;
}

bool HttpServer::stream(MHD_Connection* c)
{
    {
        std::lock_guard lock(mutex_);
        if (streams_ >= kMaxStreams)
            return send(c, HttpResponse::json(503, R"({"error":"too many event streams"})"));
        ++streams_;
    }
    auto* s = new Stream{this, &hub_, {}, 0, 0, true};
    MHD_Response* response =
        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &readStream, s, &endStream);
    if (!response) {
        endStream(s);
        return false;
    }
    for (const auto& h : kSecurityHeaders)
        MHD_add_response_header(response, h[0], h[1]);
    MHD_add_response_header(response, "Content-Type", "text/event-stream");
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Accel-Buffering", "no");
    const MHD_Result ok = MHD_queue_response(c, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return ok == MHD_YES;
}

// Runs on the connection's own thread: waits there for a newer state (the
// newest only, whatever came between) or the keepalive's time.
long HttpServer::streamRead(Stream& s, char* buf, std::size_t max)
{
    if (s.sent >= s.pending.size()) {
        s.pending.clear();
        s.sent = 0;
        std::shared_ptr<const Snapshot> snap;
        if (s.first) {
            s.first = false;
            s.pending = "retry: 2000\n\n";
            snap = hub_.latest();
        } else {
            snap = hub_.waitNewer(s.generation, std::chrono::milliseconds(kKeepaliveMs));
            if (hub_.stopped())
                return MHD_CONTENT_READER_END_OF_STREAM;
            if (!snap)
                s.pending = ": keepalive\n\n";
        }
        if (snap) {
            s.generation = snap->generation;
            s.pending += "event: state\ndata: " + snap->stateJson + "\n\n";
        }
    }
    const std::size_t n = std::min(max, std::size_t(s.pending.size() - s.sent));
    std::memcpy(buf, s.pending.constData() + s.sent, n);
    s.sent += qsizetype(n);
    return long(n);
}

void HttpServer::streamEnded()
{
    std::lock_guard lock(mutex_);
    --streams_;
}

} // namespace qm
