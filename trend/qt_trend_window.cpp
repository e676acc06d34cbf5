#include "trend/qt_trend_window.h"

#include "trend/qt_trend_parts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
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

} // namespace

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
    connect(range_, &QComboBox::activated, this, &TrendWindow::rangeChosen);
    mode_ = new QComboBox;
    mode_->addItems({tr("Strips"), tr("One plot")});
    mode_->setAccessibleDescription(QStringLiteral("Trend view"));
    connect(mode_, &QComboBox::activated, this, [this](int i) { setOverlay(i == 1); });
    auto* png = new QPushButton(tr("Export PNG…"));
    connect(png, &QPushButton::clicked, this, &TrendWindow::askPngExport);
    auto* csv = new QPushButton(tr("Export CSV…"));
    connect(csv, &QPushButton::clicked, this, &TrendWindow::askCsvExport);
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

    makePlot();
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

void TrendWindow::rangeChosen(int i)
{
    if (kRanges[i].spanMs == 0) {
        chooseDates();
    } else if (i < kLiveRanges) {
        showLive(kRanges[i].spanMs);
    } else {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        showRange(now - kRanges[i].spanMs, now);
    }
}

// Whole days from one date to another; the range stays as it was when the
// dialog is cancelled.
void TrendWindow::chooseDates()
{
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
}

void TrendWindow::askPngExport()
{
    const QString path =
        withSuffix(QFileDialog::getSaveFileName(this, tr("Export PNG"), proposedName() + ".png",
                                                QStringLiteral("PNG (*.png)")),
                   ".png");
    if (!path.isEmpty() && !exportPng(path))
        QMessageBox::warning(this, tr("Export PNG"), tr("Cannot write %1").arg(path));
}

void TrendWindow::askCsvExport()
{
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
}

void TrendWindow::makePlot()
{
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

QString TrendWindow::note() const
{
    return note_->text();
}

} // namespace qm
