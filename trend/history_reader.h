#pragma once

#include "base/types.h"
#include "trend/series.h"

#include <QByteArray>
#include <QDate>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qm {

// What the trend reads from the log folder for a range.
struct HistoryRequest {
    QByteArray logDir;
    qint64 from = 0, to = 0, widthMs = 1000;
    qint64 until = INT64_MAX; // readings from here on are left out (the live store has them)
    ChannelArray<Single> setHi{}, setLo{};
    int channels = 8;
    bool tellMissing = false; // a day of the range without a log file is a problem
};
struct History {
    Series series;
    int skipped = 0;                   // lines that could not be read
    std::vector<std::string> problems; // "250312.txt: 3 lines could not be read"
    bool cancelled = false;
};

// Reads the day files of a range, one after the other, into buckets; alarms
// from the limits. Keeps what it read of whole past days, so that a range
// shown again is quick. Threads may share one: their reads take turns.
class HistoryReader {
public:
    History read(const HistoryRequest& request, std::atomic<int>* permille = nullptr,
                 const std::atomic<bool>* cancel = nullptr);

private:
    struct Day {
        qint64 size = -1, mtime = 0, widthMs = 0;
        Series series;
        int skipped = 0;
        std::string problem;
        ChannelArray<Single> setHi{}, setLo{};
        int channels = 0;
        // Read whole for this request from the file as it is now; kept so.
        bool holds(const HistoryRequest& rq, qint64 fileSize, qint64 fileMtime) const;
        void keep(const HistoryRequest& rq, qint64 fileSize, qint64 fileMtime);
    };
    Day* dayOf(QDate d, const QByteArray& path, const HistoryRequest& rq, qint64 end,
               const std::function<void(qint64)>& progress, const std::atomic<bool>* cancel);

    std::mutex mutex_;
    std::map<QDate, Day> days_;
};

} // namespace qm
