// The window as a user and a screen reader meet it: widgets are found by the
// role words they carry as accessible description, read through their
// accessible names and their pixels, and operated with mouse and keyboard.
#include "app/main_form.h"
#include "tests/support/app_fixture.h"
#include "tests/support/settings_samples.h"
#include "ui/main_window.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <clocale>
#include <memory>

namespace qm {
namespace {

using test::AppFixture;

QString accessibleName(QWidget* w)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// The colour the user sees at `at` in the widget.
QColor pixelAt(QWidget* w, QPoint at)
{
    return w->grab().toImage().pixelColor(at);
}

bool showsColor(QWidget* w, const QColor& color)
{
    const QImage image = w->grab().toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == color)
                return true;
    return false;
}

// Counts the queued calls the window receives.
class MetaCallCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::MetaCall)
            ++count;
        return false;
    }
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = &fx.start();
        window = std::make_unique<MainWindow>(*form);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        flush();
    }

    static void flush() { QCoreApplication::processEvents(); }

    // The one widget that carries `description`; fails the test otherwise.
    template <class W = QWidget>
    W* find(const QString& description)
    {
        QList<QWidget*> hits;
        for (QWidget* w : window->findChildren<QWidget*>())
            if (w->accessibleDescription() == description)
                hits.append(w);
        EXPECT_EQ(hits.size(), 1) << description.toStdString();
        if (hits.size() != 1)
            return nullptr;
        auto* w = qobject_cast<W*>(hits.front());
        EXPECT_NE(w, nullptr) << description.toStdString() << " has an unexpected kind";
        return w;
    }

    void click(const QString& description)
    {
        auto* button = find<QAbstractButton>(description);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        flush();
    }

    AppFixture fx;
    MainForm* form = nullptr;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, EveryControlIsFoundByItsRoleAndNamedAsTheDesignSays)
{
    struct Role {
        QString description;
        QString name; // empty: the text box's name is its description
    };
    std::vector<Role> roles{{"Status line", "Status:"},
                            {"Device code", "???"},
                            {"Help text", ""},
                            {"COM port", ""},
                            {"Baud", ""},
                            {"ID", ""},
                            {"STime", ""},
                            {"RVnr", ""},
                            {"BPass", ""},
                            {"Log file", "Log file"},
                            {"Play wav a1", "Play wav a1"},
                            {"Open settings", "Set"},
                            {"Open help", "Hlp"},
                            {"Close help", "Close"},
                            {"Save and close settings", "SAVE-CLOSE"}};
    for (int i = 1; i <= 8; ++i) {
        const QString ch = QStringLiteral("V0%1 ").arg(i);
        const QString v = QStringLiteral("V%1 ").arg(i);
        roles.push_back({ch + "value", "-"});
        roles.push_back({ch + "label", QStringLiteral("V0%1 label:").arg(i)});
        roles.push_back({ch + "alarm lamp", "off"});
        roles.push_back({ch + "Set Hi", ""});
        roles.push_back({ch + "Set Lo", ""});
        roles.push_back({ch + "Save", "Save"});
        for (const char* box : {"label", "color", "Nr1", "Nr2", "nc3", "nc4", "nc5", "nc6"})
            roles.push_back({v + box, ""});
    }
    for (const Role& role : roles) {
        QWidget* w = find(role.description);
        if (!w)
            continue;
        EXPECT_EQ(accessibleName(w), role.name.isEmpty() ? role.description : role.name)
            << role.description.toStdString();
    }
}

TEST_F(MainWindowTest, StartUpShowsCaptionAndLoadedSettings)
{
    EXPECT_EQ(window->windowTitle(), "Quellmark: quellmark");
    EXPECT_EQ(find<QLineEdit>("COM port")->text(), "1");
    EXPECT_EQ(find<QLineEdit>("Baud")->text(), "9600");
    EXPECT_FALSE(find<QLineEdit>("BPass")->isEnabled());
    EXPECT_EQ(find<QLineEdit>("V3 label")->text(), "V03 label:");
    EXPECT_EQ(find<QLineEdit>("V04 Set Hi")->text(), "99.9");
    EXPECT_EQ(find<QLineEdit>("V04 Set Lo")->text(), "0");
    EXPECT_FALSE(find("Settings panel")->isVisible());
    EXPECT_FALSE(find("Help panel")->isVisible());
}

