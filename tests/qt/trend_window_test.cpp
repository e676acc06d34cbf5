// The trend window as a user meets it.
#include "base/numbers.h"
#include "sampling/log_file.h"
#include "tests/support/app_fixture.h"
#include "trend/plot_data.h"
#include "trend/qt_trend_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>
#include <qcustomplot.h>

namespace qm::test {
namespace {

QStringList stripNames(const TrendWindow& w)
{
    QStringList names;
    for (int k = 0; k < w.plot()->itemCount(); ++k)
        if (auto* text = qobject_cast<QCPItemText*>(w.plot()->item(k)))
            names << text->text();
    return names;
}

TEST(TrendWindow, ListsEveryChannelBeforeTheFirstReadingAndAClickHidesOne)
{
    TrendStore store;
    store.setChannels({"", "Tank", "Pump", "Air"}, {"", "Y", "B", "W"}, {}, {}, 3);
    TrendWindow w(store, {}, "quellmark");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QStringList listed;
    for (QCheckBox* box : w.findChildren<QCheckBox*>())
        if (box->isVisible())
            listed << box->text();
    EXPECT_EQ(listed, QStringList({"V01 Tank", "V02 Pump", "V03 Air"}));
    EXPECT_EQ(stripNames(w), listed);

    QCheckBox* pump = w.findChildren<QCheckBox*>().at(1);
    const QPoint onScreen = pump->mapToGlobal(QPoint(8, pump->height() / 2));
    QWidget* under = QApplication::widgetAt(onScreen);
    ASSERT_EQ(under, pump) << "the check box is where the user sees it";
    QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFromGlobal(onScreen));
    EXPECT_EQ(stripNames(w), QStringList({"V01 Tank", "V03 Air"}));
    EXPECT_EQ(w.plot()->axisRectCount(), 2);
}

// A new user's instance: eight channels with their default captions. Each
// strip shows its channel's name in the channel's colour at once.
TEST(TrendWindow, TheDefaultEightChannelsDrawAStripEachAtFirstShow)
{
    TrendStore store;
    ChannelArray<String> labels, colours;
    for (int i = 1; i <= 8; ++i)
        labels[std::size_t(i)] = "V0" + std::to_string(i) + " label:";
    colours.fill("W");
    store.setChannels(labels, colours, {}, {}, 8);
    TrendWindow w(store, {}, "quellmark");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ASSERT_EQ(w.plot()->axisRectCount(), 8);
    w.plot()->replot();
    const QImage image = w.plot()->toPixmap().toImage();
    const std::array<Rgb, 9> rgb = trendColours(colours, 0xff);
    for (int k = 0; k < 8; ++k) {
        const QRect r = w.plot()->axisRect(k)->rect();
        const QColor colour(rgb[std::size_t(k + 1)].r, rgb[std::size_t(k + 1)].g,
                            rgb[std::size_t(k + 1)].b);
        int inColour = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                inColour += std::abs(image.pixelColor(x, y).red() - colour.red()) +
                                std::abs(image.pixelColor(x, y).green() - colour.green()) +
                                std::abs(image.pixelColor(x, y).blue() - colour.blue()) <
                            60;
        EXPECT_GT(inColour, 20) << "strip " << k + 1 << " drawn in its colour";
    }
    EXPECT_EQ(stripNames(w).value(0), "V01") << "a default caption adds nothing to the name";
}

TEST(TrendWindow, TheTimeAxisIsLabelledInEveryRangeWhenFirstShown)
{
    const qint64 spans[] = {600'000,    3'600'000,        28'800'000,
                            86'400'000, 7 * 86'400'000ll, 30 * 86'400'000ll};
    for (const qint64 span : spans) {
        TrendStore store;
        store.add(QDateTime::currentMSecsSinceEpoch() - 5000, {0, 20, 12, 1000}, 0, 3);
        TrendWindow w(store, {}, "quellmark");
        w.showLive(span);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        w.plot()->replot();
        const QCPAxis* time =
            w.plot()->axisRect(w.plot()->axisRectCount() - 1)->axis(QCPAxis::atBottom);
        EXPECT_GE(time->tickVectorLabels().size(), 3) << span << " ms: labels on the time axis";
        EXPECT_FALSE(time->tickVectorLabels().value(0).isEmpty()) << span << " ms";
    }
}

// A power cut and alarm flickers around the limit.
TEST(TrendWindow, ADayWithAlarmsAndAGapIsReadInTheBackground)
{
    QByteArray log;
    for (int s = 0; s < 86400; s += 10) {
        if (s >= 36000 && s < 48600)
            continue; // a power cut 10:00-13:30
        const float v1 = (s >= 21600 && s < 27000) ? 60.0f + float(s / 10 % 2) * -20 : 21.5f;
        log += QTime(0, 0).addSecs(s).toString("\"hh:mm:ss\"").toLatin1() + ',' +
               QByteArray::fromStdString(invariantForm(v1)) + ",12.1,0,0,0,0,0,0\r\n";
    }
    AppFixture fx;
    QDir(fx.tmp.path()).mkdir("quellmarkLog");
    fx.write("quellmarkLog/" + QString::fromLatin1(logFileName(QDate(2025, 3, 12))), log);
    TrendStore store;
    ChannelArray<Single> hi, lo;
    hi.fill(50);
    lo.fill(-50);
    store.setChannels({"", "Room", "Supply"}, {"", "W", "W"}, hi, lo, 2);
    TrendWindow w(store, QFile::encodeName(fx.path("quellmarkLog")), "pump2");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.showDay(QDate(2025, 3, 12));
    EXPECT_TRUE(w.loading()) << "the day is read in the background";
    QTRY_VERIFY_WITH_TIMEOUT(!w.loading(), 20000);

    const QString summary = w.plot()->accessibleDescription();
    EXPECT_TRUE(summary.startsWith("2025-03-12, 7380 readings, 1 gap. ")) << summary;
    EXPECT_TRUE(summary.contains("V01 Room: min 21.5, max 60, last 21.5, 1 alarm episode(s)"))
        << summary;

    ASSERT_TRUE(w.exportPng(fx.path("day.png")));
    EXPECT_EQ(QImage(fx.path("day.png")).height(), w.plot()->height() + 28) << "a title above";
    w.hide(); // closed, it no longer wakes the program to redraw
    EXPECT_FALSE(w.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly)->isActive());
}

