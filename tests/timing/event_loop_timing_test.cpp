// The event loop on the real clock; bounds come from what the run measured.
#include "app/qt_event_loop.h"

#include <QEventLoop>
#include <QTimer>

#include <ctime>
#include <gtest/gtest.h>
#include <vector>

namespace qm::test {
namespace {

double cpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Runs Qt's event loop for `ms` of real time.
void runFor(int ms)
{
    QEventLoop events;
    QTimer::singleShot(ms, &events, &QEventLoop::quit);
    events.exec();
}

TEST(QtEventLoop, TimersTickInPhaseAndStopAtOnce)
{
    QtEventLoop loop;
    std::vector<Millis> ticks;
    int other = 0;
    const Millis start = loop.now();
    int id = 0;
    id = loop.startTimer(50, [&] {
        ticks.push_back(loop.now() - start);
        if (ticks.size() == 8)
            loop.stopTimer(id); // its own timer, from its tick
    });
    const int unrelated = loop.startTimer(120, [&] {
        ++other;
        loop.stopTimer(unrelated);
    });
    runFor(700);

    EXPECT_EQ(other, 1) << "the unrelated timer ticks once, then is stopped";
    ASSERT_EQ(ticks.size(), 8u) << "the timer stops at once after its eighth tick";
    EXPECT_GE(ticks.back(), 400) << "eight ticks of 50 ms cannot end before 400 ms";
}

TEST(QtEventLoop, ATimerThatIsStoppedBeforeItsTickNeverTicks)
{
    QtEventLoop loop;
    int ticks = 0;
    const int late = loop.startTimer(100, [&] { ++ticks; });
    const int early = loop.startTimer(50, [&] { loop.stopTimer(late); });
    runFor(250);
    loop.stopTimer(early);
    EXPECT_EQ(ticks, 0) << "stopped by another timer's tick before its own came";
}

TEST(QtEventLoop, ATickingTimerCostsNoCpuBetweenTicks)
{
    QtEventLoop loop;
    int ticks = 0;
    const int id = loop.startTimer(100, [&] { ++ticks; });
    const double cpu0 = cpuSeconds();
    runFor(600);
    const double cpu = cpuSeconds() - cpu0;
    loop.stopTimer(id);
    EXPECT_GE(ticks, 4) << "a 100 ms timer ticks about six times in 600 ms";
    EXPECT_LT(cpu, 0.06) << "the loop spins between ticks";
}

} // namespace
} // namespace qm::test
