// The real-time event loop: timers tick in phase while their own handler
// waits, stopped timers drop queued ticks, waits end on time and cost no CPU.
#include "app/qt_event_loop.h"

#include <QCoreApplication>
#include <QTimer>

#include <ctime>
#include <gtest/gtest.h>
#include <vector>

namespace qm {
namespace {

double cpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

TEST(QtEventLoop, ATimerTicksInPhaseWhileItsOwnHandlerWaits)
{
    QtEventLoop loop;
    std::vector<Millis> ticks;
    int other = 0;
    const Millis start = loop.now();
    int id = 0;
    id = loop.startTimer(50, [&] {
        ticks.push_back(loop.now() - start);
        if (ticks.size() == 1)
            waitFor(loop, 260); // the sample cycle waits inside its tick
        if (ticks.size() == 8)
            loop.stopTimer(id); // stops at once, queued ticks too
    });
    QTimer::singleShot(120, [&] { ++other; }); // other events run during the wait
    loop.runNestedUntil(loop.now() + 700, [] { return false; });
    ASSERT_EQ(ticks.size(), 8u);
    EXPECT_EQ(other, 1);
    for (std::size_t i = 1; i < 6; ++i) // ticks 2..6 arrive during the first one's wait
        EXPECT_NEAR(ticks[i], 50.0 * (i + 1), 30) << i;
    EXPECT_GE(loop.now() - start, 700);
}

TEST(QtEventLoop, WaitsEndAtTheirDeadlineOrConditionAndCostNoCpu)
{
    QtEventLoop loop;
    const Millis t0 = loop.now();
    const double cpu0 = cpuSeconds();
    loop.runNestedUntil(t0 + 300, [] { return false; });
    EXPECT_GE(loop.now() - t0, 300);
    EXPECT_LT(loop.now() - t0, 400);
    EXPECT_LT(cpuSeconds() - cpu0, 0.05) << "the wait spins";

    bool done = false;
    QTimer::singleShot(50, [&] { done = true; });
    const Millis t1 = loop.now();
    loop.runNestedUntil(kForever, [&] { return done; });
    EXPECT_LT(loop.now() - t1, 150);
    loop.runNestedUntil(t1, [] { return false; }); // a past deadline returns at once
    int calls = 0;
    loop.runNestedUntil(kForever, [&] { return ++calls > 0; }); // checked before the first event
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace qm
