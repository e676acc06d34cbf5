#pragma once

#include "trend/history_reader.h"
#include "web/snapshot_hub.h"

#include <QByteArray>
#include <QString>

namespace qm {

// /api/trend?span=<seconds>[&end_ms=<ms>]: 10 minutes to 30 days, 24 hours
// by default, up to now by default.
struct TrendQuery {
    qint64 spanS = 86400;
    qint64 endMs = 0;
    bool hasEnd = false;
};
bool parseTrendQuery(const QByteArray& query, TrendQuery& q, QString& error);

// The UTC offsets of the local zone over [from, to): the offset at `from`,
// then one pair at each change, [ms, seconds east of UTC].
std::vector<std::pair<qint64, int>> zoneOffsets(qint64 from, qint64 to);

// This run's readings as the live trend store holds them: from `from` on
// (INT64_MAX: none), in buckets of the range's grid.
struct LivePart {
    Series series;
    qint64 from = INT64_MAX;
};

// The trend of [end - span, end) as the window draws it: the log files up to
// where `live` begins, then `live`; per channel in use its line (null where
// it breaks), its alarm stretches, its INF marks, its colour and scale.
QByteArray trendJson(HistoryReader& reader, const QByteArray& logDir, const TrendQuery& q,
                     const Snapshot& snap, const LivePart& live = {});

} // namespace qm