// The wheel on a strip's value axis zooms it and the scale stays through
// redraws; a double click there gives the automatic scale back.
TEST(TrendWindow, AValueAxisIsZoomedByTheWheelUntilADoubleClick)
{
    TrendStore store;
    store.add(QDateTime::currentMSecsSinceEpoch() - 5000, {0, 20, 12}, 0, 2);
    TrendWindow w(store, {}, "quellmark");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QCPAxis* axis = w.plot()->axisRect(0)->axis(QCPAxis::atLeft);
    const QCPRange automatic = axis->range();
    const QPointF on(axis->axisRect()->left() - 10, axis->axisRect()->center().y());
    QWheelEvent wheel(on, w.plot()->mapToGlobal(on), {}, {0, 120}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.plot(), &wheel);
    EXPECT_LT(axis->range().size(), automatic.size()) << "zoomed in";
    w.showLive(600'000); // redrawn
    EXPECT_LT(axis->range().size(), automatic.size()) << "the user's scale is kept";
    QTest::mouseDClick(w.plot(), Qt::LeftButton, {}, on.toPoint());
    EXPECT_EQ(axis->range(), automatic);
}

// The crosshair follows the pointer over the plot and leaves with it.
TEST(TrendWindow, TheCrosshairLeavesWithThePointer)
{
    TrendStore store;
    store.add(QDateTime::currentMSecsSinceEpoch() - 5000, {0, 20}, 0, 1);
    TrendWindow w(store, {}, "quellmark");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const auto lines = [&] {
        int n = 0;
        for (int k = 0; k < w.plot()->itemCount(); ++k)
            n += qobject_cast<QCPItemStraightLine*>(w.plot()->item(k)) &&
                 w.plot()->item(k)->visible();
        return n;
    };
    const int limits = lines();
    QTest::mouseMove(w.plot(), w.plot()->axisRect(0)->center());
    EXPECT_GT(lines(), limits) << "the crosshair over the plot";
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w.plot(), &leave);
    EXPECT_EQ(lines(), limits) << "gone with the pointer";
}

// The chosen day's file cannot be read: the note names it, not the day
// before, with the reason; the tooltip has every problem.
TEST(TrendWindow, TheNoteNamesTheChosenDaysOwnFile)
{
    AppFixture fx;
    const QDate day(2025, 3, 12);
    QDir(fx.tmp.path()).mkpath("log/" + QString::fromLatin1(logFileName(day)));
    fx.write("log/" + QString::fromLatin1(logFileName(day.addDays(-1))), "\"23:59:59\",1\r\n");
    fx.write("log/" + QString::fromLatin1(logFileName(day.addDays(1))), "bad\r\n");
    TrendStore store;
    TrendWindow w(store, QFile::encodeName(fx.path("log")), "pump2");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.showRange(QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch(),
                QDateTime(day.addDays(2), QTime(0, 0)).toMSecsSinceEpoch(), true);
    QTRY_VERIFY_WITH_TIMEOUT(!w.loading(), 20000);
    EXPECT_EQ(w.note(), "250312.txt: cannot be read: a directory, not a file (and 1 more)");
    EXPECT_EQ(w.findChild<QLabel*>()->toolTip(),
              "250312.txt: cannot be read: a directory, not a file\n"
              "250313.txt: 1 line not in the log's form");
    EXPECT_EQ(w.proposedName(), "pump2-2025-03-12--2025-03-13") << "dates name the export";
}

// An hour of a reading a second: the CSV written from the window has them all.
TEST(TrendWindow, TheCsvOfAnHourHasEveryReading)
{
    AppFixture fx;
    const QDate day(2025, 3, 12);
    QByteArray log;
    for (int s = 8 * 3600; s < 9 * 3600; ++s)
        log +=
            QTime(0, 0).addSecs(s).toString("\"hh:mm:ss\"").toLatin1() + ",1.5,2,0,0,0,0,0,0\r\n";
    QDir(fx.tmp.path()).mkdir("log");
    fx.write("log/" + QString::fromLatin1(logFileName(day)), log);
    TrendStore store;
    store.setChannels({"", "Room"}, {}, {}, {}, 2);
    TrendWindow w(store, QFile::encodeName(fx.path("log")), "pump2");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.showRange(QDateTime(day, QTime(8, 0)).toMSecsSinceEpoch(),
                QDateTime(day, QTime(9, 0)).toMSecsSinceEpoch());
    QTRY_VERIFY_WITH_TIMEOUT(!w.loading(), 20000);
    w.exportCsv(fx.path("hour.csv"));
    QTRY_VERIFY_WITH_TIMEOUT(!w.exporting(), 20000);
    ASSERT_TRUE(w.exported()) << w.note().toStdString();
    const QList<QByteArray> rows = fx.file("hour.csv").split('\n');
    EXPECT_EQ(rows.value(0), "\"time\",\"V01 Room\",\"V02\"\r");
    EXPECT_EQ(rows.size(), 3600 + 2) << "a header, every reading, the end";
}

} // namespace
} // namespace qm::test
