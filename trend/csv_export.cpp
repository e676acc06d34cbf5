#include "trend/csv_export.h"

#include "base/numbers.h"
#include "channels/channel_name.h"
#include "sampling/log_file.h"
#include "sampling/log_record.h"
#include "trend/day_clock.h"
#include "trend/gaps.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace qm {

std::string isoLocal(qint64 ms)
{
    const int offset = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
    const qint64 local = ms / 1000 + offset - (ms % 1000 < 0 ? 1 : 0);
    const qint64 days = local >= 0 ? local / 86'400 : (local - 86'399) / 86'400;
    const int second = int(local - days * 86'400);
    const QDate date = QDate::fromJulianDay(QDate(1970, 1, 1).toJulianDay() + days);
    const int a = std::abs(offset);
    std::string text = std::to_string(date.year());
    const auto two = [&](char before, int v) {
        text += before;
        text += char('0' + v / 10 % 10);
        text += char('0' + v % 10);
    };
    two('-', date.month());
    two('-', date.day());
    two('T', second / 3600);
    two(':', second / 60 % 60);
    two(':', second % 60);
    two(offset < 0 ? '-' : '+', a / 3600);
    two(':', a / 60 % 60);
    return text;
}

namespace {

std::string csvHeader(const ChannelArray<String>& labels, int channels, bool slices)
{
    std::string out = "\"time\"";
    for (int i = 1; i <= channels; ++i) {
        std::string name = channelName(i, labels[std::size_t(i)]).toUtf8().toStdString();
        std::erase(name, '"');
        if (!slices)
            out += ",\"" + name + '"';
        else
            for (const char* part : {" min", " mean", " max"})
                out += ",\"" + name + part + '"';
    }
    return out + "\r\n";
}

std::string numberText(float v)
{
    return std::isinf(v) ? (v > 0 ? "INF" : "-INF") : invariantForm(v);
}

} // namespace

CsvWriter::CsvWriter(const ChannelArray<String>& labels, int channels, qint64 sliceMs)
    : channels_(std::clamp(channels, 0, 8))
    , sliceMs_(std::max<qint64>(sliceMs, 0))
    , out_(csvHeader(labels, channels_, sliceMs_ > 0))
{
    min_.fill(NAN);
    max_.fill(NAN);
}

void CsvWriter::add(qint64 ms, const float* values)
{
    if (sliceMs_ == 0) {
        out_ += '"' + isoLocal(ms) + '"';
        for (int i = 0; i < channels_; ++i) {
            out_ += ',';
            if (!std::isnan(values[i]))
                out_ += numberText(values[i]);
        }
        out_ += "\r\n";
        ++rows_;
        return;
    }
    const qint64 slice = ms >= 0 ? ms / sliceMs_ : (ms - sliceMs_ + 1) / sliceMs_;
    if (slice != slice_)
        flushSlice();
    slice_ = slice;
    for (int i = 0; i < channels_; ++i) {
        const float v = values[i];
        if (std::isnan(v))
            continue;
        const std::size_t c = std::size_t(i);
        const bool first = std::isnan(min_[c]);
        min_[c] = first ? v : std::min(min_[c], v);
        max_[c] = first ? v : std::max(max_[c], v);
        if (std::isfinite(v)) {
            sum_[c] += v;
            ++finite_[c];
        }
    }
    any_ = true;
}

void CsvWriter::flushSlice()
{
    if (any_) {
        out_ += '"' + isoLocal(slice_ * sliceMs_) + '"';
        for (std::size_t c = 0; c < std::size_t(channels_); ++c) {
            if (std::isnan(min_[c])) {
                out_ += ",,,";
                continue;
            }
            out_ += ',' + numberText(min_[c]) + ',';
            if (finite_[c] > 0)
                out_ += invariantForm(float(sum_[c] / finite_[c]));
            out_ += ',' + numberText(max_[c]);
        }
        out_ += "\r\n";
        ++rows_;
    }
    min_.fill(NAN);
    max_.fill(NAN);
    sum_.fill(0);
    finite_.fill(0);
    any_ = false;
}

std::string CsvWriter::take()
{
    return std::exchange(out_, {});
}

std::string CsvWriter::finish()
{
    if (sliceMs_ > 0)
        flushSlice();
    return take();
}

std::string csvOf(const Series& s, const ChannelArray<String>& labels, int channels)
{
    CsvWriter csv(labels, channels);
    for (const Bucket& b : s.buckets) {
        if (!b.has)
            continue;
        std::array<float, 8> values{};
        for (int i = 0; i < 8; ++i)
            values[std::size_t(i)] = b.has >> i & 1 ? b.last[std::size_t(i)] : NAN;
        csv.add(b.lastMs, values.data());
    }
    return csv.finish();
}

bool exportLog(const HistoryRequest& rq, const ChannelArray<String>& labels, qint64 sliceMs,
               const std::function<void(const std::string&)>& write,
               const std::atomic<bool>* cancel, std::atomic<int>* permille)
{
    CsvWriter csv(labels, rq.channels, sliceMs);
    const QDate first = QDateTime::fromMSecsSinceEpoch(rq.from).date().addDays(-1);
    const QDate last = QDateTime::fromMSecsSinceEpoch(rq.to - 1).date();
    const int channels = std::clamp(rq.channels, 0, 8);
    for (QDate d = first; d <= last && !(cancel && cancel->load()); d = d.addDays(1)) {
        DayClock clock(d);
        StartZeros readings(clock.midnight(), channels, [&](qint64 ms, const LogRecord& rec) {
            if (ms >= rq.from && ms < rq.to)
                csv.add(ms, rec.values.data() + 1);
        });
        readDayFile(
            rq.logDir + '/' + logFileName(d),
            [&](const LogRecord& rec) { readings.add(clock.instant(rec.secondOfDay), rec); },
            1 << 20, {}, cancel);
        readings.finish();
        write(csv.take());
        if (permille)
            *permille = int((first.daysTo(d) + 1) * 1000 / (first.daysTo(last) + 1));
    }
    write(csv.finish());
    return csv.rows() > 0;
}

std::string historyCsv(const QByteArray& logDir, qint64 from, qint64 to,
                       const ChannelArray<String>& labels, const ChannelArray<Single>& setHi,
                       const ChannelArray<Single>& setLo, int channels)
{
    (void)setHi;
    (void)setLo;
    HistoryRequest rq;
    rq.logDir = logDir;
    rq.from = from;
    rq.to = to;
    rq.channels = channels;
    std::string out;
    exportLog(rq, labels, 0, [&](const std::string& text) { out += text; });
    return out;
}

} // namespace qm