TEST_F(MainWindowTest, TheHiddenContainerNeverReachesTheScreen)
{
    // After start-up the output buttons carry OUT1..OUT8 and the name boxes
    // the same; none of that, nor the code-only buttons, may be on screen.
    QStringList hidden{"INIT", "?", "Kasnjenje", "cmdRadni1", "frmNevidise:", "Outputs:",
                       "Out label:", "Text2"};
    for (int i = 1; i <= 8; ++i)
        hidden << QStringLiteral("OUT%1").arg(i);
    for (QWidget* w : window->findChildren<QWidget*>()) {
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text();
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            text = e->text();
        else if (auto* l = qobject_cast<QLabel*>(w))
            text = l->text();
        else
            text = accessibleName(w);
        EXPECT_FALSE(hidden.contains(text)) << text.toStdString();
    }
}

TEST_F(MainWindowTest, StatusLineShowsTextAndColourAsPlainText)
{
    struct Case {
        QString text;
        Rgb back;
    };
    const Case cases[] = {
        {"Searching for uc code...", colors::kStatusSearching},
        {"No response!", colors::kStatusFailure},
        {" QmkApp recognition is OK! ", colors::kStatusOk},
        // Device data is shown as it came, never interpreted as markup.
        {"<b>V01=</b><img src=x>", colors::kStatusOk},
    };
    auto* status = find<QLabel>("Status line");
    ASSERT_NE(status, nullptr);
    for (const Case& c : cases) {
        form->lblStatus.setText(c.text);
        form->lblStatus.setBackColor(c.back);
        flush();
        EXPECT_EQ(accessibleName(status), c.text);
        EXPECT_EQ(status->text(), c.text);
        // The right end of the line holds no text, only its background.
        EXPECT_EQ(pixelAt(status, {status->width() - 6, status->height() / 2}),
                  QColor(c.back.r, c.back.g, c.back.b))
            << c.text.toStdString();
    }
}

TEST_F(MainWindowTest, AFloodOfChangesIsAppliedInOneQueuedUpdate)
{
    MetaCallCounter counter;
    window->installEventFilter(&counter);
    for (int n = 0; n < 20000; ++n) {
        form->lblStatus.setText(QStringLiteral("V01=%1").arg(n));
        form->lblDIS[1].setText(QString::number(n));
    }
    flush();
    EXPECT_EQ(counter.count, 1);
    EXPECT_EQ(accessibleName(find("Status line")), "V01=19999");
    EXPECT_EQ(accessibleName(find("V01 value")), "19999");

    // Nothing more happens while nothing changes.
    flush();
    EXPECT_EQ(counter.count, 1);
    window->removeEventFilter(&counter);
}

TEST_F(MainWindowTest, ValueReplyShowsInTheChannelColour)
{
    // Channel 4 has the colour letter B: cyan, not pure blue.
    ASSERT_TRUE(form->UpdateChannelValue(4, "23.47"));
    flush();
    auto* value = find<QLabel>("V04 value");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(accessibleName(value), "23.5");
    EXPECT_TRUE(showsColor(value, QColor(0, 255, 255)));
    EXPECT_EQ(pixelAt(value, {1, 1}), QColor(Qt::black));
}

