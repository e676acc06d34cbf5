#pragma once

#include "trend/trend_store.h"

#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QChartView;
class QLineSeries;
class QComboBox;
class QLabel;
class QTimer;

namespace qm {

class TrendView;

// The trend window: every channel with data over a chosen time range, live
// or a past day from the log files, with limits, alarm stretches, hover
// values, zoom and pan, and PNG and CSV export. Redrawn at most ten times a
// second, and only while shown.
class TrendWindow final : public QWidget {
public:
    // `logDir`: the instance's log folder (bytes), for the past days.
    TrendWindow(TrendStore& store, QByteArray logDir, const QString& programName);
    ~TrendWindow() override;

    // Shows a range of the last `spanMs` that follows the newest data.
    void showLive(qint64 spanMs);
    // Shows one past day from its log file; the lines that could not be read.
    int showDay(QDate day);
    bool exportCsv(const QString& path) const;
    // Moves the view by `ms` (what a drag does); drawn at once.
    void pan(qint64 ms) { moveBy(ms, 1, 0); }
    // The plot's text alternative, as its accessible description says it.
    QString summary() const;
    QChartView* view() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    friend class TrendView;
    const TrendStore& shown() const { return day_ ? *day_ : store_; }
    void refresh(bool force = false);
    QLineSeries* line(int channel, std::size_t k); // channel 9: the limit lines
    void moveBy(qint64 ms, double zoom, qint64 anchor);

    TrendStore& store_;
    std::unique_ptr<TrendStore> day_;
    QByteArray logDir_;
    TrendView* view_ = nullptr;
    QComboBox* range_ = nullptr;
    QComboBox* limits_ = nullptr;
    QLabel* note_ = nullptr;
    QTimer* timer_ = nullptr;
    qint64 end_ = 0, span_ = 600'000;
    bool live_ = true;
    quint64 drawnVersion_ = ~0ull;
    quint8 hidden_ = 0; // channels switched off in the legend
    std::array<std::vector<QLineSeries*>, 10> lines_;
};

} // namespace qm
