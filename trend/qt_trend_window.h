#pragma once

#include "trend/history_reader.h"
#include "trend/trend_store.h"

#include <QSharedPointer>
#include <QWidget>

#include <array>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class QCheckBox;
class QColor;
class QComboBox;
class QCustomPlot;
class QCPAxisRect;
class QCPAxisTicker;
class QCPMarginGroup;
class QCPItemStraightLine;
class QLabel;
class QTimer;

namespace qm {

// The trend window: every channel in use in a strip of its own (its own value
// axis, its limits, its alarm stretches shaded) on one time axis, or all in
// one plot each on its own axis; live over the last 10 minutes to 24 hours,
// or any range of the log files (7 or 30 days, chosen dates), read in the
// background. Check boxes switch channels on and off; a crosshair shows the
// nearest reading; PNG and CSV export. Redrawn only while shown.
class TrendWindow final : public QWidget {
public:
    // `logDir`: the instance's log folder (bytes), for what came before this run.
    TrendWindow(TrendStore& store, QByteArray logDir, const QString& programName);
    ~TrendWindow() override;

    // Shows the last `spanMs`, following the clock.
    void showLive(qint64 spanMs);
    // Shows [fromMs, toMs); what the logs hold of it is read in the background.
    // `dates`: chosen as dates, named by them.
    void showRange(qint64 fromMs, qint64 toMs, bool dates = false);
    void showDay(QDate day);
    bool loading() const { return loader_ != nullptr; }
    // Moves the view by `ms` (what a drag does).
    void pan(qint64 ms);
    void setOverlay(bool overlay);
    // Writes the range shown as CSV in the background: every reading as
    // logged, or per slice of `sliceMs`; the note tells how it went.
    void exportCsv(const QString& path, qint64 sliceMs = 0);
    bool exporting() const { return exporter_ != nullptr; }
    bool exported() const { return exportDone_; } // the last export was written
    QString proposedName() const;                 // "<instance>-<range>", no extension
    bool exportPng(const QString& path);
    // The plot's text alternative, as its accessible description says it.
    QString summary() const;
    QString note() const;
    QCustomPlot* plot() const { return plot_; }
    const Series& shownSeries() const { return series_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Load;
    struct Export;
    struct Strip;
    void rangeChosen(int index);
    void chooseDates();
    void askPngExport();
    void askCsvExport();
    void makePlot();
    void refresh(bool force = false);
    void composeSeries(qint64 from, qint64 width, qint64 liveFrom);
    void showNote(qint64 now);
    void startLoad(qint64 from, qint64 to, qint64 width);
    void loaded(quint64 generation);
    void rebuild(quint8 shown);
    QCPAxisRect* addStripRect(int row, QCPMarginGroup* margins,
                              const QSharedPointer<QCPAxisTicker>& ticker);
    void addStripItems(Strip& s);
    void draw();
    void drawStrip(Strip& s, const QColor& colour);
    void drawLine(Strip& s, const QColor& colour);
    void drawMarks(Strip& s, const QColor& colour);
    void drawAlarms(Strip& s);
    void labelTimeAxis();
    void crosshair(const QPoint& pos);
    void userRange(double lower, double upper);
    static QString rangeText(qint64 from, qint64 to);
    quint8 shownChannels() const;

    TrendStore& store_;
    QByteArray logDir_;
    QString programName_;
    HistoryReader reader_;
    std::unique_ptr<Load> loader_;
    std::unique_ptr<Export> exporter_;
    bool exportDone_ = false;
    QString exportNote_;
    quint64 generation_ = 0;
    History history_;           // what the logs hold of the range
    bool historyValid_ = false; // history_ is the one for the range shown
    Series series_;             // what is drawn
    std::vector<bool> breaks_;  // breaksBefore(series_)
    Series liveCache_;          // this run's part of it at the last redraw
    qint64 liveNewest_ = INT64_MIN;
    QCustomPlot* plot_ = nullptr;
    QComboBox* range_ = nullptr;
    QComboBox* mode_ = nullptr;
    QLabel* note_ = nullptr;
    QTimer* timer_ = nullptr;
    QTimer* settle_ = nullptr;
    std::array<QCheckBox*, 9> boxes_{};
    std::vector<std::unique_ptr<Strip>> strips_;
    int layoutOf_ = -1; // the channels the strips were built for; -1: none yet
    bool overlay_ = false, layoutOverlay_ = false;
    qint64 end_ = 0, span_ = 600'000, liveSpan_ = 600'000;
    qint64 rangeFrom_ = 0, rangeTo_ = 0; // the range chosen (not live)
    bool live_ = true, settingRange_ = false;
    int rangeIndex_ = 0;
    qint64 drawnAt_ = 0;
    quint8 hidden_ = 0; // channels switched off
};

} // namespace qm