TEST_F(MainWindowTest, LampIsRedAndNamedAlarmWhileTransparent)
{
    auto* lamp = find("V02 alarm lamp");
    ASSERT_NE(lamp, nullptr);
    const QPoint centre(lamp->width() / 2, lamp->height() / 2);
    const QColor offColour = pixelAt(lamp, centre);
    EXPECT_EQ(accessibleName(lamp), "off");
    EXPECT_NE(offColour, QColor(255, 0, 0));
    EXPECT_NE(offColour, QColor(0, 0, 0)) << "off must still be visible on the black panel";

    form->Led1[2].setFillStyle(FillStyle::Transparent);
    flush();
    EXPECT_EQ(accessibleName(lamp), "alarm");
    EXPECT_EQ(pixelAt(lamp, centre), QColor(255, 0, 0));
    EXPECT_EQ(accessibleName(find("V01 alarm lamp")), "off");

    form->Led1[2].setFillStyle(FillStyle::Solid);
    flush();
    EXPECT_EQ(accessibleName(lamp), "off");
    EXPECT_EQ(pixelAt(lamp, centre), offColour);
}

TEST_F(MainWindowTest, EvaluationLightsTheLampOfAChannelOutOfLimits)
{
    ASSERT_TRUE(form->UpdateChannelValue(5, "120"));
    form->cmdRadni1_Click();
    flush();
    EXPECT_EQ(accessibleName(find("V05 alarm lamp")), "alarm");
    EXPECT_EQ(accessibleName(find("V06 alarm lamp")), "off");
}

TEST_F(MainWindowTest, HlpOpensTheHelpPanelWithTheHelpTextLineByLine)
{
    auto* panel = find("Help panel");
    auto* text = find<QPlainTextEdit>("Help text");
    ASSERT_TRUE(panel && text);

    click("Open help");
    EXPECT_TRUE(form->frmHelp.visible());
    EXPECT_TRUE(text->isVisible());
    EXPECT_TRUE(text->isReadOnly());
    QStringList expected = form->Text1.text().split(QStringLiteral("\r\n"));
    ASSERT_EQ(expected.size(), 12); // eleven lines, each ended by CR LF
    expected.removeLast();
    QStringList shown = text->toPlainText().split(QLatin1Char('\n'));
    if (!shown.isEmpty() && shown.last().isEmpty())
        shown.removeLast();
    EXPECT_EQ(shown, expected);

    click("Close help");
    EXPECT_FALSE(form->frmHelp.visible());
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(MainWindowTest, TypingIntoSetHiReachesTheModelWithoutEcho)
{
    auto* box = find<QLineEdit>("V03 Set Hi");
    ASSERT_NE(box, nullptr);
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "42.5");
    flush();
    EXPECT_EQ(form->txtSetHi[3].text(), "42.5");
    EXPECT_EQ(box->text(), "42.5");
    EXPECT_EQ(box->cursorPosition(), 4) << "the box was rewritten under the user's cursor";

    // The program's own change still shows.
    form->txtSetHi[3].setText("99.9");
    flush();
    EXPECT_EQ(box->text(), "99.9");
}

// A screen reader, voice control or an automation tool sets text through the
// accessibility interface: what the box then shows is what gets saved. The
// window's own updates are not taken for edits.
TEST_F(MainWindowTest, TextSetThroughTheAccessibilityInterfaceIsWhatGetsSaved)
{
    click("Open settings");
    auto* rvnr = find<QLineEdit>("RVnr");
    QAccessibleInterface* text = QAccessible::queryAccessibleInterface(rvnr);
    ASSERT_NE(text->editableTextInterface(), nullptr);
    text->editableTextInterface()->replaceText(0, rvnr->text().size(), QStringLiteral("5"));
    QAccessible::queryAccessibleInterface(find("ID"))->setText(QAccessible::Value, "A");
    QAccessibleInterface* log = QAccessible::queryAccessibleInterface(find<QCheckBox>("Log file"));
    log->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    flush();
    EXPECT_EQ(rvnr->text(), "5");
    click("Save and close settings");
    QFile file(fx.settingsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readLine().startsWith("1,\"9600\",\"A\",30,5,\"not used\",1,0"));

    form->txtSetHi[3].setError(QStringLiteral("refused"));
    form->txtSetHi[3].setText(QStringLiteral("12"));
    flush();
    EXPECT_EQ(find<QLineEdit>("V03 Set Hi")->text(), "12");
    EXPECT_EQ(form->txtSetHi[3].error(), "refused") << "the window's own update came back as an edit";
}

