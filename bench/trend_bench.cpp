// The trend on a full day and on a month: a store filled with one reading a
// second for 24 hours on eight channels (its memory, the time the window takes
// to show that day, a repaint while panning), then 30 days of log files at
// one line a second (2.6 million lines) shown the first time and again, the
// longest the event loop waited meanwhile, and the resident memory with them
// shown. Prints "name value" lines for bench.sh.
#include "sampling/log_file.h"
#include "trend/qt_trend_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <qcustomplot.h>
#include <vector>

namespace {

long residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Shows [from, to) and waits until it is drawn: the time it took, the longest
// the event loop waited while the logs were read, and the drawing at the end.
struct Shown {
    double ms, stallMs, drawMs;
};
Shown showRange(qm::TrendWindow& w, qint64 from, qint64 to)
{
    QElapsedTimer t;
    t.start();
    w.showRange(from, to);
    qint64 last = t.elapsed(), longest = last, draw = 0;
    QTimer tick; // wakes the loop: the longest wait between its rounds
    tick.start(5);
    while (w.loading()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 waited = t.elapsed() - last;
        if (w.loading())
            longest = std::max(longest, waited);
        else
            draw = waited; // the round that took the result and drew it
        last = t.elapsed();
    }
    QElapsedTimer replot; // the drawing the result queued
    replot.start();
    QCoreApplication::processEvents();
    return {double(t.nsecsElapsed()) / 1e6, double(longest), double(draw + replot.elapsed())};
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const long before = residentKb();
    qm::TrendStore store;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (qint64 s = 86'400; s > 0; --s) {
        std::array<float, 9> v{};
        for (int i = 1; i <= 8; ++i)
            v[i] = float(std::round(500 + 300 * std::sin(double(s) / (600.0 * i))) / 10);
        store.add(now - s * 1000, v, v[1] > 75 ? 1 : 0, 8);
    }
    std::printf("trend_store_mb %.1f\n", double(residentKb() - before) / 1024);

    QElapsedTimer t;
    t.start();
    qm::TrendWindow w(store, "/nonexistent", QStringLiteral("bench"));
    w.resize(1400, 800);
    w.showLive(qm::TrendStore::kDayMs);
    w.show();
    app.processEvents();
    w.plot()->replot();
    std::printf("trend_show_ms %.1f\n", double(t.nsecsElapsed()) / 1e6);

    std::vector<double> pans;
    for (int k = 0; k < 20; ++k) {
        t.restart();
        w.pan(k % 2 ? 600'000 : -600'000);
        w.plot()->replot();
        pans.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(pans.begin(), pans.end());
    std::printf("trend_pan_ms %.1f %.1f\n", pans[pans.size() / 2], pans.back());

    // 30 days of logs, a line a second, eight channels.
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("log"));
    const QDate today = QDate::currentDate();
    for (int d = 1; d <= 30; ++d) {
        std::string text;
        text.reserve(86400 * 60);
        char line[128];
        for (int s = 0; s < 86400; ++s) {
            const int n = std::snprintf(
                line, sizeof line, "\"%02d:%02d:%02d\",%d.%d,12.%d,%d,0,0,0,0,0\r\n", s / 3600,
                s / 60 % 60, s % 60, 20 + s % 5, s % 10, s % 7, 1000 + s % 13);
            text.append(line, std::size_t(n));
        }
        QFile f(dir.path() + QStringLiteral("/log/") +
                QString::fromLatin1(qm::logFileName(today.addDays(-d))));
        f.open(QIODevice::WriteOnly);
        f.write(text.data(), qint64(text.size()));
    }
    qm::TrendStore empty;
    empty.setChannels({}, {}, {}, {}, 3);
    qm::TrendWindow month(empty, QFile::encodeName(dir.path() + QStringLiteral("/log")),
                          QStringLiteral("bench"));
    month.resize(1400, 800);
    month.show();
    app.processEvents();
    const qint64 end = QDateTime(today, QTime(0, 0)).toMSecsSinceEpoch();
    const Shown first = showRange(month, end - 30 * qm::TrendStore::kDayMs, end);
    showRange(month, end - qm::TrendStore::kDayMs, end);
    const Shown again = showRange(month, end - 30 * qm::TrendStore::kDayMs, end);
    std::printf("trend_month_ms %.1f %.1f\n", first.ms, again.ms);
    // The longest wait of the event loop while reading, and the drawing after.
    std::printf("trend_month_stall_ms %.1f %.1f\n", std::max(first.stallMs, again.stallMs),
                std::max(first.drawMs, again.drawMs));
    std::printf("trend_month_rss_mb %.1f\n", double(residentKb()) / 1024);
    std::printf("trend_month_readings %llu\n",
                static_cast<unsigned long long>(month.shownSeries().readings()));
    return 0;
}
