// The trend on a full day: a store filled with one reading a second for 24
// hours on eight channels; its memory, the time the window takes to show that
// day, and a repaint while panning. Prints "name value" lines for bench.sh.
#include "trend/qt_trend_window.h"

#include <QApplication>
#include <QChartView>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
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
    // Memory grows no further at any rate: the raw readings are capped.
    for (int k = 0; k < 200'000; ++k)
        store.add(now + k, {0, 1, 2, 3, 4, 5, 6, 7, 8}, 0, 8);
    std::printf("trend_store_mb %.1f\n", double(residentKb() - before) / 1024);

    QElapsedTimer t;
    t.start();
    qm::TrendWindow w(store, "/nonexistent", QStringLiteral("bench"));
    w.showLive(qm::TrendStore::kDayMs);
    w.show();
    w.view()->viewport()->repaint();
    app.processEvents();
    std::printf("trend_show_ms %.1f\n", double(t.nsecsElapsed()) / 1e6);

    std::vector<double> pans, draws;
    for (int k = 0; k < 20; ++k) {
        t.restart();
        w.pan(k % 2 ? 600'000 : -600'000);
        const double update = double(t.nsecsElapsed()) / 1e6;
        w.view()->viewport()->repaint();
        pans.push_back(double(t.nsecsElapsed()) / 1e6);
        draws.push_back(pans.back() - update);
    }
    std::sort(pans.begin(), pans.end());
    std::sort(draws.begin(), draws.end());
    // Median and worst of the whole pan step, and the median of its painting.
    std::printf("trend_pan_ms %.1f %.1f %.1f\n", pans[pans.size() / 2], pans.back(),
                draws[draws.size() / 2]);
    return 0;
}
