// The window's own widgets.
#include "publish/qt_publishing.h"
#include "ui/widgets.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QScreen>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// After every change the screen shows what a QLabel given the same texts
// shows, and a screen reader reads the text as shown.
TEST(MqttIndicator, ColourAndWordsFollowThePublishingState)
{
    using S = PublishingState;
    const struct {
        S state;
        const char* words;
        QColor colour;
    } rows[] = {
        {{}, "connecting", QColor(255, 255, 192)},
        {S::connected(), "connected", QColor(0, 192, 0)},
        {{S::Kind::Connected, {}, "refused: a/b"},
         "connected, but refused: a/b",
         QColor(255, 176, 64)},
        {S::notConnected("Connection refused"), "not connected: Connection refused",
         QColor(255, 128, 128)},
        {S::notPublishing("bad key"), "not publishing: bad key", QColor(255, 128, 128)},
    };
    for (const auto& row : rows) {
        QLabel label;
        showMqttState(label, row.state);
        EXPECT_EQ(label.accessibleName(), row.words);
        EXPECT_EQ(label.palette().color(QPalette::Window), row.colour) << row.words;
    }
}

TEST(TextLabel, ShowsWhatAQLabelShowsAfterEveryChange)
{
    struct Case {
        Qt::Alignment alignment;
        qreal points;
        int frame;
        QStringList texts;
    };
    const std::vector<Case> cases{
        {Qt::AlignLeft | Qt::AlignVCenter,
         9,
         QFrame::Panel | QFrame::Sunken,
         {"STime:30 STimer:9", "STime:30 STimer:10", "STime:30 STimer:1", "COM:1 V03=27.4",
          "COM:1 V04=16.52", "COM:1 V04=16.5", "Waffle AVAT", "", "fi ffl Tj", "f", "fi",
          "two\nlines", "tab\tbed", "A&B"}},
        {Qt::AlignCenter,
         27.75,
         QFrame::NoFrame,
         {"-", "22.5", "22.3", "120", "1.11", "11.1", "-0.5", "AVA", "AVAT", "22.5"}},
    };
    for (const Case& c : cases) {
        QWidget host;
        QLabel plain(&host);
        plain.setTextFormat(Qt::PlainText);
        ui::TextLabel kept(&host);
        QFont font({"Arial", "Liberation Sans"});
        font.setPointSizeF(c.points);
        for (QFrame* l : {static_cast<QFrame*>(&plain), static_cast<QFrame*>(&kept)}) {
            l->setAutoFillBackground(true);
            l->setFrameStyle(c.frame);
            l->setFont(font);
        }
        plain.setAlignment(c.alignment);
        kept.setAlignment(c.alignment);
        plain.setIndent(c.frame ? 6 : -1);
        kept.setIndent(c.frame ? 6 : -1);
        plain.setGeometry(0, 0, 220, 54);
        kept.setGeometry(0, 60, 220, 54);
        host.resize(220, 114);
        host.show();
        for (const QString& text : c.texts) {
            plain.setText(text);
            kept.setText(text);
            QApplication::processEvents(); // paints what changed
            const QImage screen = host.screen()->grabWindow(host.winId()).toImage();
            EXPECT_EQ(screen.copy(kept.geometry()), screen.copy(plain.geometry()))
                << "\"" << text << "\" shown otherwise than by QLabel";
            EXPECT_EQ(QAccessible::queryAccessibleInterface(&kept)->text(QAccessible::Name), text);
        }
    }
}

} // namespace
} // namespace qm::test
