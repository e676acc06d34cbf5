// The windows as a user and a screen reader meet them: widgets found by the
// role words they carry as accessible description, read through their
// accessible names and pixels, operated with mouse, keyboard and the
// accessibility interface.
#include "app/numbers.h"
#include "tests/support/app_fixture.h"
#include "trend/qt_trend_window.h"
#include "ui/main_window.h"
#include "ui/port_chooser.h"
#include "ui/widgets.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qm::test {
namespace {

QString nameOf(QWidget* w)
{
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}

QColor pixel(QWidget* w, QPoint at)
{
    return w->grab().toImage().pixelColor(at);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = &fx.start(kDefaultSettingsFile);
        window = std::make_unique<MainWindow>(*form);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        flush();
    }
    void flush()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->updatePending(); }, 1000));
    }
    template <class W = QWidget>
    W* find(const QString& description)
    {
        QList<W*> hits;
        for (W* w : window->findChildren<W*>())
            if (w->accessibleDescription() == description)
                hits.append(w);
        EXPECT_EQ(hits.size(), 1) << description.toStdString();
        return hits.value(0);
    }
    void click(const QString& description)
    {
        QTest::mouseClick(find<QAbstractButton>(description), Qt::LeftButton);
        flush();
    }
    void type(const QString& description, const QString& text)
    {
        auto* box = find<QLineEdit>(description);
        box->selectAll();
        QTest::keyClicks(box, text);
        flush();
    }

    AppFixture fx;
    MainForm* form = nullptr;
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, EveryControlHasItsRoleNameAndFixedPlace)
{
    std::vector<std::pair<QString, QString>> roles{{"Status line", "Status:"},
                                                   {"Device code", "???"},
                                                   {"Help text", "Help text"},
                                                   {"COM port", "COM port"},
                                                   {"Baud", "Baud"},
                                                   {"ID", "ID"},
                                                   {"STime", "STime"},
                                                   {"RVnr", "RVnr"},
                                                   {"BPass", "BPass"},
                                                   {"Log file", "Log file"},
                                                   {"Play wav a1", "Play wav a1"},
                                                   {"Open settings", "Set"},
                                                   {"Open help", "Hlp"},
                                                   {"Close help", "Close"},
                                                   {"Save and close settings", "SAVE-CLOSE"}};
    for (int i = 1; i <= 8; ++i) {
        const QString ch = QStringLiteral("V0%1 ").arg(i), v = QStringLiteral("V%1 ").arg(i);
        roles.insert(roles.end(), {{ch + "value", "-"},
                                   {ch + "label", ch + "label:"},
                                   {ch + "alarm lamp", "off"},
                                   {ch + "Set Hi", ch + "Set Hi"},
                                   {ch + "Set Lo", ch + "Set Lo"},
                                   {ch + "Save", "Save"}});
        for (const char* box : {"label", "color", "Nr1", "Nr2", "nc3", "nc4", "nc5", "nc6"})
            roles.push_back({v + box, v + box});
    }
    for (const auto& [description, name] : roles)
        EXPECT_EQ(nameOf(find(description)), name) << description.toStdString();
    EXPECT_EQ(window->windowTitle(), "Quellmark: quellmark");
    EXPECT_FALSE(find<QLineEdit>("BPass")->isEnabled());

    // The layout is fixed: any change of a control's place, size or font
    // shows here, and must be meant.
    QByteArray layout;
    for (QWidget* w : window->findChildren<QWidget*>())
        layout += w->accessibleDescription().toUtf8() + QByteArray::number(w->geometry().x()) +
                  ',' + QByteArray::number(w->geometry().y()) + ',' +
                  QByteArray::number(w->width()) + ',' + QByteArray::number(w->height()) + ',' +
                  QByteArray::number(w->font().pointSizeF()) + ';';
    EXPECT_EQ(QCryptographicHash::hash(layout, QCryptographicHash::Md5).toHex().left(12),
              "15fcb13c2859")
        << layout.toStdString();
}

