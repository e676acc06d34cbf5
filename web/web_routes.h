#pragma once

#include "trend/history_reader.h"
#include "web/http_types.h"
#include "web/snapshot_hub.h"
#include "web/trend_json.h"

#include <QByteArray>

#include <functional>
#include <map>

namespace qm {

// The page's files by their path under web/page ("index.html",
// "vendor/uplot/uPlot.iife.min.js").
using PageFiles = std::map<QByteArray, QByteArray>;

// A settings change from the page, done on the event-loop thread: the
// response to send (200 with the changes, 400 naming the refused key).
using SettingsChange =
    std::function<HttpResponse(const std::vector<std::pair<QByteArray, QByteArray>>&)>;

// This run's readings of [from, to) in buckets of `width`, from the live
// trend store on the event-loop thread (nothing when there is none).
using LiveTrend = std::function<LivePart(qint64 from, qint64 to, qint64 width)>;

// Everything the page asks for but the event stream: answers built from the
// newest snapshot, the log folder and the page's files. Called on the
// server's threads, any number at once.
class WebRoutes {
public:
    WebRoutes(SnapshotHub& hub, QByteArray logDir, PageFiles files, QByteArray csrfToken,
              SettingsChange change, LiveTrend live = {});
    HttpResponse handle(const HttpRequest& rq) const;

private:
    HttpResponse staticFile(const QByteArray& name) const;
    HttpResponse settings(const HttpRequest& rq, const Snapshot& snap) const;
    HttpResponse postSettings(const HttpRequest& rq) const;
    HttpResponse trend(const HttpRequest& rq, const Snapshot& snap) const;
    HttpResponse logs(const QByteArray& name, const Snapshot& snap) const;

    SnapshotHub& hub_;
    QByteArray logDir_;
    PageFiles files_;
    QByteArray csrf_;
    SettingsChange change_;
    LiveTrend live_;
    mutable HistoryReader reader_; // keeps the past days it read
};

// The content type of a page file by its extension.
QByteArray contentTypeOf(const QByteArray& name);

} // namespace qm
