#include "trend/qt_trend_window.h"

#include "base/numbers.h"
#include "trend/csv_export.h"
#include "trend/day_clock.h"
#include "trend/gaps.h"
#include "trend/plot_data.h"
#include "trend/qt_trend_parts.h"

#include <QCheckBox>
#include <QToolTip>

namespace qm {

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
            s->rect = addStripRect(row++, margins, ticker);
            s->valueAxis = s->rect->axis(QCPAxis::atLeft);
            overlayRect = s->rect;
        }
        addStripItems(*s);
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

// A strip of its own in the plot's next row, dragged and zoomed along the
// time axis.
QCPAxisRect* TrendWindow::addStripRect(int row, QCPMarginGroup* margins,
                                       const QSharedPointer<QCPAxisTicker>& ticker)
{
    auto* rect = new QCPAxisRect(plot_);
    plot_->plotLayout()->addElement(row, 0, rect);
    rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    rect->setBackground(Qt::black);
    rect->setRangeDrag(Qt::Horizontal);
    rect->setRangeZoom(Qt::Horizontal);
    QCPAxis* x = rect->axis(QCPAxis::atBottom);
    x->setTicker(ticker);
    darkAxis(x);
    rect->setRangeDragAxes(x, nullptr);
    rect->setRangeZoomAxes(x, nullptr);
    connect(x, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& r) { userRange(r.lower, r.upper); });
    return rect;
}

// A channel's graphs and items on its strip's axes: the line, its marks,
// the limit lines, the crosshair and the name.
void TrendWindow::addStripItems(Strip& s)
{
    darkAxis(s.valueAxis);
    s.valueAxis->ticker()->setTickCount(overlay_ ? 6 : 3);
    QCPAxis* x = s.rect->axis(QCPAxis::atBottom);
    s.line = plot_->addGraph(x, s.valueAxis);
    s.line->setAdaptiveSampling(true);
    s.dots = plot_->addGraph(x, s.valueAxis);
    s.dots->setLineStyle(QCPGraph::lsNone);
    s.outside = plot_->addGraph(x, s.valueAxis);
    s.outside->setLineStyle(QCPGraph::lsNone);
    s.beyond = plot_->addGraph(x, s.valueAxis);
    s.beyond->setLineStyle(QCPGraph::lsNone);
    s.beyond->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssTriangle, QPen(Qt::red), QBrush(Qt::red), 9));
    const auto limitLine = [&] {
        auto* l = new QCPItemStraightLine(plot_);
        l->setClipAxisRect(s.rect);
        for (QCPItemPosition* p : {l->point1, l->point2})
            p->setAxes(x, s.valueAxis);
        return l;
    };
    s.hi = limitLine();
    s.lo = limitLine();
    s.cross = new QCPItemStraightLine(plot_);
    s.cross->setClipAxisRect(s.rect);
    s.cross->setPen(QPen(QColor(230, 230, 230), 0, Qt::DashLine));
    for (QCPItemPosition* p : {s.cross->point1, s.cross->point2}) {
        p->setAxes(x, s.valueAxis);
        p->setAxisRect(s.rect);
        p->setTypeY(QCPItemPosition::ptAxisRectRatio);
    }
    s.cross->point2->setCoords(0, 1);
    s.cross->setVisible(false);
    s.name = new QCPItemText(plot_);
    s.name->setClipAxisRect(s.rect);
    s.name->position->setType(QCPItemPosition::ptAxisRectRatio);
    s.name->position->setAxisRect(s.rect);
    s.name->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    // In one plot the names follow each other along the top.
    if (overlay_ && !strips_.empty()) {
        s.name->position->setType(QCPItemPosition::ptAbsolute);
        s.name->position->setParentAnchor(strips_.back()->name->topRight);
        s.name->position->setCoords(14, 0);
    } else {
        s.name->position->setCoords(0.005, 0.02);
    }
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
    breaks_ = breaksBefore(series_);
    settingRange_ = true;
    for (const auto& s : strips_)
        drawStrip(*s, qcolour(colours[std::size_t(s->channel)]));
    settingRange_ = false;
    labelTimeAxis();
    plot_->setAccessibleDescription(summary());
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void TrendWindow::drawStrip(Strip& s, const QColor& colour)
{
    const int i = s.channel;
    QCheckBox* box = boxes_[std::size_t(i)];
    if (box->property("colour").value<QColor>() != colour) {
        QPixmap swatch(12, 12);
        swatch.fill(colour);
        box->setIcon(swatch);
        box->setProperty("colour", colour);
    }
    drawLine(s, colour);
    drawMarks(s, colour);
    const float setHi = store_.setHi[std::size_t(i)], setLo = store_.setLo[std::size_t(i)];
    for (auto [line, limit] : {std::pair(s.hi, setHi), std::pair(s.lo, setLo)}) {
        line->point1->setCoords(double(series_.from) / 1000, limit);
        line->point2->setCoords(double(end_) / 1000, limit);
        line->setPen(QPen(colour.darker(130), 0, Qt::DashLine));
        line->setVisible(!overlay_ || strips_.size() == 1);
    }
    s.name->setText(nameOf(store_.labels, i));
    s.name->setColor(colour);
    if (overlay_) {
        s.valueAxis->setBasePen(QPen(colour));
        s.valueAxis->setTickLabelColor(colour);
    }
    drawAlarms(s);
    s.rect->axis(QCPAxis::atBottom)->setRange(double(series_.from) / 1000, double(end_) / 1000);
}