// A refused entry stays marked on its box, with the reason as its tooltip,
// until the user edits it.
TEST_F(MainWindowTest, ARefusedEntryIsMarkedOnItsBoxUntilEdited)
{
    auto* box = find<QLineEdit>("V02 Set Lo");
    box->selectAll();
    QTest::keyClicks(box, "abc");
    click("V02 Save");
    EXPECT_EQ(box->toolTip(), "Invalid entry in V02 Set Lo: abc");
    EXPECT_EQ(box->palette().color(QPalette::Base), QColor(255, 128, 128));
    QTest::keyClick(box, Qt::Key_Backspace);
    flush();
    EXPECT_TRUE(box->toolTip().isEmpty());
    EXPECT_EQ(box->palette().color(QPalette::Base), QColor(Qt::white));
}

TEST_F(MainWindowTest, SettingsPanelEditsReachTheModelAndSaveCloseReloadsThem)
{
    click("Open settings");
    ASSERT_TRUE(find("Settings panel")->isVisible());
    EXPECT_TRUE(find("V2 label")->isVisible());

    auto* log = find<QCheckBox>("Log file");
    QTest::mouseClick(log, Qt::LeftButton, {}, QPoint(8, log->height() / 2));
    EXPECT_TRUE(form->Chk1.checked());

    auto* label = find<QLineEdit>("V2 label");
    label->selectAll();
    QTest::keyClicks(label, "Pressure");
    EXPECT_EQ(form->txtSetLabel1[2].text(), "Pressure");

    click("Save and close settings");
    EXPECT_FALSE(find("Settings panel")->isVisible());
    EXPECT_EQ(accessibleName(find("V02 label")), "Pressure");
    EXPECT_TRUE(find<QCheckBox>("Log file")->isChecked());
}

TEST_F(MainWindowTest, HelpAndSettingsPanelsAreIndependent)
{
    click("Open settings");
    click("Open help");
    auto* settings = find("Settings panel");
    auto* help = find("Help panel");
    EXPECT_TRUE(settings->isVisible());
    EXPECT_TRUE(help->isVisible());
    // The panel opened last lies on top, where the user can reach its button.
    auto* close = find("Close help");
    EXPECT_EQ(window->childAt(close->mapTo(window.get(), close->rect().center())), close);
    click("Close help");
    EXPECT_TRUE(settings->isVisible());
}

TEST_F(MainWindowTest, ClosingAsksAndStaysOpenUnlessTheAnswerIsYes)
{
    for (auto answer : {Dialogs::Answer::Cancel, Dialogs::Answer::No}) {
        fx.dialogs.asked.clear();
        fx.dialogs.answers = {answer};
        EXPECT_FALSE(window->close());
        EXPECT_TRUE(window->isVisible());
        ASSERT_EQ(fx.dialogs.asked.size(), 1u);
        EXPECT_EQ(fx.dialogs.asked.front(), "Do you want to close/exit App ? | Exit Dialog");
    }
    EXPECT_FALSE(fx.loop.terminated());
}

// A user with a decimal-comma locale: the process's C library writes ","
// (LC_NUMERIC from the environment, as in the program), the boxes show ","
// and the file keeps ".".
class DecimalCommaWindowTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(comma.active()) << "the test locale (build/locale) is missing";
        fx.locale = QLocale(QLocale::German, QLocale::Germany);
        fx.writeSettings(test::defaultSettingsFile());
        MainWindowTest::SetUp();
    }
    test::DecimalCommaLocale comma;
};

TEST_F(DecimalCommaWindowTest, BoxesShowACommaAndAnUnchangedSaveRewritesTheFileByteForByte)
{
    for (const char* box : {"V01 Set Hi", "V08 Set Hi"})
        EXPECT_EQ(find<QLineEdit>(box)->text(), "99,9");
    click("Open settings");
    click("Save and close settings");
    QFile file(fx.settingsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), test::defaultSettingsFile());
    EXPECT_EQ(find<QLineEdit>("V05 Set Hi")->text(), "99,9");
}

} // namespace
} // namespace qm
