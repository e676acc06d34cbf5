#pragma once

// What the trend window's parts share: the background jobs, a channel's
// strip and the plot's look. Only the window's own files include this.
#include "base/types.h"
#include "channels/channel_name.h"
#include "trend/day_clock.h"
#include "trend/history_reader.h"
#include "trend/qt_trend_window.h"

#include <QDateTime>

#include <atomic>
#include <thread>
#include <vector>

#include <qcustomplot.h>

namespace qm {

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

inline QColor qcolour(Rgb c)
{
    return {c.r, c.g, c.b};
}

inline QString nameOf(const ChannelArray<String>& labels, int i)
{
    return channelName(i, labels[std::size_t(i)]);
}

inline QString timeText(qint64 ms, const char* format)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QString::fromLatin1(format));
}

inline const QColor kGrid(64, 64, 64), kAxis(150, 150, 150), kText(210, 210, 210);

inline void darkAxis(QCPAxis* a)
{
    a->setBasePen(QPen(kAxis));
    a->setTickPen(QPen(kAxis));
    a->setSubTickPen(QPen(kAxis));
    a->setTickLabelColor(kText);
    a->setLabelColor(kText);
    a->grid()->setPen(QPen(kGrid, 0, Qt::DotLine));
}

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

} // namespace qm
