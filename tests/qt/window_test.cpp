// The window as a user and a screen reader meet it: widgets found by their
// accessible description, read through their accessible names and pixels.
#include "tests/support/app_fixture.h"
#include "ui/main_window.h"
#include "ui/port_chooser.h"
#include "ui/widgets.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>

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
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->updatePending(); }, 5000))
            << "the window never caught up with the model";
    }
    template <class W = QWidget>
    W* find(const QString& description)
    {
        QList<W*> hits;
        for (W* w : window->findChildren<W*>())
            if (w->accessibleDescription() == description)
                hits.append(w);
        EXPECT_EQ(hits.size(), 1) << description;
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
    MonitorPresenter* form = nullptr;
    std::unique_ptr<MainWindow> window;
};

// One line per widget in window_layout.txt; QM_UPDATE_GOLDEN=1 rewrites it.
TEST_F(WindowTest, EveryControlHasItsRoleNameAndFixedPlace)
{
    QStringList layout;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const QString role = w->accessibleDescription();
        const QRect g = w->geometry();
        layout << QStringLiteral("%1 | %2 | %3,%4,%5,%6 | %7")
                      .arg(role.isEmpty() ? w->metaObject()->className() : role, nameOf(w))
                      .arg(g.x())
                      .arg(g.y())
                      .arg(g.width())
                      .arg(g.height())
                      .arg(w->font().pointSizeF());
    }
    QFile golden(QStringLiteral(QM_SOURCE_DIR "/tests/qt/window_layout.txt"));
    if (qEnvironmentVariableIsSet("QM_UPDATE_GOLDEN")) {
        ASSERT_TRUE(golden.open(QIODevice::WriteOnly | QIODevice::Truncate));
        golden.write(layout.join('\n').toUtf8() + '\n');
        golden.close();
    }
    ASSERT_TRUE(golden.open(QIODevice::ReadOnly)) << golden.fileName();
    const QStringList expected =
        QString::fromUtf8(golden.readAll()).split('\n', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < std::max(expected.size(), layout.size()); ++i)
        EXPECT_EQ(layout.value(i), expected.value(i))
            << "line " << i + 1 << " of " << golden.fileName();
    EXPECT_EQ(window->windowTitle(), "Quellmark: quellmark");
    EXPECT_FALSE(find<QLineEdit>("BPass")->isEnabled()) << "BPass is shown, never edited";
    EXPECT_TRUE(find<QLineEdit>("V8 nc6")->isReadOnly()) << "an nc box takes no typing";
    EXPECT_TRUE(find<QLineEdit>("RVnr")->toolTip().contains("1 to 8"))
        << find<QLineEdit>("RVnr")->toolTip();
}

