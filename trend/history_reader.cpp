#include "trend/history_reader.h"

#include "sampling/log_file.h"
#include "sampling/log_record.h"
#include "trend/day_clock.h"
#include "trend/gaps.h"

#include <QDateTime>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

// A day's readings from its log file into `out` (which covers the day), with
// the alarms from the limits, on the day's clock.
DayFileResult readDay(const QByteArray& path, QDate day, const HistoryRequest& rq, Series& out,
                      const std::function<void(qint64)>& progress, const std::atomic<bool>* cancel)
{
    DayClock clock(day);
    const int channels = std::clamp(rq.channels, 0, 8);
    StartZeros readings(clock.midnight(), channels, [&](qint64 ms, const LogRecord& rec) {
        if (ms >= rq.until)
            return;
        quint8 alarms = 0;
        for (int i = 1; i <= channels; ++i)
            alarms |= rec.values[std::size_t(i)] > rq.setHi[std::size_t(i)] ||
                              rec.values[std::size_t(i)] < rq.setLo[std::size_t(i)]
                          ? 1u << (i - 1)
                          : 0u;
        out.add(ms, rec.values.data() + 1, alarms, channels);
    });
    const DayFileResult r = readDayFile(
        path, [&](const LogRecord& rec) { readings.add(clock.instant(rec.secondOfDay), rec); },
        1 << 20, progress, cancel);
    readings.finish();
    return r;
}

qint64 fileSize(const QByteArray& path, qint64* mtime = nullptr)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    if (mtime)
        *mtime = qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return qint64(st.st_size);
}

// What a day's file could not give: counted, and named with the file.
void tellProblems(History& h, const std::string& name, int skipped, const std::string& problem)
{
    h.skipped += skipped;
    if (!problem.empty())
        h.problems.push_back(name + ": cannot be read: " + problem);
    if (skipped > 0)
        h.problems.push_back(name + ": " + std::to_string(skipped) +
                             (skipped == 1 ? " line" : " lines") + " not in the log's form");
}

} // namespace

bool HistoryReader::Day::holds(const HistoryRequest& rq, qint64 fileSize, qint64 fileMtime) const
{
    return size == fileSize && mtime == fileMtime && widthMs == rq.widthMs && setHi == rq.setHi &&
           setLo == rq.setLo && channels == rq.channels;
}

void HistoryReader::Day::keep(const HistoryRequest& rq, qint64 fileSize, qint64 fileMtime)
{
    size = fileSize;
    mtime = fileMtime;
    widthMs = rq.widthMs;
    setHi = rq.setHi;
    setLo = rq.setLo;
    channels = rq.channels;
}

// A day's readings within the range: kept from the last time while its file
// is unchanged and the whole day is wanted, read anew otherwise. Nothing for
// a day that ends before the range.
HistoryReader::Day* HistoryReader::dayOf(QDate d, const QByteArray& path, const HistoryRequest& rq,
                                         qint64 end, const std::function<void(qint64)>& progress,
                                         const std::atomic<bool>* cancel)
{
    qint64 mtime = 0;
    const qint64 size = fileSize(path, &mtime);
    // A day's file holds that day and perhaps the first seconds of the next.
    const qint64 midnight = DayClock(d).midnight();
    const qint64 dayEnd = DayClock(d.addDays(1)).midnight() + 60'000;
    if (dayEnd <= rq.from)
        return nullptr;
    const bool whole = rq.from <= midnight && dayEnd <= end;
    Day& day = days_[d];
    if (whole && day.holds(rq, size, mtime)) {
        progress(size);
        return &day;
    }
    day = Day{};
    day.series = Series(std::max(midnight, rq.from), std::min(dayEnd, end), rq.widthMs);
    const DayFileResult r = readDay(path, d, rq, day.series, progress, cancel);
    day.skipped = r.skipped;
    day.problem = r.problem;
    if (whole && r.opened && r.problem.empty() && !(cancel && cancel->load()))
        day.keep(rq, size, mtime);
    return &day;
}

History HistoryReader::read(const HistoryRequest& rq, std::atomic<int>* permille,
                            const std::atomic<bool>* cancel)
{
    std::lock_guard lock(mutex_);
    History h;
    h.series = Series(rq.from, rq.to, rq.widthMs);
    const qint64 end = std::min(rq.to, rq.until);
    if (end <= rq.from)
        return h;
    // The day before too: its file can hold the first seconds after midnight.
    const QDate first = QDateTime::fromMSecsSinceEpoch(rq.from).date();
    const QDate last = QDateTime::fromMSecsSinceEpoch(end - 1).date();
    qint64 total = 0;
    for (QDate d = first.addDays(-1); d <= last; d = d.addDays(1))
        total += std::max<qint64>(fileSize(rq.logDir + '/' + logFileName(d)), 0);
    qint64 bytes = 0;
    const std::function<void(qint64)> progress = [&](qint64 n) {
        bytes += n;
        if (permille && total > 0)
            *permille = int(std::min<qint64>(1000, bytes * 1000 / total));
    };
    for (QDate d = first.addDays(-1); d <= last; d = d.addDays(1)) {
        if (cancel && cancel->load()) {
            h.cancelled = true;
            break;
        }
        // The day before the range counts only for what its file holds of it.
        const bool own = d >= first;
        const QByteArray name = logFileName(d);
        const QByteArray path = rq.logDir + '/' + name;
        if (fileSize(path) < 0 && ::access(path.constData(), F_OK) != 0 && errno == ENOENT) {
            if (own && rq.tellMissing)
                h.problems.push_back(name.toStdString() + ": no log for " +
                                     d.toString(Qt::ISODate).toStdString());
            continue;
        }
        Day* day = dayOf(d, path, rq, end, progress, cancel);
        if (!day)
            continue;
        // Only the part within the range counts.
        h.series.add(day->series);
        if (own)
            tellProblems(h, name.toStdString(), day->skipped, day->problem);
        if (day->size < 0)
            days_.erase(d);
    }
    // Bounded: what was read of far-away days goes first.
    while (days_.size() > 62)
        days_.erase(days_.begin());
    return h;
}

} // namespace qm
