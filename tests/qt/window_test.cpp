// The window as a user and a screen reader meet it: widgets found by the
// role words they carry as accessible description, read through their
// accessible names and pixels, operated with mouse, keyboard and the
// accessibility interface.
#include "tests/support/app_fixture.h"
#include "ui/main_window.h"
#include "ui/port_chooser.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDialog>
#include <QListWidget>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

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
    static void flush() { QCoreApplication::processEvents(); }
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
    std::vector<std::pair<QString, QString>> roles{
        {"Status line", "Status:"}, {"Device code", "???"}, {"Help text", "Help text"},
        {"COM port", "COM port"}, {"Baud", "Baud"}, {"ID", "ID"}, {"STime", "STime"}, {"RVnr", "RVnr"},
        {"BPass", "BPass"}, {"Log file", "Log file"}, {"Play wav a1", "Play wav a1"}, {"Open settings", "Set"},
        {"Open help", "Hlp"}, {"Close help", "Close"}, {"Save and close settings", "SAVE-CLOSE"}};
    for (int i = 1; i <= 8; ++i) {
        const QString ch = QStringLiteral("V0%1 ").arg(i), v = QStringLiteral("V%1 ").arg(i);
        roles.insert(roles.end(), {{ch + "value", "-"}, {ch + "label", ch + "label:"}, {ch + "alarm lamp", "off"},
                                   {ch + "Set Hi", ch + "Set Hi"}, {ch + "Set Lo", ch + "Set Lo"}, {ch + "Save", "Save"}});
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
        layout += w->accessibleDescription().toUtf8() + QByteArray::number(w->geometry().x()) + ',' +
                  QByteArray::number(w->geometry().y()) + ',' + QByteArray::number(w->width()) + ',' +
                  QByteArray::number(w->height()) + ',' + QByteArray::number(w->font().pointSizeF()) + ';';
    EXPECT_EQ(QCryptographicHash::hash(layout, QCryptographicHash::Md5).toHex().left(12), "15fcb13c2859")
        << layout.toStdString();
}

TEST_F(WindowTest, StatusLineValuesAndLampsShowWhatTheModelHolds)
{
    auto* status = find<QLabel>("Status line");
    for (const auto& [text, back] : {std::pair{QStringLiteral("No response!"), colors::kStatusFailure},
                                     {QStringLiteral("<b>V01=</b><img src=x>"), colors::kStatusOk}}) {
        form->lblStatus.setText(text); // device data is plain text, never markup
        form->lblStatus.setBackColor(back);
        flush();
        EXPECT_EQ(nameOf(status), text);
        EXPECT_EQ(pixel(status, {status->width() - 6, status->height() / 2}), QColor(back.r, back.g, back.b));
    }
    ASSERT_TRUE(form->UpdateChannelValue(4, "23.47")); // channel 4 is "B": cyan
    ASSERT_TRUE(form->UpdateChannelValue(5, "120"));
    form->cmdRadni1_Click();
    flush();
    auto* value = find<QLabel>("V04 value");
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
    EXPECT_TRUE(off != QColor(255, 0, 0) && off != QColor(0, 0, 0)) << "off must show on the black panel";
}

// A flood of changes costs one queued update, and an idle window none.
TEST_F(WindowTest, AFloodOfChangesIsAppliedInOneQueuedUpdate)
{
    struct : QObject {
        int calls = 0;
        bool eventFilter(QObject*, QEvent* e) override { return calls += e->type() == QEvent::MetaCall, false; }
    } counter;
    window->installEventFilter(&counter);
    for (int n = 0; n < 20000; ++n)
        form->lblStatus.setText(QString::number(n));
    flush();
    flush();
    EXPECT_EQ(counter.calls, 1);
    EXPECT_EQ(nameOf(find("Status line")), "19999");
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
    EXPECT_EQ(find<QLineEdit>("V03 Set Hi")->cursorPosition(), 4) << "the box was rewritten under the cursor";
    click("Save and close settings");
    EXPECT_FALSE(find("Settings panel")->isVisible());
    EXPECT_EQ(nameOf(find("V02 label")), "Pressure");
    EXPECT_EQ(form->SetHi[3], 42.5f);
    EXPECT_EQ(form->LogOn, 1);
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
        return std::vector<SerialDevice>{{"/dev/null", "/dev/serial/by-id/usb-X", "Adapter", {}, {}, {}}};
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
    QAccessible::queryAccessibleInterface(find("Log file"))->actionInterface()->doAction(
        QAccessibleActionInterface::toggleAction());
    click("Save and close settings");
    EXPECT_TRUE(fx.file("quellmark.ini").startsWith("1,\"9600\",\"A\",30,5,\"not used\",1,0\r\n"));

    form->txtSetHi[3].setError("refused");
    form->txtSetHi[3].setText("12");
    flush();
    EXPECT_EQ(find<QLineEdit>("V03 Set Hi")->text(), "12");
    EXPECT_EQ(form->txtSetHi[3].error(), "refused") << "the window's own update came back as an edit";
}

// A refused entry stays marked on its box, the reason as its tooltip, until
// the user edits it.
TEST_F(WindowTest, ARefusedEntryIsMarkedOnItsBoxUntilEdited)
{
    type("V02 Set Lo", "abc");
    click("V02 Save");
    auto* box = find<QLineEdit>("V02 Set Lo");
    EXPECT_EQ(box->toolTip(), "Invalid entry in V02 Set Lo: abc");
    EXPECT_EQ(box->palette().color(QPalette::Base), QColor(255, 128, 128));
    QTest::keyClick(box, Qt::Key_Backspace);
    flush();
    EXPECT_TRUE(box->toolTip().isEmpty());
    EXPECT_EQ(box->palette().color(QPalette::Base), QColor(Qt::white));
}

// A user with a decimal-comma locale: the C library writes "," (the program
// sets LC_NUMERIC from the environment), the boxes show ",", the file keeps ".".
class DecimalCommaWindowTest : public WindowTest {
    void SetUp() override
    {
        fx.locale = QLocale(QLocale::German, QLocale::Germany);
        WindowTest::SetUp();
    }

protected:
    DecimalCommaLocale comma;
};

TEST_F(DecimalCommaWindowTest, BoxesShowACommaAndAnUnchangedSaveRewritesTheFileByteForByte)
{
    ASSERT_TRUE(comma.active()) << "the test locale (build/locale) is missing";
    EXPECT_EQ(find<QLineEdit>("V01 Set Hi")->text(), "99,9");
    click("Open settings");
    click("Save and close settings");
    EXPECT_EQ(fx.file("quellmark.ini"), kDefaultSettingsFile);
    EXPECT_EQ(find<QLineEdit>("V08 Set Hi")->text(), "99,9");
}

} // namespace
} // namespace qm::test
