#include "trend/qt_trend_window.h"

#include "trend/csv_export.h"
#include "trend/gaps.h"
#include "trend/qt_trend_parts.h"

#include <QLabel>
#include <QTimer>

namespace qm {

void TrendWindow::startLoad(qint64 from, qint64 to, qint64 width)
{
    loader_.reset(); // a load still running is cancelled
    auto load = std::make_unique<Load>();
    load->from = from;
    load->to = to;
    load->width = width;
    HistoryRequest rq;
    rq.logDir = logDir_;
    rq.from = from;
    rq.to = to;
    rq.widthMs = width;
    rq.until = store_.coverageFrom();
    rq.setHi = store_.setHi;
    rq.setLo = store_.setLo;
    rq.channels = store_.channels;
    rq.tellMissing = !live_;
    const quint64 generation = ++generation_;
    Load* l = load.get();
    load->thread = std::thread([this, l, rq, generation] {
        l->result = reader_.read(rq, &l->permille, &l->cancel);
        QMetaObject::invokeMethod(
            this, [this, generation] { loaded(generation); }, Qt::QueuedConnection);
    });
    loader_ = std::move(load);
}

void TrendWindow::loaded(quint64 generation)
{
    if (!loader_ || generation != generation_)
        return;
    loader_->thread.join();
    history_ = std::move(loader_->result);
    historyValid_ = !history_.cancelled;
    loader_.reset();
    refresh(true);
}

quint8 TrendWindow::shownChannels() const
{
    const int configured = store_.channels > 0 ? store_.channels : 8;
    const quint8 inUse = quint8((1u << std::min(configured, 8)) - 1) | series_.channels;
    return quint8(inUse & ~hidden_);
}

void TrendWindow::refresh(bool force)
{
    if (!isVisible())
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Live, the view moves with the clock, a pixel's time at once and at
    // most every two seconds (a redraw of the strips takes about 2 ms; the
    // main window shows every value as it comes): new readings wait too.
    const qint64 step = std::max<qint64>(span_ / std::max(plot_->width(), 100), 2000);
    if (!force && (!live_ || now - drawnAt_ < step)) {
        if (loader_)
            note_->setText(tr("Reading the logs… %1 %").arg(loader_->permille / 10));
        return;
    }
    drawnAt_ = now;
    if (live_)
        end_ = now;
    const qint64 from = end_ - span_;
    const qint64 width = bucketWidthFor(span_);
    // What came before this run comes from the logs, in the background.
    const qint64 liveFrom = store_.coverageFrom();
    const bool needLogs = from < liveFrom;
    // Live, the logs do not grow but by this run's own readings, which the
    // store has: what was read stays enough as the view moves on.
    const bool covered = historyValid_ && history_.series.widthMs == width &&
                         history_.series.from <= from &&
                         (live_ || history_.series.to() >= std::min(end_, liveFrom));
    const bool pending = loader_ && loader_->width == width && loader_->from <= from &&
                         (live_ || loader_->to >= end_);
    if (needLogs && !covered && !pending && !logDir_.isEmpty())
        startLoad(from, end_, width);

    // A range of the logs alone is drawn once it is read; until then the
    // picture stays and the note says how far the reading is.
    if (!loader_ || liveFrom < end_) {
        composeSeries(from, width, liveFrom);
        draw();
    }

    showNote(now);
}

// What is drawn: the logs' part as read, then this run's readings from the
// store. Live, the buckets complete at the last redraw are kept; only the
// newer readings are taken from the store.
void TrendWindow::composeSeries(qint64 from, qint64 width, qint64 liveFrom)
{
    series_ = Series(from, end_, width);
    if (historyValid_)
        series_.add(history_.series);
    const qint64 liveStart = std::max(from, std::min(liveFrom, end_));
    Series live(liveStart, end_, width);
    const qint64 keep = Series(liveNewest_, liveNewest_ + 1, width).from;
    if (live_ && liveCache_.widthMs == width && liveCache_.from <= live.from &&
        liveNewest_ != INT64_MIN && keep > live.from) {
        live.add(liveCache_, keep);
        live.add(store_.series(keep, end_, width));
    } else {
        live.add(store_.series(liveStart, end_, width));
    }
    liveNewest_ = store_.newest();
    series_.add(live);
    liveCache_ = std::move(live);
}

// The note and its tooltip: the reading of the logs or the range's problems, live how long
// no reading came, and how the last export went.
void TrendWindow::showNote(qint64 now)
{
    QString text;
    if (loader_)
        text = tr("Reading the logs… %1 %").arg(loader_->permille / 10);
    // Every problem of the range in the tooltip, the first in the note.
    QStringList problems;
    if (historyValid_)
        for (const std::string& p : history_.problems)
            problems << QString::fromStdString(p);
    if (!loader_ && !problems.isEmpty())
        text = problems.front() +
               (problems.size() > 1 ? tr(" (and %1 more)").arg(problems.size() - 1) : QString());
    note_->setToolTip(problems.join(QLatin1Char('\n')));
    if (live_) {
        const qint64 newest = store_.newest();
        const QString since = newest == INT64_MIN ? tr("No reading yet")
                              : now - newest > store_.gapMs()
                                  ? tr("No reading since %1")
                                        .arg(timeText(newest, now - newest > TrendStore::kDayMs / 2
                                                                  ? "yyyy-MM-dd hh:mm:ss"
                                                                  : "hh:mm:ss"))
                                  : QString();
        text = since.isEmpty()  ? text
               : text.isEmpty() ? since
                                : since + QStringLiteral("; ") + text;
    }
    if (!exportNote_.isEmpty())
        text = text.isEmpty() ? exportNote_ : exportNote_ + QStringLiteral("; ") + text;
    note_->setText(text);
}

} // namespace qm
