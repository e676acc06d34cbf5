// The event loop on the real clock; bounds come from what the run measured.
#include "app/qt_event_loop.h"

#include <QElapsedTimer>
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

// How late a plain Qt timer of `ms` fires now: the machine's present slack.
Millis lateness(int ms)
{
    QtEventLoop loop;
    const Millis start = loop.now();
    Millis fired = 0;
    QTimer::singleShot(ms, [&] { fired = loop.now(); });
    loop.runNestedUntil(kForever, [&] { return fired != 0; });
    return fired - start - ms;
}

TEST(QtEventLoop, ATimerTicksInPhaseWhileItsOwnHandlerWaits)
{
    QtEventLoop loop;
    std::vector<Millis> ticks;
    Millis waitEnded = 0;
    std::size_t ticksBeforeWaitEnded = 0;
    int other = 0;
    const Millis start = loop.now();
    int id = 0;
    id = loop.startTimer(50, [&] {
        ticks.push_back(loop.now() - start);
        if (ticks.size() == 1) {
            waitFor(loop, 275); // the sample cycle waits inside its tick
            waitEnded = loop.now() - start;
            ticksBeforeWaitEnded = ticks.size();
        }
        if (ticks.size() == 8)
            loop.stopTimer(id); // stops at once, queued ticks too
    });
    QTimer::singleShot(120, [&] { ++other; }); // other events run during the wait
    loop.runNestedUntil(loop.now() + 700, [] { return false; });

    EXPECT_EQ(other, 1) << "an unrelated timer must fire during the wait";
    EXPECT_EQ(ticks.size(), 8u) << "the timer stops at once after its eighth tick";
    // Counting the first: a stall of over a period may merge two ticks.
    const auto dueDuringWait = static_cast<std::size_t>(waitEnded / 50) - 1;
    EXPECT_GE(ticksBeforeWaitEnded, dueDuringWait)
        << "ticks due while the first one's handler waited (it ended at " << waitEnded
        << " ms) must arrive during that wait";
}

TEST(QtEventLoop, WaitsEndAtTheirDeadlineOrConditionAndCostNoCpu)
{
    const Millis slack = lateness(300);
    QtEventLoop loop;
    const Millis t0 = loop.now();
    const double cpu0 = cpuSeconds();
    loop.runNestedUntil(t0 + 300, [] { return false; });
    const Millis waited = loop.now() - t0;
    const double cpu = cpuSeconds() - cpu0;
    EXPECT_GE(waited, 300) << "a wait never ends before its deadline";
    EXPECT_LE(waited, 300 + 2 * slack + 50)
        << "a wait ends at its deadline (a plain timer was " << slack << " ms late)";
    EXPECT_LT(cpu, 0.1 * static_cast<double>(waited) / 1000) << "the wait spins";

    bool done = false;
    const Millis t1 = loop.now();
    QTimer::singleShot(50, [&] { done = true; });
    loop.runNestedUntil(kForever, [&] { return done; });
    EXPECT_LE(loop.now() - t1, 50 + 2 * slack + 50) << "a wait ends when its condition turns true";
}

} // namespace
} // namespace qm::test
