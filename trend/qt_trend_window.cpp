#include "trend/qt_trend_window.h"

#include "app/files.h"
#include "app/numbers.h"
#include "sampling/log_file.h"
#include "settings/settings_file.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QValueAxis>

#include <dirent.h>

namespace qm {

namespace {

constexpr qint64 kRanges[] = {600'000, 3'600'000, 8 * 3'600'000, TrendStore::kDayMs};

QColor colourOf(const String& letter)
{
    const Rgb c = colorForLetter(letter);
    return {c.r, c.g, c.b};
}

QString channelName(const TrendStore& s, int i)
{
    return QStringLiteral("V0%1 ").arg(i) + QString::fromLatin1(s.labels[i]);
}

} // namespace

// The chart, with the alarm stretches shaded over it and the mouse for
// hover, zoom (wheel), pan (drag) and back to live (double click).
class TrendView final : public QChartView {
public:
    TrendView(TrendWindow& w)
        : QChartView(new QChart)
        , w_(w)
    {
        setRenderHint(QPainter::Antialiasing, false);
        setMouseTracking(true);
        chart()->setTheme(QChart::ChartThemeDark);
        chart()->legend()->setAlignment(Qt::AlignBottom);
        chart()->addAxis(x_, Qt::AlignBottom);
        chart()->addAxis(y_, Qt::AlignLeft);
        x_->setFormat(QStringLiteral("hh:mm:ss"));
    }
    QDateTimeAxis* x_ = new QDateTimeAxis;
    QValueAxis* y_ = new QValueAxis;
    std::vector<std::pair<qint64, qint64>> stretches;
    std::vector<std::array<Span, 9>> columns;
    qint64 from = 0, to = 1;
    // Per channel its runs of (column, lowest, highest), its colour, and the
    // columns with an infinity (+1 above, -1 below).
    std::array<std::vector<std::vector<std::tuple<int, float, float>>>, 9> runs;
    std::array<QColor, 9> colours;
    std::vector<std::pair<int, int>> infinities;

protected:
    // The data lines are drawn here rather than as chart series: a chart
    // series strokes its whole path anew for mouse hits on every change, which
    // takes longer than a frame on a day of data.
    void drawForeground(QPainter* p, const QRectF&) override
    {
        const QRectF area = chart()->plotArea();
        const double n = double(std::max<std::size_t>(columns.size(), 1));
        const auto x = [&](int c) { return area.left() + (c + 0.5) * area.width() / n; };
        const auto y = [&](float v) {
            return area.bottom() - (v - y_->min()) / (y_->max() - y_->min()) * area.height();
        };
        p->save();
        p->setClipRect(area);
        for (std::size_t i = 1; i <= 8; ++i) {
            p->setPen(QPen(colours[i], 0)); // one pixel: the fast path of the painter
            for (const auto& run : runs[i]) {
                QPolygonF line;
                for (const auto& [c, lo, hi] : run) {
                    line << QPointF(x(c), y(lo));
                    if (hi != lo)
                        line << QPointF(x(c), y(hi));
                }
                p->drawPolyline(line.size() > 1
                                    ? line
                                    : QPolygonF{line.value(0), line.value(0) + QPointF(1, 0)});
            }
        }
        p->setPen(Qt::NoPen);
        p->setBrush(Qt::red); // beyond the scaling: a triangle at the edge
        for (const auto& [c, sign] : infinities) {
            const double tip = sign > 0 ? area.top() : area.bottom(), base = tip + sign * 9.0;
            p->drawPolygon(QPolygonF{{x(c), tip}, {x(c) - 5, base}, {x(c) + 5, base}});
        }
        p->restore();
        for (const auto& [a, b] : stretches) {
            const double x0 = area.left() + area.width() * double(a - from) / double(to - from);
            const double x1 = area.left() + area.width() * double(b - from) / double(to - from);
            p->fillRect(
                QRectF(QPointF(std::max(x0, area.left()), area.top()),
                       QPointF(std::min(std::max(x1, x0 + 1), area.right()), area.bottom())),
                QColor(255, 0, 0, 55));
        }
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        const QRectF area = chart()->plotArea();
        if ((e->buttons() & Qt::LeftButton) && dragX_ >= 0) {
            w_.moveBy(qint64((dragX_ - e->position().x()) / area.width() * double(to - from)), 1,
                      0);
            dragX_ = e->position().x();
            return;
        }
        const int c =
            int((e->position().x() - area.left()) / area.width() * double(columns.size()));
        if (c < 0 || c >= int(columns.size()))
            return QToolTip::hideText();
        const qint64 t = from + (to - from) * c / qint64(columns.size());
        QString text =
            QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        for (int i = 1; i <= 8; ++i)
            if (!columns[c][i].empty() && !(w_.hidden_ >> (i - 1) & 1))
                text += QLatin1Char('\n') + channelName(w_.shown(), i) + QStringLiteral(": ") +
                        displayForm(columns[c][i].last, locale());
        QToolTip::showText(e->globalPosition().toPoint(), text, this);
    }
    void mousePressEvent(QMouseEvent* e) override { dragX_ = e->position().x(); }
    void mouseReleaseEvent(QMouseEvent*) override { dragX_ = -1; }
    void mouseDoubleClickEvent(QMouseEvent*) override
    {
        w_.showLive(kRanges[w_.range_->currentIndex() < 4 ? w_.range_->currentIndex() : 0]);
    }
    void wheelEvent(QWheelEvent* e) override
    {
        const QRectF area = chart()->plotArea();
        const qint64 anchor =
            from + qint64((e->position().x() - area.left()) / area.width() * double(to - from));
        w_.moveBy(0, e->angleDelta().y() > 0 ? 0.8 : 1.25, anchor);
    }

private:
    TrendWindow& w_;
    double dragX_ = -1;
};

TrendWindow::TrendWindow(TrendStore& store, QByteArray logDir, const QString& programName)
    : store_(store)
    , logDir_(std::move(logDir))
{
    setWindowTitle(QStringLiteral("Quellmark: ") + programName + QStringLiteral(" trend"));
    resize(1000, 560);
    auto* bar = new QHBoxLayout;
    range_ = new QComboBox;
    range_->addItems(
        {tr("Last 10 minutes"), tr("Last hour"), tr("Last 8 hours"), tr("Last 24 hours")});
    range_->setAccessibleDescription(QStringLiteral("Time range"));
    connect(range_, &QComboBox::activated, this, [this](int i) {
        if (i < 4)
            showLive(kRanges[i]);
    });
    limits_ = new QComboBox;
    limits_->addItem(tr("No limit lines"));
    for (int i = 1; i <= 8; ++i)
        limits_->addItem(tr("Limits of V0%1").arg(i));
    limits_->setAccessibleDescription(QStringLiteral("Limit lines"));
    connect(limits_, &QComboBox::activated, this, [this] { refresh(true); });
    auto* day = new QPushButton(tr("Open day…"));
    connect(day, &QPushButton::clicked, this, [this] {
        QStringList days;
        if (DIR* d = ::opendir(logDir_.constData())) {
            while (const dirent* e = ::readdir(d)) {
                const QDate date = QDate::fromString(QString::fromLatin1(e->d_name),
                                                     QStringLiteral("yyMMdd'.txt'"));
                if (date.isValid())
                    days << date.addYears(100).toString(Qt::ISODate);
            }
            ::closedir(d);
        }
        days.sort();
        bool ok = false;
        const QString chosen = QInputDialog::getItem(this, tr("Open day"), tr("Day:"), days,
                                                     days.size() - 1, false, &ok);
        if (ok)
            showDay(QDate::fromString(chosen, Qt::ISODate));
    });
    auto* png = new QPushButton(tr("Export PNG…"));
    connect(png, &QPushButton::clicked, this, [this] {
        const QString path =
            QFileDialog::getSaveFileName(this, tr("Export PNG"), {}, QStringLiteral("*.png"));
        if (!path.isEmpty() && !view_->grab().save(path, "PNG"))
            QMessageBox::warning(this, tr("Export PNG"), tr("Cannot write %1").arg(path));
    });
    auto* csv = new QPushButton(tr("Export CSV…"));
    connect(csv, &QPushButton::clicked, this, [this] {
        const QString path =
            QFileDialog::getSaveFileName(this, tr("Export CSV"), {}, QStringLiteral("*.csv"));
        if (!path.isEmpty() && !exportCsv(path))
            QMessageBox::warning(this, tr("Export CSV"), tr("Cannot write %1").arg(path));
    });
    note_ = new QLabel;
    for (QWidget* w : std::initializer_list<QWidget*>{range_, day, limits_, png, csv})
        bar->addWidget(w);
    bar->addStretch();
    bar->addWidget(note_);
    view_ = new TrendView(*this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    timer_ = new QTimer(this);
    timer_->setInterval(250); // four redraws a second keep the newest data moving
    connect(timer_, &QTimer::timeout, this, [this] { refresh(); });
}

TrendWindow::~TrendWindow() = default;

QChartView* TrendWindow::view() const
{
    return view_;
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
    day_.reset();
    if (range_->count() > 4)
        range_->removeItem(4);
    range_->setCurrentIndex(
        int(std::find(std::begin(kRanges), std::end(kRanges), spanMs) - std::begin(kRanges)));
    live_ = true;
    span_ = spanMs;
    refresh(true);
}

int TrendWindow::showDay(QDate day)
{
    day_ = std::make_unique<TrendStore>();
    day_->labels = store_.labels;
    day_->colours = store_.colours;
    day_->setHi = store_.setHi;
    day_->setLo = store_.setLo;
    const int skipped =
        day_->loadLog(logDir_ + '/' + logFileName(day), day, 0, store_.setHi, store_.setLo, 8);
    if (range_->count() > 4)
        range_->removeItem(4);
    range_->addItem(day.toString(Qt::ISODate));
    range_->setCurrentIndex(4);
    live_ = false;
    end_ = QDateTime(day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    span_ = end_ - QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
    refresh(true);
    return skipped;
}

void TrendWindow::moveBy(qint64 ms, double zoom, qint64 anchor)
{
    const qint64 span =
        std::clamp<qint64>(qint64(double(span_) * zoom), 10'000, TrendStore::kDayMs);
    end_ = zoom == 1 ? end_ + ms
                     : anchor + qint64(double(end_ - anchor) * double(span) / double(span_));
    span_ = span;
    live_ = !day_ && end_ >= QDateTime::currentMSecsSinceEpoch();
    refresh(true);
}

QLineSeries* TrendWindow::line(int channel, std::size_t k)
{
    // Made once and kept: a channel's legend entry (a click hides or shows
    // the channel), and for "channel" 9 the two limit lines.
    TrendView& v = *view_;
    auto& lines = lines_[std::size_t(channel)];
    while (lines.size() <= k) {
        auto* l = new QLineSeries;
        v.chart()->addSeries(l);
        l->attachAxis(v.x_);
        l->attachAxis(v.y_);
        if (channel <= 8)
            connect(v.chart()->legend()->markers(l).value(0), &QLegendMarker::clicked, this,
                    [this, channel] {
                        hidden_ ^= quint8(1u << (channel - 1));
                        refresh(true);
                    });
        lines.push_back(l);
    }
    return lines[k];
}

void TrendWindow::refresh(bool force)
{
    const TrendStore& s = shown();
    if (!isVisible() || (!force && s.version() == drawnVersion_))
        return;
    drawnVersion_ = s.version();
    const int skipped = s.skippedLines();
    note_->setText(skipped == 0   ? QString()
                   : skipped == 1 ? tr("1 log line could not be read")
                                  : tr("%1 log lines could not be read").arg(skipped));
    if (live_)
        end_ = std::max(QDateTime::currentMSecsSinceEpoch(), s.newest() + 1);
    TrendView& v = *view_;
    v.from = end_ - span_;
    v.to = end_;
    const int n = std::max(10, int(v.chart()->plotArea().width()));
    v.columns = s.columns(v.from, v.to, n);
    const quint8 shownMask = s.channelsWithData() & ~hidden_;
    v.stretches = s.alarmStretches(shownMask, v.from, v.to);

    // Per channel one line per run of data (a gap of more than five minutes
    // or ten columns breaks it), a column's lowest and highest value one
    // above the other; the infinities as marks at the edge; the limit lines.
    double lo = INFINITY, hi = -INFINITY;
    const qint64 gap = std::max<qint64>(300'000, span_ * 10 / n);
    v.infinities.clear();
    for (int i = 1; i <= 8; ++i) {
        const bool has = s.channelsWithData() >> (i - 1) & 1,
                   visible = has && !(hidden_ >> (i - 1) & 1);
        auto& runs = v.runs[std::size_t(i)];
        runs.clear();
        v.colours[std::size_t(i)] = colourOf(s.colours[i]);
        qint64 lastT = INT64_MIN;
        for (int c = 0; visible && c < n; ++c) {
            const Span& sp = v.columns[std::size_t(c)][i];
            const qint64 t = v.from + (v.to - v.from) * c / n;
            if (sp.posInf || sp.negInf)
                v.infinities.push_back({c, sp.posInf ? 1 : -1});
            if (std::isnan(sp.min))
                continue;
            if (runs.empty() || t - lastT > gap)
                runs.emplace_back();
            lastT = t;
            runs.back().push_back({c, sp.min, sp.max});
            lo = std::min<double>(lo, sp.min), hi = std::max<double>(hi, sp.max);
        }
        // The legend entry: an empty series in the channel's colour.
        QLineSeries* entry = line(i, 0);
        const QPen pen(v.colours[std::size_t(i)], 1.5);
        if (entry->pen() != pen || entry->name() != channelName(s, i))
            entry->setPen(pen), entry->setName(channelName(s, i));
        QLegendMarker* marker = v.chart()->legend()->markers(entry).value(0);
        if (marker->isVisible() != has)
            marker->setVisible(has);
        const QBrush brush(visible ? v.colours[std::size_t(i)] : QColor(Qt::gray));
        if (marker->brush() != brush)
            marker->setBrush(brush);
    }
    const int limitOf = limits_->currentIndex();
    if (limitOf > 0)
        for (const float limit : {s.setHi[limitOf], s.setLo[limitOf]})
            lo = std::min<double>(lo, limit), hi = std::max<double>(hi, limit);
    if (!(lo <= hi))
        lo = 0, hi = 100;
    const double margin = std::max(1e-3, (hi - lo) * 0.05);
    v.y_->setRange(lo - margin, hi + margin);
    v.x_->setRange(QDateTime::fromMSecsSinceEpoch(v.from), QDateTime::fromMSecsSinceEpoch(v.to));
    const QString format =
        span_ > TrendStore::kDayMs / 2 ? QStringLiteral("dd.MM hh:mm") : QStringLiteral("hh:mm:ss");
    if (v.x_->format() != format)
        v.x_->setFormat(format);
    for (int k = 0; k < 2; ++k) { // the limit lines of the chosen channel
        QLineSeries* l = line(9, std::size_t(k));
        if (l->isVisible() != (limitOf > 0)) {
            l->setVisible(limitOf > 0);
            v.chart()->legend()->markers(l).value(0)->setVisible(limitOf > 0);
        }
        if (limitOf == 0)
            continue;
        const float limit = k == 0 ? s.setHi[limitOf] : s.setLo[limitOf];
        const QString name =
            QStringLiteral("V0%1 ").arg(limitOf) + (k == 0 ? tr("Set Hi") : tr("Set Lo"));
        const QPen pen(colourOf(s.colours[limitOf]), 1, Qt::DashLine);
        if (l->name() != name || l->pen() != pen)
            l->setName(name), l->setPen(pen);
        l->replace({QPointF(double(v.from), limit), QPointF(double(v.to), limit)});
    }
    v.setAccessibleDescription(summary());
    v.viewport()->update();
}

QString TrendWindow::summary() const
{
    const TrendStore& s = shown();
    std::array<Span, 9> all;
    for (const auto& column : view_->columns)
        for (int i = 1; i <= 8; ++i)
            all[std::size_t(i)].add(column[std::size_t(i)]);
    const std::array<int, 9> stretches = s.alarmStretchCounts(view_->from, view_->to);
    QStringList parts;
    for (int i = 1; i <= 8; ++i) {
        if (!(s.channelsWithData() >> (i - 1) & 1) || (hidden_ >> (i - 1) & 1))
            continue;
        const Span& sp = all[i];
        const QLocale& l = view_->locale();
        const auto form = [&](float v) {
            return std::isnan(v) ? QStringLiteral("none") : displayForm(v, l);
        };
        parts << tr("%1: %2 points, min %3, max %4, last %5, %6 alarm stretches")
                     .arg(channelName(s, i))
                     .arg(sp.count)
                     .arg(form(sp.min), form(sp.max), form(sp.last))
                     .arg(stretches[std::size_t(i)]);
    }
    return parts.join(QStringLiteral("; "));
}

bool TrendWindow::exportCsv(const QString& path) const
{
    return replaceFile(QFile::encodeName(path), shown().csv(view_->from, view_->to));
}

} // namespace qm
