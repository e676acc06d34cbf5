// The program's event loop on Qt's: timers apart from each other.
#include "app/qt_event_loop.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// Two timers started one after the other are two: stopping the first leaves
// the second ticking.
TEST(QtEventLoop, StoppingOneTimerLeavesAnotherTicking)
{
    QtEventLoop loop;
    int firstTicks = 0, secondTicks = 0;
    const int first = loop.startTimer(0, [&] { ++firstTicks; });
    QEventLoop events;
    const int second = loop.startTimer(0, [&] {
        if (++secondTicks == 3)
            events.quit();
    });
    EXPECT_NE(first, second) << "each timer has an id of its own";
    loop.stopTimer(first);
    QTimer::singleShot(5000, &events, &QEventLoop::quit); // a bound, not a measure
    events.exec();
    loop.stopTimer(second);
    EXPECT_EQ(firstTicks, 0) << "the first timer, stopped before its tick, never ticks";
    EXPECT_EQ(secondTicks, 3) << "the second timer ticks on after the first was stopped";
}

} // namespace
} // namespace qm::test