// The line, broken where the device stopped; a reading alone as a dot. The
// value axis follows the values unless the user set it.
void TrendWindow::drawLine(Strip& s, const QColor& colour)
{
    const int i = s.channel;
    const std::vector<Point> line = lineOf(series_, i, breaks_);
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
    s.line->data()->set(points, true);
    s.line->setPen(QPen(colour, 0));
    s.dots->data()->set(dots, true);
    s.dots->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, colour, colour, 4));
    const float setHi = store_.setHi[std::size_t(i)], setLo = store_.setLo[std::size_t(i)];
    if (!s.ownScale) {
        const auto [lo, hi] = valueScale(std::move(values), setLo, setHi);
        s.valueAxis->setRange(lo, hi);
    }
}

// The values beyond the scaling (INF) and beyond the scale as marks at the
// strip's edge.
void TrendWindow::drawMarks(Strip& s, const QColor& colour)
{
    const int i = s.channel;
    const std::size_t c = std::size_t(i - 1);
    const QCPRange shown = s.valueAxis->range();
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
    s.beyond->data()->set(beyond, true);
    s.outside->data()->set(outside, false);
    s.outside->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssTriangleInverted, QPen(colour), QBrush(Qt::NoBrush), 7));
}

// The channel's alarm stretches, shaded.
void TrendWindow::drawAlarms(Strip& s)
{
    for (QCPItemRect* r : s.stretches)
        plot_->removeItem(r);
    s.stretches.clear();
    const std::vector<std::pair<qint64, qint64>> stretches =
        alarmStretches(series_, s.channel, breaks_);
    const qint64 pixel = std::max<qint64>((end_ - series_.from) / 1000, 1);
    for (std::size_t k = 0; k < stretches.size(); ++k) {
        qint64 a = stretches[k].first, b = stretches[k].second;
        while (k + 1 < stretches.size() && stretches[k + 1].first - b < pixel)
            b = stretches[++k].second; // closer than a pixel: one shade
        auto* r = new QCPItemRect(plot_);
        r->setClipAxisRect(s.rect);
        for (QCPItemPosition* p : {r->topLeft, r->bottomRight}) {
            p->setAxes(s.rect->axis(QCPAxis::atBottom), s.valueAxis);
            p->setAxisRect(s.rect);
            p->setTypeY(QCPItemPosition::ptAxisRectRatio);
        }
        b = std::max(b, a + pixel);
        r->topLeft->setCoords(double(a) / 1000, 0);
        r->bottomRight->setCoords(double(b) / 1000, 1);
        r->setPen(Qt::NoPen);
        r->setBrush(QColor(255, 0, 0, overlay_ ? 35 : 60));
        s.stretches.push_back(r);
    }
}

// The date goes on the time axis where the range is not within today.
void TrendWindow::labelTimeAxis()
{
    if (strips_.empty())
        return;
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

} // namespace qm
