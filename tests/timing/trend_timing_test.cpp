// The trend window on the real clock; the bound comes from the loop's own
// slack measured just before.
#include "sampling/log_file.h"
#include "trend/qt_trend_window.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// The longest time between two rounds of the event loop while `busy` holds.
qint64 longestStall(const std::function<bool()>& busy, int atLeastMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start();
    while (busy() || clock.elapsed() < atLeastMs) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); // the tick wakes it
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
        if (clock.elapsed() > 120'000)
            break;
    }
    return longest;
}

TEST(TrendTiming, ThirtyDaysAreReadWithoutHoldingUpTheWindow)
{
    // 30 day files of a reading every 4 s: 648,000 lines.
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("log");
    const QDate today = QDate::currentDate();
    for (int d = 1; d <= 30; ++d) {
        QByteArray text;
        text.reserve(21600 * 40);
        for (int s = 0; s < 86400; s += 4)
            text += QTime(0, 0).addSecs(s).toString("\"hh:mm:ss\"").toLatin1() + ",20.5," +
                    QByteArray::number(s % 997) + ",1000.2,0,0,0,0,0\r\n";
        QFile f(dir.path() + "/log/" + QString::fromLatin1(logFileName(today.addDays(-d))));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    TrendStore store;
    store.setChannels({"", "Room", "Load", "Pressure"}, {}, {}, {}, 3);
    TrendWindow w(store, QFile::encodeName(dir.path() + "/log"), "quellmark");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    const qint64 slack = longestStall([] { return false; }, 1000);
    QElapsedTimer took;
    took.start();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    w.showRange(now - 30 * TrendStore::kDayMs, now);
    const qint64 start = took.elapsed(); // the choice itself only starts the reading
    const qint64 stall = std::max(start, longestStall([&] { return w.loading(); }, 0));
    ASSERT_FALSE(w.loading());
    EXPECT_GT(w.shownSeries().readings(), 600'000u);
    EXPECT_LE(stall, 50 + 2 * slack)
        << "the loop's own slack was " << slack << " ms; reading took " << took.elapsed() << " ms";
}

} // namespace
} // namespace qm::test