TEST_F(WindowTest, StatusLineValuesAndLampsShowWhatTheModelHolds)
{
    auto* status = find<ui::TextLabel>("Status line");
    for (const auto& [text, back] :
         {std::pair{QStringLiteral("No response!"), colors::kStatusFailure},
          {QStringLiteral("<b>V01=</b><img src=x>"), colors::kStatusOk}}) {
        form->lblStatus.setText(text); // device data is plain text, never markup
        form->lblStatus.setBackColor(back);
        flush();
        EXPECT_EQ(nameOf(status), text);
        EXPECT_EQ(pixel(status, {status->width() - 6, status->height() / 2}),
                  QColor(back.r, back.g, back.b));
    }
    ASSERT_TRUE(form->UpdateChannelValue(4, "23.47")); // channel 4 is "B": cyan
    ASSERT_TRUE(form->UpdateChannelValue(5, "120"));
    form->cmdRadni1_Click();
    flush();
    auto* value = find<ui::TextLabel>("V04 value");
    EXPECT_EQ(nameOf(value), "23.5");
    EXPECT_EQ(value->palette().color(QPalette::WindowText), QColor(0, 255, 255));
    auto* lamp = find("V05 alarm lamp");
    const QPoint centre(lamp->width() / 2, lamp->height() / 2);
    EXPECT_EQ(nameOf(lamp), "alarm");
    EXPECT_EQ(pixel(lamp, centre), QColor(255, 0, 0));
    form->Led1[5].setFillStyle(FillStyle::Solid);
    flush();
    EXPECT_EQ(nameOf(lamp), "off");
    const QColor off = pixel(lamp, centre);
    EXPECT_TRUE(off != QColor(255, 0, 0) && off != QColor(0, 0, 0))
        << "off must show on the black panel";
}

TEST_F(WindowTest, PanelsOpenAndCloseByTheirButtons)
{
    click("Open settings");
    click("Open help");
    EXPECT_TRUE(find("Help panel")->isVisible() && find("Settings panel")->isVisible());
    auto* close = find("Close help"); // the panel opened last lies on top
    EXPECT_EQ(window->childAt(close->mapTo(window.get(), close->rect().center())), close);
    QStringList lines = find<QPlainTextEdit>("Help text")->toPlainText().split('\n');
    EXPECT_EQ(lines.mid(0, 11), form->Text1.text().split("\r\n").mid(0, 11));
    click("Close help");
    EXPECT_FALSE(find("Help panel")->isVisible());

    type("V2 label", "Pressure");
    auto* log = find<QCheckBox>("Log file");
    QTest::mouseClick(log, Qt::LeftButton, {}, QPoint(8, log->height() / 2));
    type("V03 Set Hi", "42.5");
    EXPECT_EQ(find<QLineEdit>("V03 Set Hi")->cursorPosition(), 4)
        << "the box was rewritten under the cursor";
    click("Save and close settings");
    EXPECT_FALSE(find("Settings panel")->isVisible());
    EXPECT_EQ(std::tuple(nameOf(find("V02 label")), form->SetHi[3], form->LogOn),
              std::tuple(QString("Pressure"), 42.5f, 1));
    fx.answers = {Dialogs::Answer::No};
    EXPECT_FALSE(window->close());
    EXPECT_EQ(fx.questions, 1);
}

// A device chosen from the list becomes ports/com<n> (n from the COM port
// box) when SAVE-CLOSE saves, not before; a chooser closed without a choice
// changes nothing.
TEST_F(WindowTest, AChosenDeviceBecomesTheComPortLinkAtSaveClose)
{
    window->portChooser().devices = [] {
        return std::vector<SerialDevice>{
            {"/dev/null", "/dev/serial/by-id/usb-X", "Adapter", {}, {}, {}}};
    };
    const auto choose = [&](bool accept) {
        QTimer::singleShot(0, [accept] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            dialog->findChild<QListWidget*>()->setCurrentRow(0);
            accept ? dialog->accept() : dialog->reject();
        });
        click("Choose port");
    };
    const QByteArray link = QFile::encodeName(fx.path("ports/com4"));
    char target[256] = {};
    for (const bool accept : {false, true}) {
        click("Open settings");
        type("COM port", "4");
        choose(accept);
        EXPECT_EQ(::readlink(link, target, sizeof target), -1) << "a link before SAVE-CLOSE";
        click("Save and close settings");
    }
    EXPECT_GT(::readlink(link, target, sizeof target), 0);
    EXPECT_STREQ(target, "/dev/serial/by-id/usb-X");
}

