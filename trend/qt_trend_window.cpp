#include "trend/qt_trend_window.h"

#include "app/files.h"
#include "app/numbers.h"
#include "channels/channel_name.h"
#include "trend/csv_export.h"
#include "trend/day_clock.h"
#include "trend/gaps.h"
#include "trend/plot_data.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QToolTip>
#include <qcustomplot.h>

namespace qm {

namespace {

struct RangeChoice {
    const char* name;
    qint64 spanMs; // 0: chosen dates
};
constexpr RangeChoice kRanges[] = {
    {"Last 10 minutes", 600'000},
    {"Last hour", 3'600'000},
    {"Last 8 hours", 28'800'000},
    {"Last 24 hours", TrendStore::kDayMs},
    {"Last 7 days", 7 * TrendStore::kDayMs},
    {"Last 30 days", 30 * TrendStore::kDayMs},
    {"Dates…", 0},
};
constexpr int kLiveRanges = 4; // the ones the store can follow live

// The path with `suffix` added when it has none of its own.
QString withSuffix(const QString& path, const char* suffix)
{
    if (path.isEmpty() || path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive))
        return path;
    return path + QLatin1String(suffix);
}

// Ticks on local minutes, hours and midnights, as many as the axis has room
// for.
class LocalTimeTicker final : public QCPAxisTickerDateTime {
protected:
    QVector<double> createTickVector(double, const QCPRange& range) override
    {
        QVector<double> out;
        for (const qint64 t : localTicks(qint64(std::ceil(range.lower * 1000)),
                                         qint64(std::floor(range.upper * 1000)) + 1, tickCount()))
            out.append(double(t) / 1000);
        return out;
    }
    int getSubTickCount(double) override { return 0; }
};

QColor qcolour(Rgb c)
{
    return {c.r, c.g, c.b};
}

QString nameOf(const ChannelArray<String>& labels, int i)
{
    return channelName(i, labels[std::size_t(i)]);
}

QString timeText(qint64 ms, const char* format)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QString::fromLatin1(format));
}

const QColor kGrid(64, 64, 64), kAxis(150, 150, 150), kText(210, 210, 210);

void darkAxis(QCPAxis* a)
{
    a->setBasePen(QPen(kAxis));
    a->setTickPen(QPen(kAxis));
    a->setSubTickPen(QPen(kAxis));
    a->setTickLabelColor(kText);
    a->setLabelColor(kText);
    a->grid()->setPen(QPen(kGrid, 0, Qt::DotLine));
}

} // namespace

// A history read in the background.
struct TrendWindow::Load {
    std::atomic<int> permille = 0;
    std::atomic<bool> cancel = false;
    qint64 from = 0, to = 0, width = 0;
    History result;
    std::thread thread;
    ~Load()
    {
        cancel = true;
        if (thread.joinable())
            thread.join();
    }
};

// A CSV export written in the background.
struct TrendWindow::Export {
    std::atomic<int> permille = 0;
    std::atomic<bool> cancel = false;
    std::thread thread;
    ~Export()
    {
        cancel = true;
        if (thread.joinable())
            thread.join();
    }
};

// One channel's part of the plot: its strip (or its axis in the overlay),
// line, marks beyond the scaling, limit lines, name and crosshair.
struct TrendWindow::Strip {
    int channel = 0;
    QCPAxisRect* rect = nullptr;
    QCPAxis* valueAxis = nullptr;
    QCPGraph* line = nullptr;
    QCPGraph* beyond = nullptr;
    QCPGraph* dots = nullptr;    // readings alone
    QCPGraph* outside = nullptr; // beyond the scale
    bool ownScale = false;       // the user zoomed or moved the value axis
    QCPItemStraightLine* hi = nullptr;
    QCPItemStraightLine* lo = nullptr;
    QCPItemStraightLine* cross = nullptr;
    QCPItemText* name = nullptr;
    std::vector<QCPItemRect*> stretches;
};