// Two rows of four channel panels, the status bar below them, 8 pixels of
// margin above, between and below.
TEST_F(WindowTest, TheWindowHoldsTwoRowsOfPanelsAndTheBarBelowThem)
{
    int bottom = 0;
    for (QWidget* w : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        bottom = std::max(bottom, w->isHidden() ? 0 : w->geometry().bottom() + 1);
    EXPECT_EQ(window->height(), 8 + 196 + 6 + 196 + 8 + 28 + 8) << "the window's height";
    EXPECT_EQ(window->height(), bottom + 8) << "8 pixels below the lowest control";
}

TEST_F(WindowTest, StatusLineValuesAndLampsShowWhatTheModelHolds)
{
    auto* status = find<ui::TextLabel>("Status line");
    const QString text = "<b>V01=</b><img src=x>"; // device data is plain text, never markup
    form->statusLine.setText(text);
    form->statusLine.setBackColor(colors::kStatusFailure);
    flush();
    EXPECT_EQ(nameOf(status), text);
    EXPECT_EQ(pixel(status, {status->width() - 6, status->height() / 2}), QColor(255, 128, 128));
    ASSERT_TRUE(form->monitor().updateChannelValue(4, "23.47")); // channel 4 is "B": cyan
    ASSERT_TRUE(form->monitor().updateChannelValue(5, "120"));
    form->monitor().evaluateChannels();
    flush();
    auto* value = find<ui::TextLabel>("V04 value");
    EXPECT_EQ(nameOf(value), "23.5");
    EXPECT_EQ(value->palette().color(QPalette::WindowText), QColor(0, 255, 255));
    auto* lamp = find("V05 alarm lamp");
    const QPoint centre(lamp->width() / 2, lamp->height() / 2);
    EXPECT_EQ(nameOf(lamp), "alarm");
    EXPECT_EQ(pixel(lamp, centre), QColor(255, 0, 0));
    form->alarmLamps[5].setFillStyle(FillStyle::Solid);
    flush();
    EXPECT_EQ(nameOf(lamp), "off");
    const QColor off = pixel(lamp, centre);
    EXPECT_NE(off, QColor(255, 0, 0)) << "an unlit lamp is not red";
    EXPECT_NE(off, QColor(0, 0, 0)) << "an unlit lamp must show on the black panel";

    auto* box = find<QLineEdit>("V03 Set Hi");
    form->setHiBoxes[3].setError("refused");
    flush();
    EXPECT_EQ(box->palette().color(QPalette::Base), QColor(255, 128, 128)) << "a refused entry";
    EXPECT_EQ(box->toolTip(), "refused");
}

TEST_F(WindowTest, PanelsOpenAndCloseByTheirButtons)
{
    click("Open settings");
    click("Open help");
    EXPECT_TRUE(find("Help panel")->isVisible());
    EXPECT_TRUE(find("Settings panel")->isVisible()) << "stays open under the help panel";
    auto* close = find("Close help"); // the panel opened last lies on top
    EXPECT_EQ(window->childAt(close->mapTo(window.get(), close->rect().center())), close);
    QStringList lines = find<QPlainTextEdit>("Help text")->toPlainText().split('\n');
    EXPECT_EQ(lines.mid(0, 11), form->helpText.text().split("\r\n").mid(0, 11));
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
    EXPECT_EQ(nameOf(find("V02 label")), "Pressure");
    EXPECT_EQ(form->monitor().settings().logOn, 1) << "the Log file box was ticked";
    fx.answers = {Dialogs::Answer::No};
    EXPECT_FALSE(window->close());
    EXPECT_EQ(fx.questions, 1);
}

// A chooser closed without a choice changes nothing.
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
    auto* pending = find<QLabel>("Chosen port");
    for (const bool accept : {false, true}) {
        click("Open settings");
        type("COM port", "4");
        choose(accept);
        EXPECT_EQ(::readlink(link, target, sizeof target), -1) << "a link before SAVE-CLOSE";
        EXPECT_EQ(pending->text(),
                  accept ? "\u2192 /dev/serial/by-id/usb-X, linked at SAVE-CLOSE" : "")
            << "shown before SAVE-CLOSE";
        int reopenedOn = -1;
        QTimer::singleShot(0, [&reopenedOn] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            reopenedOn = dialog->findChild<QListWidget*>()->currentRow();
            dialog->reject();
        });
        click("Choose port");
        EXPECT_EQ(reopenedOn, accept ? 0 : -1) << "the chooser opens on the pending choice";
        click("Save and close settings");
    }
    EXPECT_GT(::readlink(link, target, sizeof target), 0);
    EXPECT_STREQ(target, "/dev/serial/by-id/usb-X");
    EXPECT_EQ(pending->text(), "") << "nothing pending after SAVE-CLOSE";
}

TEST_F(WindowTest, AChosenDeviceThatCannotBeLinkedStopsTheSave)
{
    window->portChooser().devices = [] {
        return std::vector<SerialDevice>{{"/dev/null", "/dev/null", "Null", {}, {}, {}}};
    };
    fx.write("ports", "a file where the folder would be");
    click("Open settings");
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        dialog->findChild<QListWidget*>()->setCurrentRow(0);
        dialog->accept();
    });
    click("Choose port");
    click("Save and close settings");
    EXPECT_TRUE(form->statusLine.text().startsWith("Cannot make port link "))
        << form->statusLine.text();
    EXPECT_EQ(form->statusLine.backColor(), colors::kStatusFailure);
    EXPECT_TRUE(form->settingsPanel.visible()) << "the settings panel stays open";
}

} // namespace
} // namespace qm::test
