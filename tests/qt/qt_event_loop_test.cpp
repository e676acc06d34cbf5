// QtEventLoop on Qt's real event loop, in real time. Tolerances are generous:
// the assertions are about structure (a tick arrives during a nested wait, a
// queued tick is dropped, a wait ends), not about scheduler precision.
#include "app/qt_event_loop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace qm {
namespace {

// Lets events run for `ms` without QtEventLoop (the test's own outer loop).
void pumpFor(int ms)
{
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(ms);
    while (wake.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

TEST(QtEventLoop, ClockIsMonotonicMilliseconds)
{
    QtEventLoop loop;
    const Millis a = loop.now();
    usleep(20'000);
    const Millis b = loop.now();
    EXPECT_GE(b - a, 19);
    EXPECT_LT(b - a, 500);
}

TEST(QtEventLoop, TimerTicksRepeatedlyUntilStopped)
{
    QtEventLoop loop;
    int ticks = 0;
    const int id = loop.startTimer(20, [&] { ++ticks; });
    EXPECT_NE(id, 0);
    loop.runNestedUntil(loop.now() + 2000, [&] { return ticks >= 3; });
    EXPECT_GE(ticks, 3);
    loop.stopTimer(id);
    const int atStop = ticks;
    pumpFor(80);
    EXPECT_EQ(ticks, atStop);
    const int id2 = loop.startTimer(20, [] {});
    EXPECT_NE(id2, id); // never reused
    loop.stopTimer(id2);
}

// The design's central promise: while a tick handler waits in a nested loop,
// further ticks of the same timer still arrive, in phase.
TEST(QtEventLoop, TickArrivesInPhaseWhileItsOwnHandlerWaits)
{
    constexpr int kInterval = 40;
    QtEventLoop loop;
    std::vector<Millis> ticks;
    int depth = 0;
    int nestedTicks = 0;
    const Millis start = loop.now();
    const int id = loop.startTimer(kInterval, [&] {
        ticks.push_back(loop.now());
        if (depth > 0)
            ++nestedTicks;
        if (ticks.size() == 1) {
            ++depth;
            waitFor(loop, 150);
            --depth;
        }
    });
    loop.runNestedUntil(loop.now() + 2000, [&] { return ticks.size() >= 6; });
    loop.stopTimer(id);

    ASSERT_GE(ticks.size(), 6u);
    // The first handler waited 150 ms: the ticks at +40, +80 and +120 ms
    // after it came during that wait (at least two, allowing for a slow box).
    EXPECT_GE(nestedTicks, 2);
    // In phase: tick k comes at about start + k * interval, not shifted by
    // the wait.
    for (std::size_t k = 0; k < ticks.size(); ++k) {
        const Millis expected = start + static_cast<Millis>(k + 1) * kInterval;
        EXPECT_NEAR(static_cast<double>(ticks[k]), static_cast<double>(expected), 30.0)
            << "tick " << k;
    }
    for (std::size_t k = 1; k < ticks.size(); ++k)
        EXPECT_NEAR(static_cast<double>(ticks[k] - ticks[k - 1]), kInterval, 30.0)
            << "spacing before tick " << k;
}

// A tick the QTimer has already queued must not run once the timer is
// stopped. A second timer, due at the same time and created later, fires in
// the same timer pass right after the first one queued its tick, and stops it
// before the queue is run.
TEST(QtEventLoop, StopTimerDropsAQueuedTick)
{
    QtEventLoop loop;
    int ticks = 0;
    const int id = loop.startTimer(20, [&] { ++ticks; });
    int ticksWhenStopped = -1;
    QTimer stopper;
    stopper.setSingleShot(true);
    stopper.setTimerType(Qt::PreciseTimer);
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        ticksWhenStopped = ticks;
        loop.stopTimer(id);
    });
    stopper.start(20);
    usleep(60'000); // both timers are now overdue
    pumpFor(60);
    EXPECT_EQ(ticksWhenStopped, 0);
    EXPECT_EQ(ticks, 0);
}

// The counterpart: without the stop, the tick queued in that same pass runs
// after the other timer's slot, from the queue.
TEST(QtEventLoop, TickIsQueuedNotRunInsideTheTimerSlot)
{
    QtEventLoop loop;
    int ticks = 0;
    const int id = loop.startTimer(20, [&] { ++ticks; });
    int ticksSeenByOtherTimer = -1;
    QTimer other;
    other.setSingleShot(true);
    other.setTimerType(Qt::PreciseTimer);
    QObject::connect(&other, &QTimer::timeout, [&] { ticksSeenByOtherTimer = ticks; });
    other.start(20);
    usleep(60'000);
    loop.runNestedUntil(loop.now() + 1000, [&] { return ticks >= 1; });
    loop.stopTimer(id);
    EXPECT_EQ(ticksSeenByOtherTimer, 0);
    EXPECT_GE(ticks, 1);
}

TEST(QtEventLoop, TimerStoppedInsideItsOwnTickStopsAtOnce)
{
    QtEventLoop loop;
    int ticks = 0;
    int id = 0;
    id = loop.startTimer(10, [&] {
        ++ticks;
        loop.stopTimer(id);
    });
    pumpFor(80);
    EXPECT_EQ(ticks, 1);
}

TEST(QtEventLoop, NestedWaitEndsAtItsDeadlineWithoutOtherEvents)
{
    QtEventLoop loop;
    const Millis t0 = loop.now();
    int rounds = 0;
    loop.runNestedUntil(t0 + 100, [&] {
        ++rounds;
        return false;
    });
    const Millis took = loop.now() - t0;
    EXPECT_GE(took, 100);
    EXPECT_LT(took, 180);
    EXPECT_LT(rounds, 50); // it slept, it did not spin
}

TEST(QtEventLoop, NestedWaitWithPastDeadlineReturnsAtOnce)
{
    QtEventLoop loop;
    const Millis t0 = loop.now();
    loop.runNestedUntil(t0 - 5, [] { return false; });
    EXPECT_LT(loop.now() - t0, 20);
}

TEST(QtEventLoop, NestedWaitReturnsWhenDoneTurnsTrue)
{
    QtEventLoop loop;
    bool flag = false;
    QTimer::singleShot(30, [&] { flag = true; });
    const Millis t0 = loop.now();
    loop.runNestedUntil(t0 + 2000, [&] { return flag; });
    const Millis took = loop.now() - t0;
    EXPECT_TRUE(flag);
    EXPECT_GE(took, 25);
    EXPECT_LT(took, 500);
}

TEST(QtEventLoop, DoneIsCheckedBeforeTheFirstEvent)
{
    QtEventLoop loop;
    bool ran = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { ran = true; }, Qt::QueuedConnection);
    loop.runNestedUntil(loop.now() + 1000, [] { return true; });
    EXPECT_FALSE(ran);
    pumpFor(10); // let the posted call run while `ran` is still alive
    EXPECT_TRUE(ran);
}

TEST(QtEventLoop, NestedWaitRunsOtherTimersAndPostedEvents)
{
    QtEventLoop loop;
    int ticks = 0;
    bool posted = false;
    const int id = loop.startTimer(15, [&] { ++ticks; });
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { posted = true; }, Qt::QueuedConnection);
    waitFor(loop, 100);
    loop.stopTimer(id);
    EXPECT_TRUE(posted);
    EXPECT_GE(ticks, 3);
}

TEST(QtEventLoop, IdleWaitUsesNoCpu)
{
    QtEventLoop loop;
    const double before = cpuSeconds();
    const Millis t0 = loop.now();
    waitFor(loop, 300);
    const double used = cpuSeconds() - before;
    EXPECT_GE(loop.now() - t0, 300);
    EXPECT_LT(used, 0.03) << "CPU seconds used by a 300 ms idle wait";
}

TEST(QtEventLoop, IdleWaitWithARunningTimerUsesLittleCpu)
{
    QtEventLoop loop;
    int ticks = 0;
    const int id = loop.startTimer(50, [&] { ++ticks; });
    const double before = cpuSeconds();
    waitFor(loop, 300);
    const double used = cpuSeconds() - before;
    loop.stopTimer(id);
    EXPECT_GE(ticks, 4);
    EXPECT_LT(used, 0.05);
}

TEST(QtEventLoopDeathTest, TerminateEndsAtOnceWithoutFurtherHandlers)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QtEventLoop loop;
            // A handler already queued must not run: it would exit with 9.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { std::_Exit(9); }, Qt::QueuedConnection);
            const int id = loop.startTimer(1, [] { std::_Exit(9); });
            (void)id;
            usleep(5'000);
            loop.terminate(3);
        },
        ::testing::ExitedWithCode(3), "");
}

} // namespace
} // namespace qm