TrendWindow::TrendWindow(TrendStore& store, QByteArray logDir, const QString& programName)
    : store_(store)
    , logDir_(std::move(logDir))
    , programName_(programName)
{
    setWindowTitle(QStringLiteral("Quellmark: ") + programName + QStringLiteral(" trend"));
    resize(1100, 640);
    auto* bar = new QHBoxLayout;
    range_ = new QComboBox;
    for (const RangeChoice& r : kRanges)
        range_->addItem(tr(r.name));
    range_->setAccessibleDescription(QStringLiteral("Time range"));
    connect(range_, &QComboBox::activated, this, [this](int i) {
        if (kRanges[i].spanMs == 0) {
            QDialog d(this);
            d.setWindowTitle(tr("Dates"));
            auto* form = new QFormLayout(&d);
            auto* from = new QDateEdit(QDate::currentDate().addDays(-1));
            auto* to = new QDateEdit(QDate::currentDate());
            for (QDateEdit* e : {from, to}) {
                e->setCalendarPopup(true);
                e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
            }
            form->addRow(tr("From:"), from);
            form->addRow(tr("To (inclusive):"), to);
            auto* wrong = new QLabel;
            wrong->setStyleSheet(QStringLiteral("color: #c00000"));
            form->addRow(wrong);
            auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
            form->addRow(buttons);
            connect(buttons, &QDialogButtonBox::accepted, &d, [&] {
                if (from->date() > to->date())
                    wrong->setText(tr("“From” is after “To”."));
                else
                    d.accept();
            });
            connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
            if (d.exec() == QDialog::Accepted)
                showRange(QDateTime(from->date(), QTime(0, 0)).toMSecsSinceEpoch(),
                          QDateTime(to->date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch(), true);
            else
                range_->setCurrentIndex(rangeIndex_);
        } else if (i < kLiveRanges) {
            showLive(kRanges[i].spanMs);
        } else {
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            showRange(now - kRanges[i].spanMs, now);
        }
    });
    mode_ = new QComboBox;
    mode_->addItems({tr("Strips"), tr("One plot")});
    mode_->setAccessibleDescription(QStringLiteral("Trend view"));
    connect(mode_, &QComboBox::activated, this, [this](int i) { setOverlay(i == 1); });
    auto* png = new QPushButton(tr("Export PNG…"));
    connect(png, &QPushButton::clicked, this, [this] {
        const QString path =
            withSuffix(QFileDialog::getSaveFileName(this, tr("Export PNG"), proposedName() + ".png",
                                                    QStringLiteral("PNG (*.png)")),
                       ".png");
        if (!path.isEmpty() && !exportPng(path))
            QMessageBox::warning(this, tr("Export PNG"), tr("Cannot write %1").arg(path));
    });
    auto* csv = new QPushButton(tr("Export CSV…"));
    connect(csv, &QPushButton::clicked, this, [this] {
        // Long ranges: every reading, or the lowest, mean and highest per slice.
        qint64 slice = 0;
        if (span_ > TrendStore::kDayMs) {
            static constexpr std::pair<const char*, qint64> choices[] = {
                {"Every reading", 0},
                {"Lowest, mean, highest per minute", 60'000},
                {"Lowest, mean, highest per 15 minutes", 900'000},
                {"Lowest, mean, highest per hour", 3'600'000},
            };
            QStringList names;
            for (const auto& c : choices)
                names << tr(c.first);
            bool ok = false;
            const QString chosen =
                QInputDialog::getItem(this, tr("Export CSV"), tr("Rows:"), names, 0, false, &ok);
            if (!ok)
                return;
            slice = choices[names.indexOf(chosen)].second;
        }
        const QString path =
            withSuffix(QFileDialog::getSaveFileName(this, tr("Export CSV"), proposedName() + ".csv",
                                                    QStringLiteral("CSV (*.csv)")),
                       ".csv");
        if (!path.isEmpty())
            exportCsv(path, slice);
    });
    note_ = new QLabel;
    note_->setAccessibleDescription(QStringLiteral("Trend note"));
    note_->setTextFormat(Qt::PlainText);
    for (QWidget* w : std::initializer_list<QWidget*>{range_, mode_, png, csv})
        bar->addWidget(w);
    bar->addWidget(note_, 1);

    auto* channels = new QVBoxLayout;
    for (int i = 1; i <= 8; ++i) {
        auto* box = new QCheckBox(QStringLiteral("V0%1").arg(i));
        box->setChecked(true);
        connect(box, &QCheckBox::toggled, this, [this, i](bool on) {
            hidden_ = on ? quint8(hidden_ & ~(1u << (i - 1))) : quint8(hidden_ | 1u << (i - 1));
            refresh(true);
        });
        boxes_[std::size_t(i)] = box;
        channels->addWidget(box);
    }
    channels->addStretch();

    plot_ = new QCustomPlot;
    plot_->setAccessibleName(QStringLiteral("Trend plot"));
    plot_->setBackground(Qt::black);
    plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot_->setNotAntialiasedElements(QCP::aeAll); // lines of one pixel: the painter's fast path
    plot_->setMouseTracking(true);
    connect(plot_, &QCustomPlot::mouseMove, this,
            [this](QMouseEvent* e) { crosshair(e->position().toPoint()); });
    // On a strip's value axis the wheel zooms it and a drag moves it; a
    // double-click gives it back its automatic scale.
    const auto onValueAxis = [this](QMouseEvent* e) -> Strip* {
        for (const auto& s : strips_)
            if (s->valueAxis->visible() && s->valueAxis->selectTest(e->position(), false) >= 0)
                return s.get();
        return nullptr;
    };
    const auto grip = [this, onValueAxis](QMouseEvent* e) {
        Strip* held = onValueAxis(e);
        for (const auto& s : strips_) {
            QCPAxis* x = s->rect->axis(QCPAxis::atBottom);
            const bool value = held && held->rect == s->rect;
            QCPAxis* y = value ? held->valueAxis : nullptr;
            s->rect->setRangeDrag(value ? Qt::Vertical : Qt::Horizontal);
            s->rect->setRangeZoom(value ? Qt::Vertical : Qt::Horizontal);
            s->rect->setRangeDragAxes(value ? nullptr : x, y);
            s->rect->setRangeZoomAxes(value ? nullptr : x, y);
        }
        if (held)
            held->ownScale = true;
    };
    connect(plot_, &QCustomPlot::mousePress, this, grip);
    connect(plot_, &QCustomPlot::mouseWheel, this, [grip](QWheelEvent* e) {
        QMouseEvent at(QEvent::MouseMove, e->position(), e->globalPosition(), Qt::NoButton,
                       Qt::NoButton, Qt::NoModifier);
        grip(&at);
    });
    plot_->installEventFilter(this);
    connect(plot_, &QCustomPlot::mouseDoubleClick, this, [this, onValueAxis](QMouseEvent* e) {
        if (Strip* s = onValueAxis(e)) {
            s->ownScale = false;
            return refresh(true);
        }
        if (range_->currentIndex() < kLiveRanges)
            showLive(liveSpan_);
        else
            showRange(rangeFrom_, rangeTo_);
    });

    auto* body = new QHBoxLayout;
    body->addLayout(channels);
    body->addWidget(plot_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addLayout(body, 1);

    timer_ = new QTimer(this);
    timer_->setInterval(250);
    connect(timer_, &QTimer::timeout, this, [this] { refresh(); });
    settle_ = new QTimer(this); // a drag or a turn of the wheel has settled
    settle_->setSingleShot(true);
    settle_->setInterval(200);
    connect(settle_, &QTimer::timeout, this, [this] { refresh(true); });
}

TrendWindow::~TrendWindow() = default;

bool TrendWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The crosshair leaves with the pointer.
    if (watched == plot_ && event->type() == QEvent::Leave && !strips_.empty() &&
        strips_.front()->cross->visible()) {
        for (const auto& s : strips_)
            s->cross->setVisible(false);
        QToolTip::hideText();
        plot_->replot(QCustomPlot::rpQueuedReplot);
    }
    return QWidget::eventFilter(watched, event);
}

void TrendWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    timer_->start();
    refresh(true);
}

void TrendWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    timer_->stop(); // a closed trend window costs nothing
}

void TrendWindow::showLive(qint64 spanMs)
{
    live_ = true;
    span_ = liveSpan_ = spanMs;
    for (int i = 0; i < kLiveRanges; ++i)
        if (kRanges[i].spanMs == spanMs)
            range_->setCurrentIndex(rangeIndex_ = i);
    range_->setItemText(int(std::size(kRanges)) - 1, tr(kRanges[std::size(kRanges) - 1].name));
    historyValid_ = false;
    refresh(true);
}

void TrendWindow::showRange(qint64 fromMs, qint64 toMs, bool dates)
{
    live_ = false;
    rangeFrom_ = fromMs;
    rangeTo_ = toMs;
    end_ = toMs;
    span_ = std::max<qint64>(toMs - fromMs, 10'000);
    const int datesIndex = int(std::size(kRanges)) - 1;
    int index = datesIndex;
    for (int i = kLiveRanges; i < datesIndex && !dates; ++i)
        if (kRanges[i].spanMs == toMs - fromMs)
            index = i;
    // Chosen dates are named by their dates.
    range_->setItemText(datesIndex, index == datesIndex ? rangeText(fromMs, toMs)
                                                        : tr(kRanges[datesIndex].name));
    range_->setCurrentIndex(rangeIndex_ = index);
    historyValid_ = false;
    refresh(true);
}

void TrendWindow::showDay(QDate day)
{
    showRange(QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch(),
              QDateTime(day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch());
}

void TrendWindow::pan(qint64 ms)
{
    if (live_)
        end_ = std::max(QDateTime::currentMSecsSinceEpoch(), store_.newest() + 1);
    live_ = false;
    end_ += ms;
    refresh(true);
}

void TrendWindow::setOverlay(bool overlay)
{
    overlay_ = overlay;
    mode_->setCurrentIndex(overlay ? 1 : 0);
    refresh(true);
}

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
        series_ = Series(from, end_, width);
        if (historyValid_)
            series_.add(history_.series);
        // This run's readings. Live, the buckets complete at the last redraw
        // are kept; only the newer readings are taken from the store.
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
        draw();
    }

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

void TrendWindow::rebuild(quint8 shown)
{
    strips_.clear();
    plot_->clearItems();
    plot_->clearGraphs();
    plot_->plotLayout()->clear();
    layoutOf_ = shown;
    layoutOverlay_ = overlay_;
    auto* margins = new QCPMarginGroup(plot_);
    auto ticker = QSharedPointer<LocalTimeTicker>::create();
    ticker->setTickCount(8);
    int row = 0;
    QCPAxisRect* overlayRect = nullptr;
    for (int i = 1; i <= 8; ++i) {
        if (!(shown >> (i - 1) & 1))
            continue;
        auto s = std::make_unique<Strip>();
        s->channel = i;
        if (overlay_ && overlayRect) {
            s->rect = overlayRect;
            // A few axes, two on either side; the others' values are in the
            // crosshair's tooltip.
            const int index = int(strips_.size());
            s->valueAxis = overlayRect->addAxis(index % 2 ? QCPAxis::atRight : QCPAxis::atLeft);
            s->valueAxis->setVisible(index < 4);
        } else {
            s->rect = new QCPAxisRect(plot_);
            plot_->plotLayout()->addElement(row++, 0, s->rect);
            s->rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
            s->rect->setBackground(Qt::black);
            s->rect->setRangeDrag(Qt::Horizontal);
            s->rect->setRangeZoom(Qt::Horizontal);
            s->valueAxis = s->rect->axis(QCPAxis::atLeft);
            QCPAxis* x = s->rect->axis(QCPAxis::atBottom);
            x->setTicker(ticker);
            darkAxis(x);
            s->rect->setRangeDragAxes(x, nullptr);
            s->rect->setRangeZoomAxes(x, nullptr);
            connect(x, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
                    [this](const QCPRange& r) { userRange(r.lower, r.upper); });
            overlayRect = s->rect;
        }
        darkAxis(s->valueAxis);
        s->valueAxis->ticker()->setTickCount(overlay_ ? 6 : 3);
        QCPAxis* x = s->rect->axis(QCPAxis::atBottom);
        s->line = plot_->addGraph(x, s->valueAxis);
        s->line->setAdaptiveSampling(true);
        s->dots = plot_->addGraph(x, s->valueAxis);
        s->dots->setLineStyle(QCPGraph::lsNone);
        s->outside = plot_->addGraph(x, s->valueAxis);
        s->outside->setLineStyle(QCPGraph::lsNone);
        s->beyond = plot_->addGraph(x, s->valueAxis);
        s->beyond->setLineStyle(QCPGraph::lsNone);
        s->beyond->setScatterStyle(
            QCPScatterStyle(QCPScatterStyle::ssTriangle, QPen(Qt::red), QBrush(Qt::red), 9));
        const auto limitLine = [&] {
            auto* l = new QCPItemStraightLine(plot_);
            l->setClipAxisRect(s->rect);
            for (QCPItemPosition* p : {l->point1, l->point2})
                p->setAxes(x, s->valueAxis);
            return l;
        };
        s->hi = limitLine();
        s->lo = limitLine();
        s->cross = new QCPItemStraightLine(plot_);
        s->cross->setClipAxisRect(s->rect);
        s->cross->setPen(QPen(QColor(230, 230, 230), 0, Qt::DashLine));
        for (QCPItemPosition* p : {s->cross->point1, s->cross->point2}) {
            p->setAxes(x, s->valueAxis);
            p->setAxisRect(s->rect);
            p->setTypeY(QCPItemPosition::ptAxisRectRatio);
        }
        s->cross->point2->setCoords(0, 1);
        s->cross->setVisible(false);
        s->name = new QCPItemText(plot_);
        s->name->setClipAxisRect(s->rect);
        s->name->position->setType(QCPItemPosition::ptAxisRectRatio);
        s->name->position->setAxisRect(s->rect);
        s->name->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        // In one plot the names follow each other along the top.
        if (overlay_ && !strips_.empty()) {
            s->name->position->setType(QCPItemPosition::ptAbsolute);
            s->name->position->setParentAnchor(strips_.back()->name->topRight);
            s->name->position->setCoords(14, 0);
        } else {
            s->name->position->setCoords(0.005, 0.02);
        }
        strips_.push_back(std::move(s));
    }
    // The time axis is labelled under the lowest strip, the others show its grid.
    QCPAxisRect* lowest = nullptr;
    for (const auto& s : strips_) {
        s->rect->axis(QCPAxis::atBottom)->setTickLabels(false);
        lowest = s->rect;
    }
    if (lowest)
        lowest->axis(QCPAxis::atBottom)->setTickLabels(true);
    for (int r = 0; r < row; ++r)
        plot_->plotLayout()->setRowStretchFactor(r, 1);
    plot_->plotLayout()->setRowSpacing(2);
}

void TrendWindow::draw()
{
    const quint8 shown = shownChannels();
    for (int i = 1; i <= 8; ++i) {
        QCheckBox* box = boxes_[std::size_t(i)];
        const bool inUse = (shown | hidden_) >> (i - 1) & 1;
        box->setVisible(inUse);
        box->setText(nameOf(store_.labels, i));
    }
    if (shown != layoutOf_ || overlay_ != layoutOverlay_)
        rebuild(shown);
    const std::array<Rgb, 9> colours = trendColours(store_.colours, quint8(shown | hidden_));
    const double from = double(series_.from) / 1000, to = double(end_) / 1000;
    breaks_ = breaksBefore(series_);
    const std::vector<bool>& breaks = breaks_;
    settingRange_ = true;
    for (const auto& s : strips_) {
        const int i = s->channel;
        const std::size_t c = std::size_t(i - 1);
        const QColor colour = qcolour(colours[std::size_t(i)]);
        if (boxes_[std::size_t(i)]->property("colour").value<QColor>() != colour) {
            QPixmap swatch(12, 12);
            swatch.fill(colour);
            boxes_[std::size_t(i)]->setIcon(swatch);
            boxes_[std::size_t(i)]->setProperty("colour", colour);
        }
        // The line, broken where the device stopped; a reading alone as a
        // dot; the values beyond the scaling (INF) and beyond the scale as
        // marks at the strip's edge.
        const std::vector<Point> line = lineOf(series_, i, breaks);
        QVector<QCPGraphData> points, dots;
        std::vector<double> values;
        values.reserve(line.size());
        for (std::size_t k = 0; k < line.size(); ++k) {
            const Point& p = line[k];
            points.append({double(p.ms) / 1000, p.value});
            if (std::isnan(p.value))
                continue;
            values.push_back(p.value);
            if ((k == 0 || std::isnan(line[k - 1].value)) &&
                (k + 1 == line.size() || std::isnan(line[k + 1].value)))
                dots.append({double(p.ms) / 1000, p.value});
        }
        s->line->data()->set(points, true);
        s->line->setPen(QPen(colour, 0));
        s->dots->data()->set(dots, true);
        s->dots->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, colour, colour, 4));
        const float setHi = store_.setHi[std::size_t(i)], setLo = store_.setLo[std::size_t(i)];
        if (!s->ownScale) {
            const auto [lo, hi] = valueScale(std::move(values), setLo, setHi);
            s->valueAxis->setRange(lo, hi);
        }
        const QCPRange shown = s->valueAxis->range();
        QVector<QCPGraphData> beyond, outside;
        for (const Bucket& b : series_.buckets) {
            if ((b.posInf | b.negInf) >> c & 1)
                beyond.append(
                    {double(b.lastMs) / 1000, (b.posInf >> c & 1) ? shown.upper : shown.lower});
            if (b.hasChannel(i) && !std::isnan(b.min[c]) && b.min[c] < shown.lower)
                outside.append({double(b.lastMs) / 1000, shown.lower});
            if (b.hasChannel(i) && !std::isnan(b.max[c]) && b.max[c] > shown.upper)
                outside.append({double(b.lastMs) / 1000, shown.upper});
        }
        s->beyond->data()->set(beyond, true);
        s->outside->data()->set(outside, false);
        s->outside->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssTriangleInverted,
                                                    QPen(colour), QBrush(Qt::NoBrush), 7));
        for (auto [line, limit] : {std::pair(s->hi, setHi), std::pair(s->lo, setLo)}) {
            line->point1->setCoords(from, limit);
            line->point2->setCoords(to, limit);
            line->setPen(QPen(colour.darker(130), 0, Qt::DashLine));
            line->setVisible(!overlay_ || strips_.size() == 1);
        }
        s->name->setText(nameOf(store_.labels, i));
        s->name->setColor(colour);
        if (overlay_) {
            s->valueAxis->setBasePen(QPen(colour));
            s->valueAxis->setTickLabelColor(colour);
        }
        // Its alarm stretches, shaded.
        for (QCPItemRect* r : s->stretches)
            plot_->removeItem(r);
        s->stretches.clear();
        const std::vector<std::pair<qint64, qint64>> stretches = alarmStretches(series_, i, breaks);
        const qint64 pixel = std::max<qint64>((end_ - series_.from) / 1000, 1);
        for (std::size_t k = 0; k < stretches.size(); ++k) {
            qint64 a = stretches[k].first, b = stretches[k].second;
            while (k + 1 < stretches.size() && stretches[k + 1].first - b < pixel)
                b = stretches[++k].second; // closer than a pixel: one shade
            auto* r = new QCPItemRect(plot_);
            r->setClipAxisRect(s->rect);
            for (QCPItemPosition* p : {r->topLeft, r->bottomRight}) {
                p->setAxes(s->rect->axis(QCPAxis::atBottom), s->valueAxis);
                p->setAxisRect(s->rect);
                p->setTypeY(QCPItemPosition::ptAxisRectRatio);
            }
            b = std::max(b, a + pixel);
            r->topLeft->setCoords(double(a) / 1000, 0);
            r->bottomRight->setCoords(double(b) / 1000, 1);
            r->setPen(Qt::NoPen);
            r->setBrush(QColor(255, 0, 0, overlay_ ? 35 : 60));
            s->stretches.push_back(r);
        }
        s->rect->axis(QCPAxis::atBottom)->setRange(from, to);
    }
    settingRange_ = false;
    // The date goes on the time axis where the range is not within today.
    if (!strips_.empty()) {
        auto ticker = qSharedPointerCast<QCPAxisTickerDateTime>(
            strips_.front()->rect->axis(QCPAxis::atBottom)->ticker());
        const QDate first = QDateTime::fromMSecsSinceEpoch(series_.from).date();
        const QDate last = QDateTime::fromMSecsSinceEpoch(end_ - 1).date();
        const bool today = first == last && last == QDate::currentDate();
        // Labels apart: a tick for every 110 pixels at most.
        ticker->setTickCount(std::max(3, (plot_->width() - 120) / 110));
        const QString format = span_ > 8 * TrendStore::kDayMs ? QStringLiteral("yyyy-MM-dd")
                               : span_ > 36 * 3'600'000       ? QStringLiteral("yyyy-MM-dd\nhh:mm")
                               : span_ <= 900'000             ? QStringLiteral("hh:mm:ss")
                                                              : QStringLiteral("hh:mm");
        ticker->setDateTimeFormat(
            today || span_ > 36 * 3'600'000 ? format : format + QStringLiteral("\nyyyy-MM-dd"));
    }
    plot_->setAccessibleDescription(summary());
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void TrendWindow::userRange(double lower, double upper)
{
    if (settingRange_)
        return;
    settingRange_ = true;
    for (const auto& s : strips_)
        s->rect->axis(QCPAxis::atBottom)->setRange(lower, upper);
    settingRange_ = false;
    live_ = false;
    end_ = qint64(upper * 1000);
    span_ = std::clamp<qint64>(qint64((upper - lower) * 1000), 10'000, 400 * TrendStore::kDayMs);
    settle_->start(); // read and draw anew once the mouse rests
}

void TrendWindow::crosshair(const QPoint& pos)
{
    QCPAxisRect* rect = nullptr;
    for (const auto& s : strips_)
        if (s->rect->rect().contains(pos))
            rect = s->rect;
    const quint8 shown = shownChannels();
    const Bucket* best = nullptr;
    if (rect && !series_.buckets.empty()) {
        const qint64 t = qint64(rect->axis(QCPAxis::atBottom)->pixelToCoord(pos.x()) * 1000);
        // The nearest reading: the buckets on either side of the pointer.
        const qint64 n = qint64(series_.buckets.size());
        const qint64 at = std::clamp<qint64>((t - series_.from) / series_.widthMs, 0, n - 1);
        for (qint64 d = 0; d < n && !best; ++d)
            for (const qint64 k : {at - d, at + d})
                if (k >= 0 && k < n && (series_.buckets[std::size_t(k)].has & shown) &&
                    (!best || std::abs(series_.buckets[std::size_t(k)].lastMs - t) <
                                  std::abs(best->lastMs - t)))
                    best = &series_.buckets[std::size_t(k)];
    }
    for (const auto& s : strips_) {
        s->cross->setVisible(best != nullptr);
        if (best) {
            s->cross->point1->setCoords(double(best->lastMs) / 1000, 0);
            s->cross->point2->setCoords(double(best->lastMs) / 1000, 1);
        }
    }
    plot_->replot(QCustomPlot::rpQueuedReplot);
    if (!best)
        return QToolTip::hideText();
    QString text = QString::fromStdString(isoLocal(best->lastMs)).replace(QLatin1Char('T'), ' ');
    for (const auto& s : strips_) {
        const std::size_t c = std::size_t(s->channel - 1);
        text += QLatin1Char('\n') + nameOf(store_.labels, s->channel) + QStringLiteral(": ") +
                (!(best->has >> c & 1) ? QStringLiteral("–")
                 : std::isinf(best->last[c])
                     ? (best->last[c] > 0 ? QStringLiteral("INF") : QStringLiteral("-INF"))
                     : displayForm(best->last[c], locale()));
    }
    QToolTip::showText(plot_->mapToGlobal(pos), text, plot_);
}

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

QString TrendWindow::note() const
{
    return note_->text();
}

QString TrendWindow::proposedName() const
{
    QString range = rangeText(end_ - span_, end_);
    range.replace(QStringLiteral(" – "), QStringLiteral("--"));
    range.replace(QLatin1Char(' '), QLatin1Char('_'));
    range.remove(QLatin1Char(':'));
    return programName_ + QLatin1Char('-') + range;
}

void TrendWindow::exportCsv(const QString& path, qint64 sliceMs)
{
    exporter_.reset();
    auto job = std::make_unique<Export>();
    Export* e = job.get();
    HistoryRequest rq;
    rq.logDir = logDir_;
    rq.from = end_ - span_;
    rq.to = end_;
    rq.channels = store_.channels;
    // Readings never logged (logging off) as the plot has them.
    const std::string shown = csvOf(series_, store_.labels, store_.channels);
    const ChannelArray<String> labels = store_.labels;
    e->thread = std::thread([this, e, rq, shown, labels, sliceMs, path] {
        QSaveFile file(path);
        bool ok = file.open(QIODevice::WriteOnly);
        const auto write = [&](const std::string& text) {
            ok = ok && file.write(text.data(), qint64(text.size())) == qint64(text.size());
        };
        const bool logged =
            !rq.logDir.isEmpty() && exportLog(rq, labels, sliceMs, write, &e->cancel, &e->permille);
        if (!logged && ok) {
            file.cancelWriting();
            file.open(QIODevice::WriteOnly);
            ok = file.isOpen();
            write(shown);
        }
        ok = ok && !e->cancel && file.commit();
        const QString error = file.errorString();
        QMetaObject::invokeMethod(
            this,
            [this, e, ok, error, path] {
                if (exporter_.get() != e)
                    return;
                exporter_->thread.join();
                exporter_.reset();
                exportDone_ = ok;
                exportNote_ = ok ? tr("Exported to %1").arg(path)
                                 : tr("Cannot write %1: %2").arg(path, error);
                refresh(true);
            },
            Qt::QueuedConnection);
    });
    exporter_ = std::move(job);
    exportNote_ = tr("Exporting…");
    refresh(true);
}

bool TrendWindow::exportPng(const QString& path)
{
    // The plot under a title: the instance, the range and its dates; the
    // crosshair is the user's, not the picture's.
    for (const auto& s : strips_)
        s->cross->setVisible(false);
    const QPixmap chart = plot_->toPixmap(plot_->width(), plot_->height());
    QImage image(chart.width(), chart.height() + 28, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.drawPixmap(0, 28, chart);
    p.setPen(kText);
    QFont font = p.font();
    font.setPointSize(11);
    p.setFont(font);
    p.drawText(QRect(8, 0, image.width() - 16, 28), Qt::AlignVCenter | Qt::AlignLeft,
               programName_ + QStringLiteral(": ") + rangeText(series_.from, end_));
    p.end();
    return image.save(path, "PNG");
}

} // namespace qm