// A screen reader, voice control or an automation tool sets text through the
// accessibility interface: what the box shows is what gets saved. The
// window's own updates are not taken for edits.
TEST_F(WindowTest, TextSetThroughTheAccessibilityInterfaceIsWhatGetsSaved)
{
    click("Open settings");
    auto* rvnr = find<QLineEdit>("RVnr");
    QAccessible::queryAccessibleInterface(rvnr)->editableTextInterface()->replaceText(0, 1, "5");
    QAccessible::queryAccessibleInterface(find("ID"))->setText(QAccessible::Value, "A");
    QAccessible::queryAccessibleInterface(find("Log file"))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::toggleAction());
    click("Save and close settings");
    EXPECT_TRUE(fx.file("quellmark.ini").startsWith("1,\"9600\",\"A\",30,5,\"not used\",1,0\r\n"));

    // A refused entry is marked on its box, the reason its tooltip, until
    // the user edits it; the window's own updates are no edits.
    auto* box = find<QLineEdit>("V03 Set Hi");
    form->txtSetHi[3].setError("refused");
    form->txtSetHi[3].setText("12");
    flush();
    EXPECT_EQ(box->text(), "12");
    EXPECT_EQ(std::pair(box->toolTip(), box->palette().color(QPalette::Base)),
              std::pair(QString("refused"), QColor(255, 128, 128)));
    QTest::keyClick(box, Qt::Key_Backspace);
    flush();
    EXPECT_TRUE(box->toolTip().isEmpty() && form->txtSetHi[3].error().isEmpty());
}

TEST(TrendWindow, ADayFromItsLogShowsLimitsAlarmsAndSaysWhatItShows)
{
    // A reading every 10 s; V01 above its limit 06:00-06:30 and 15:00-15:20,
    // V02 beyond the scaling once at noon.
    std::string log;
    for (int s = 0; s < 86400; s += 10) {
        const bool over = (s >= 21600 && s < 23400) || (s >= 54000 && s < 55200);
        const float v1 = over ? 120.0f : std::round(500 + 200 * std::sin(s / 3600.0)) / 10;
        const float v2 = s == 43200 ? INFINITY : std::round(100 * std::cos(s / 7200.0)) / 10;
        log += QTime(0, 0).addSecs(s).toString("\"hh:mm:ss\"").toStdString() + "," +
               invariantForm(v1) + "," + invariantForm(v2) + ",0,0,0,0,0,0\r\n";
    }
    AppFixture fx;
    QDir(fx.tmp.path()).mkdir("quellmarkLog");
    fx.write("quellmarkLog/250312.txt", QByteArray::fromStdString(log));
    TrendStore store;
    store.labels = {"", "Tank", "Pump"};
    store.colours = {"", "Y", "B", "W", "W", "W", "W", "W", "W"};
    store.setHi.fill(99.9f);
    TrendWindow w(store, QFile::encodeName(fx.path("quellmarkLog")), "quellmark");
    EXPECT_EQ(w.windowTitle(), "Quellmark: quellmark trend");
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.showDay(QDate(2025, 3, 12)), 0);       // no broken lines
    auto* limits = w.findChildren<QComboBox*>().at(1); // "Limit lines"
    ASSERT_EQ(limits->accessibleDescription(), "Limit lines");
    limits->setCurrentIndex(1);
    emit limits->activated(1);
    const QString summary = w.summary();
    EXPECT_EQ(w.view()->accessibleDescription(), summary);
    EXPECT_TRUE(summary.startsWith(
        "V01 Tank: 8640 points, min 30, max 120, last 31.9, 2 alarm stretches; "
        "V02 Pump: 8640 points, min -10, max 10, last 8.4, 3 alarm stretches; V03 : "))
        << summary.toStdString();
    EXPECT_EQ(w.view()->chart()->series().size(), 8 + 2); // a legend entry each, the limit lines
    w.hide(); // closed, it no longer wakes the program to redraw
    EXPECT_FALSE(w.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly)->isActive());
}

} // namespace
} // namespace qm::test
