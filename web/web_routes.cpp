#include "web/web_routes.h"

#include "web/json.h"
#include "web/log_files.h"
#include "web/trend_json.h"

#include <QDateTime>

namespace qm {

namespace {

HttpResponse notFound()
{
    return HttpResponse::json(404, R"({"error":"not found"})");
}

HttpResponse refused(const char* reason)
{
    return HttpResponse::json(403, QByteArray(R"({"ok":false,"reason":)") +
                                       json::string(QString::fromUtf8(reason)) + '}');
}

// The host part of an Origin ("https://board:8080" -> "board:8080").
QByteArray originHost(const QByteArray& origin)
{
    const qsizetype scheme = origin.indexOf("://");
    return scheme < 0 ? QByteArray() : origin.mid(scheme + 3);
}

bool sameToken(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size() || a.isEmpty())
        return false;
    unsigned char diff = 0; // the same time for every wrong token
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

QByteArray contentTypeOf(const QByteArray& name)
{
    static const std::pair<const char*, const char*> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".txt", "text/plain; charset=utf-8"},
        {".json", "application/json"},
        {".ico", "image/x-icon"}};
    for (const auto& [ext, type] : types)
        if (name.endsWith(ext))
            return type;
    return "application/octet-stream";
}

WebRoutes::WebRoutes(SnapshotHub& hub, QByteArray logDir, PageFiles files, QByteArray csrfToken,
                     SettingsChange change, LiveTrend live)
    : hub_(hub)
    , logDir_(std::move(logDir))
    , files_(std::move(files))
    , csrf_(std::move(csrfToken))
    , change_(std::move(change))
    , live_(std::move(live))
{
}

HttpResponse WebRoutes::handle(const HttpRequest& rq) const
{
    const std::shared_ptr<const Snapshot> snap = hub_.latest();
    if (rq.path == "/api/settings" && rq.method == "POST")
        return postSettings(rq);
    if (rq.method != "GET" && rq.method != "HEAD")
        return HttpResponse::json(405, R"({"error":"method not allowed"})");
    if (rq.path == "/healthz")
        return HttpResponse::text(200, "ok");
    if (rq.path == "/")
        return staticFile("index.html");
    if (rq.path.startsWith("/static/"))
        return staticFile(rq.path.mid(8));
    if (!snap)
        return HttpResponse::json(503, R"({"error":"starting"})");
    if (rq.path == "/api/state")
        return HttpResponse::json(200, snap->stateJson);
    if (rq.path == "/metrics")
        return {
            200, "text/plain; version=0.0.4; charset=utf-8", metricsText(snap->state), {}, false};
    if (rq.path == "/api/settings")
        return settings(rq, *snap);
    if (rq.path == "/api/trend")
        return trend(rq, *snap);
    if (rq.path == "/api/logs")
        return HttpResponse::json(200, logListJson(listLogFiles(logDir_)));
    if (rq.path.startsWith("/logs/"))
        return logs(rq.path.mid(6), *snap);
    return notFound();
}

HttpResponse WebRoutes::staticFile(const QByteArray& name) const
{
    const auto it = files_.find(name);
    if (it == files_.end())
        return notFound();
    HttpResponse r{200, contentTypeOf(name), it->second, {}, true};
    return r;
}

HttpResponse WebRoutes::settings(const HttpRequest& rq, const Snapshot& snap) const
{
    const bool editable = rq.passwordSet && rq.authenticated;
    QByteArray out = "{\"editable\":" + json::boolean(editable);
    if (editable)
        out += ",\"csrf\":" + json::string(QString::fromLatin1(csrf_));
    return HttpResponse::json(200, out + ",\"fields\":" + snap.settingsJson + '}');
}

HttpResponse WebRoutes::postSettings(const HttpRequest& rq) const
{
    if (!rq.passwordSet || !rq.authenticated)
        return refused("settings are read-only without a password");
    if (!sameToken(rq.csrfToken, csrf_))
        return refused("missing or wrong X-CSRF-Token");
    if (!rq.origin.isEmpty() && originHost(rq.origin) != rq.host)
        return refused("request from another origin");
    if (!rq.fetchSite.isEmpty() && rq.fetchSite != "same-origin" && rq.fetchSite != "none")
        return refused("request from another site");
    if (!rq.contentType.startsWith("application/x-www-form-urlencoded"))
        return HttpResponse::json(
            400, R"({"ok":false,"reason":"the body must be application/x-www-form-urlencoded"})");
    std::vector<std::pair<QByteArray, QByteArray>> pairs;
    if (!formPairs(rq.body, pairs))
        return HttpResponse::json(400, R"({"ok":false,"reason":"malformed form body"})");
    return change_(pairs);
}

HttpResponse WebRoutes::trend(const HttpRequest& rq, const Snapshot& snap) const
{
    TrendQuery q;
    QString error;
    if (!parseTrendQuery(rq.query, q, error))
        return HttpResponse::json(400, "{\"error\":" + json::string(error) + '}');
    if (!q.hasEnd)
        q.endMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 from = q.endMs - q.spanS * 1000;
    const LivePart live = live_ ? live_(from, q.endMs, bucketWidthFor(q.endMs - from)) : LivePart{};
    return HttpResponse::json(200, trendJson(reader_, logDir_, q, snap, live));
}

HttpResponse WebRoutes::logs(const QByteArray& name, const Snapshot& snap) const
{
    const std::vector<LogFile> files = listLogFiles(logDir_);
    if (const LogFile* f = findLogFile(files, name)) {
        std::optional<QByteArray> bytes = readLogFile(logDir_, *f);
        if (!bytes)
            return notFound();
        HttpResponse r{200, "text/plain; charset=iso-8859-1", *bytes, {}, false};
        r.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + f->name + '"');
        return r;
    }
    if (name.endsWith(".csv")) {
        if (const LogFile* f = findLogFile(files, name.chopped(4))) {
            HttpResponse r{200, "text/csv; charset=utf-8", dayCsv(logDir_, *f, snap), {}, false};
            r.headers.emplace_back("Content-Disposition",
                                   "attachment; filename=\"" + f->name + ".csv\"");
            return r;
        }
    }
    return notFound();
}

} // namespace qm
