// The trend window on a day from its log file: limit lines, alarm stretches,
// the infinities, a gap, and the text alternative that follows the view.
#include "app/numbers.h"
#include "trend/qt_trend_window.h"

#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(TrendWindow, ADayFromItsLogShowsLimitsAlarmsAndSaysWhatItShows)
{
    // A reading every 10 s; V01 above its limit 06:00-06:30 and 15:00-15:20,
    // V02 beyond the scaling once at noon, 20:00-21:00 missing, a line cut.
    std::string log;
    for (int s = 0; s < 86400; s += 10) {
        if (s >= 72000 && s < 75600)
            continue;
        const bool over = (s >= 21600 && s < 23400) || (s >= 54000 && s < 55200);
        const float v1 = over ? 120.0f : std::round(500 + 200 * std::sin(s / 3600.0)) / 10;
        const float v2 = s == 43200 ? INFINITY : std::round(100 * std::cos(s / 7200.0)) / 10;
        log += QTime(0, 0).addSecs(s).toString("\"hh:mm:ss\"").toStdString() + "," + invariantForm(v1) + "," +
               invariantForm(v2) + ",0,0,0,0,0,0\r\n";
    }
    log += "\"23:59:59\",1,2\r\n";
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("quellmarkLog");
    QFile file(dir.filePath("quellmarkLog/250312.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(log.data(), qint64(log.size())) > 0);
    file.close();

    TrendStore store;
    store.labels[1] = "Tank";
    store.labels[2] = "Pump";
    store.colours = {"", "Y", "B", "W", "W", "W", "W", "W", "W"};
    store.setHi.fill(99.9f);
    TrendWindow w(store, QFile::encodeName(dir.filePath("quellmarkLog")), "quellmark");
    EXPECT_EQ(w.windowTitle(), "Quellmark: quellmark trend");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.showDay(QDate(2025, 3, 12)), 1);
    auto* limits = w.findChild<QComboBox*>();
    for (QComboBox* box : w.findChildren<QComboBox*>())
        if (box->accessibleDescription() == "Limit lines")
            limits = box;
    limits->setCurrentIndex(1);
    emit limits->activated(1);
    const QString summary = w.summary();
    EXPECT_EQ(w.view()->accessibleDescription(), summary);
    EXPECT_TRUE(summary.startsWith("V01 Tank: 8280 points, min 30, max 120, last 31.9, 2 alarm stretches; "
                                   "V02 Pump: 8280 points, min -10, max 10, last 8.4, 3 alarm stretches; V03 : "))
        << summary.toStdString();
    EXPECT_EQ(w.view()->chart()->series().size(), 8 + 2); // a legend entry each, the limit lines
    QTest::qWait(50); // the chart lays itself out
    w.grab().save(QDir::current().filePath("trend-day.png"));

    QTemporaryDir out;
    ASSERT_TRUE(w.exportCsv(out.filePath("day.csv")));
    QFile csv(out.filePath("day.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    EXPECT_EQ(lines.size(), 8280 + 1);
    EXPECT_EQ(lines[4320], "\"2025-03-12 12:00:00\",39.3,INF,0,0,0,0,0,0\r");
}

} // namespace
} // namespace qm
