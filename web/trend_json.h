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

// The trend of [end - span, end) from the log files, as the window draws it:
// per channel in use its line (null where it breaks), its alarm stretches,
// its INF marks, its colour and scale.
QByteArray trendJson(HistoryReader& reader, const QByteArray& logDir, const TrendQuery& q,
                     const Snapshot& snap);

} // namespace qm
