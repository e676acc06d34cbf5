#include "trend/qt_trend_window.h"

#include "base/numbers.h"
#include "trend/gaps.h"
#include "trend/plot_data.h"
#include "trend/qt_trend_parts.h"

#include <QLabel>

namespace qm {

QString TrendWindow::rangeText(qint64 from, qint64 to)
{
    // Whole days by their dates.
    const QDateTime a = QDateTime::fromMSecsSinceEpoch(from),
                    b = QDateTime::fromMSecsSinceEpoch(to);
    if (a.time() == QTime(0, 0) && b.time() == QTime(0, 0)) {
        const QString first = a.date().toString(Qt::ISODate);
        return a.date().addDays(1) == b.date()
                   ? first
                   : first + QStringLiteral(" – ") + b.date().addDays(-1).toString(Qt::ISODate);
    }
    return timeText(from, "yyyy-MM-dd hh:mm") + QStringLiteral(" – ") +
           timeText(to, "yyyy-MM-dd hh:mm");
}

QString TrendWindow::summary() const
{
    QStringList parts;
    const qint64 pause = 120'000;
    const std::vector<bool> breaks =
        breaks_.size() == series_.buckets.size() ? breaks_ : breaksBefore(series_);
    for (const auto& s : strips_) {
        const int i = s->channel;
        const std::size_t c = std::size_t(i - 1);
        float lo = NAN, hi = NAN, last = NAN;
        qint64 lastMs = INT64_MIN;
        for (const Bucket& b : series_.buckets) {
            if (!(b.has >> c & 1))
                continue;
            if (!std::isnan(b.min[c])) {
                lo = std::isnan(lo) ? b.min[c] : std::min(lo, b.min[c]);
                hi = std::isnan(hi) ? b.max[c] : std::max(hi, b.max[c]);
            }
            if (b.lastMs >= lastMs) {
                lastMs = b.lastMs;
                last = b.last[c];
            }
        }
        const auto form = [this](float v) {
            return std::isnan(v) ? tr("none") : displayForm(v, locale());
        };
        const int episodes = alarmEpisodes(alarmStretches(series_, i, breaks), pause);
        parts << tr("%1: min %2, max %3, last %4, %5 alarm episode(s)")
                     .arg(nameOf(store_.labels, i), form(lo), form(hi), form(last))
                     .arg(episodes);
    }
    const qint64 gaps = std::count(breaks.begin(), breaks.end(), true);
    return tr("%1, %2 readings, %3. ")
               .arg(rangeText(series_.from, end_))
               .arg(series_.readings())
               .arg(gaps == 1 ? tr("1 gap") : tr("%1 gaps").arg(gaps)) +
           parts.join(QStringLiteral("; "));
}

QString TrendWindow::proposedName() const
{
    QString range = rangeText(end_ - span_, end_);
    range.replace(QStringLiteral(" – "), QStringLiteral("--"));
    range.replace(QLatin1Char(' '), QLatin1Char('_'));
    range.remove(QLatin1Char(':'));
    return programName_ + QLatin1Char('-') + range;
}

} // namespace qm
