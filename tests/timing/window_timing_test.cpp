// The window on the real clock. Bounds allow for the stalls the run measured.
#include "tests/support/app_fixture.h"
#include "ui/main_window.h"
#include "ui/widgets.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// A new status text every millisecond: shown at most once a frame, and no
// later than a frame (and the loop's longest stall) after the model moved on.
TEST(WindowTiming, AFloodOfChangesIsShownGatheredAndPromptly)
{
    AppFixture fx;
    MonitorPresenter& form = fx.start(kDefaultSettingsFile);
    MainWindow window(form);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ui::TextLabel* status = nullptr;
    for (auto* l : window.findChildren<ui::TextLabel*>())
        if (l->accessibleDescription() == "Status line")
            status = l;
    ASSERT_NE(status, nullptr);

    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> setAt; // when text n was set
    qint64 worst = 0, stall = 0, last = 0;
    int updates = 0;
    for (QString shown = status->text(); clock.elapsed() < 300; QTest::qWait(1)) {
        stall = std::max(stall, clock.elapsed() - last);
        last = clock.elapsed();
        setAt.push_back(last);
        form.statusLine.setText(QString::number(setAt.size() - 1));
        updates += status->text() != std::exchange(shown, status->text());
        const std::size_t next = shown.toULongLong() + 1;
        if (updates > 0 && next < setAt.size())
            worst = std::max(worst, clock.elapsed() - setAt[next]);
    }
    const qint64 elapsed = clock.elapsed();
    EXPECT_LE(worst, MainWindow::kFrameMs + stall + 5)
        << "a text stayed on screen after the model moved on; stall " << stall;
    EXPECT_LE(updates, elapsed / MainWindow::kFrameMs + 2) << "more than one update a frame";
    EXPECT_GE(updates, elapsed / (MainWindow::kFrameMs + stall + 5) - 1)
        << "too few updates in " << elapsed << " ms; stall " << stall;
}

} // namespace
} // namespace qm::test
