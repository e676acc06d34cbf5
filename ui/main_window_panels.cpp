#include "ui/main_window.h"

#include "ui/monitor_presenter.h"
#include "ui/port_chooser.h"
#include "ui/widgets.h"
#include "ui/window_look.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace qm {

using ui::arialLike;
using ui::channelName;
using ui::kBarHeight;
using ui::kGap;
using ui::kMargin;
using ui::kWindowWidth;
using ui::layoutColumns;

void MainWindow::buildChannelPanel(int i, QWidget* parent, const QRect& geometry)
{
    const QString ch = channelName(i);
    auto* panel = addFrame(form_.channelPanels[i], parent, ch + QStringLiteral(" panel"));
    panel->setGeometry(geometry);
    const int w = geometry.width();

    auto* value = static_cast<ui::TextLabel*>(
        addLabel(form_.valueDisplays[i], panel, ch + QStringLiteral(" value")));
    value->setFont(arialLike(27.75));
    value->setAlignment(Qt::AlignCenter);
    value->setGeometry(6, 18, w - 12, 54);

    auto* label = static_cast<ui::TextLabel*>(
        addLabel(form_.labelDisplays[i], panel, ch + QStringLiteral(" label")));
    label->setFont(arialLike(8.25, true));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(6, 74, w - 12, 18);

    const int captionWidth = 60, boxLeft = 74;
    auto* hiCaption =
        addLabel(form_.setHiCaptions[i], panel, ch + QStringLiteral(" Set Hi caption"));
    hiCaption->setGeometry(10, 100, captionWidth, 22);
    addLineEdit(form_.setHiBoxes[i], panel, ch + QStringLiteral(" Set Hi"))
        ->setGeometry(boxLeft, 100, w - boxLeft - 10, 22);

    auto* loCaption =
        addLabel(form_.setLoCaptions[i], panel, ch + QStringLiteral(" Set Lo caption"));
    loCaption->setGeometry(10, 128, captionWidth, 22);
    addLineEdit(form_.setLoBoxes[i], panel, ch + QStringLiteral(" Set Lo"))
        ->setGeometry(boxLeft, 128, w - boxLeft - 10, 22);

    auto* lamp = new ui::Lamp(panel);
    lamp->setGeometry(12, 164, 56, 20);
    bind(form_.alarmLamps[i], lamp, Kind::Lamp, ch + QStringLiteral(" alarm lamp"));

    addButton(form_.saveButtons[i], panel, ch + QStringLiteral(" Save"), [this, i] {
        form_.saveSetPoints(static_cast<Integer>(i));
    })->setGeometry(w - 82, 160, 72, 26);
}

void MainWindow::buildStatusBar(int top)
{
    const int buttonWidth = 64, codeWidth = 170;
    const int setLeft = kWindowWidth - kMargin - 2 * buttonWidth - kGap;
    const int codeLeft = setLeft - kGap - codeWidth;

    barRight_ = setLeft - kGap;
    auto* status = static_cast<ui::TextLabel*>(
        addLabel(form_.statusLine, this, QStringLiteral("Status line")));
    statusLabel_ = status;
    status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    status->setIndent(6);
    status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    status->setGeometry(kMargin, top, codeLeft - kGap - kMargin, kBarHeight);

    auto* code = static_cast<ui::TextLabel*>(
        addLabel(form_.deviceCode, this, QStringLiteral("Device code")));
    code->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    code->setAlignment(Qt::AlignCenter);
    code->setFont(arialLike(9, true));
    code->setGeometry(codeLeft, top, codeWidth, kBarHeight);
    codeLabel_ = code;

    QWidget* set = addButton(form_.settingsButton, this, QStringLiteral("Open settings"),
                             [this] { form_.openSettings(); });
    set->setGeometry(setLeft, top, buttonWidth, kBarHeight);
    // The window opens with the focus on "Set", not in a Set Hi box: a text
    // cursor appears only where the user clicks, and none blinks (and
    // repaints) twice a second while nobody is at the screen.
    set->setFocus();
    addButton(form_.helpButton, this, QStringLiteral("Open help"), [this] {
        form_.openHelp();
    })->setGeometry(setLeft + buttonWidth + kGap, top, buttonWidth, kBarHeight);
}

void MainWindow::addToBar(QWidget* widget, int width)
{
    widget->setParent(this);
    widget->setGeometry(barRight_ - width, statusLabel_->y(), width, kBarHeight);
    barRight_ -= width + kGap;
    codeLabel_->move(codeLabel_->x() - width - kGap, codeLabel_->y());
    statusLabel_->setFixedSize(codeLabel_->x() - kGap - statusLabel_->x(), kBarHeight);
    widget->show();
}

void MainWindow::buildHelpPanel(const QRect& area)
{
    const int w = area.width() - 40, h = 300;
    auto* panel = addFrame(form_.helpPanel, this, QStringLiteral("Help panel"));
    panel->setProminent(true);
    panel->setGeometry(area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2, w, h);

    auto* text = new QPlainTextEdit(panel);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setAccessibleName(QStringLiteral("Help text"));
    text->setGeometry(10, 20, w - 20, h - 20 - 44);
    bind(form_.helpText, text, Kind::TextEdit, QStringLiteral("Help text"));

    addButton(form_.closeHelpButton, panel, QStringLiteral("Close help"), [this] {
        form_.closeHelp();
    })->setGeometry(w - 10 - 90, h - 10 - 28, 90, 28);
}

void MainWindow::buildSettingsPanel(const QRect& area)
{
    auto* panel = addFrame(form_.settingsPanel, this, QStringLiteral("Settings panel"));
    panel->setProminent(true);
    panel->setGeometry(area);
    const int w = area.width();
    buildPortRow(panel);
    addCheckBox(form_.logCheck, panel, QStringLiteral("Log file"))->setGeometry(546, 24, 130, 22);
    addCheckBox(form_.soundCheck, panel, QStringLiteral("Play wav a1"))
        ->setGeometry(546, 48, 130, 22);
    addButton(form_.saveCloseButton, panel, QStringLiteral("Save and close settings"), [this] {
        if (QString error; !chooser_->beforeSave(error)) {
            form_.saveRefused(error);
            return;
        }
        form_.saveAndCloseSettings();
        chooser_->afterSave(form_.lastSave() == MonitorPresenter::SaveOutcome::Saved);
    })->setGeometry(w - 10 - 120, 32, 120, 30);
    buildChannelRows(panel, area);
}

// Port and device row: the heading frame's words stand over their boxes.
void MainWindow::buildPortRow(QWidget* panel)
{
    const int boxHeight = 22;
    auto* heading = addFrame(form_.portSettingsFrame, panel, QStringLiteral("Port settings"));
    // Below its boxes, room for the device chosen for the COM port.
    heading->setGeometry(10, 20, 520, 64);
    const int headingTop = heading->captionHeight() + 4;
    std::vector<QWidget*> portBoxes;
    const char* portNames[] = {"", "COM port", "Baud", "ID", "STime", "RVnr"};
    for (int k = 1; k <= 5; ++k)
        portBoxes.push_back(
            addLineEdit(*form_.portBoxes()[k - 1], heading, QString::fromLatin1(portNames[k])));
    portBoxes.push_back(addLineEdit(form_.passwordBox, heading, QStringLiteral("BPass")));
    layoutColumns(heading, portBoxes, 0, headingTop, boxHeight);
    // The device chooser sits at the right end of the COM port box.
    chooser_ = new PortChooser(
        form_.paths().dir, [this] { return form_.comPortBox.text(); }, heading);
    const QRect com = portBoxes[0]->geometry();
    portBoxes[0]->setGeometry(com.adjusted(0, 0, -24, 0));
    chooser_->button()->setGeometry(com.right() - 22, com.top(), 24, com.height());
    // The device chosen, until SAVE-CLOSE makes it the link, under the boxes.
    QLabel* pending = chooser_->pendingLabel();
    pending->setFont(arialLike(8));
    pending->setGeometry(com.left(), com.bottom() + 3, heading->width() - com.left() - kMargin, 16);
}

// The eight channel rows.
void MainWindow::buildChannelRows(QWidget* panel, const QRect& area)
{
    const int w = area.width();
    auto* rows = addFrame(form_.channelSettingsFrame, panel, QStringLiteral("Channel settings"));
    const int rowsTop = 92;
    rows->setGeometry(10, rowsTop, w - 20, area.height() - rowsTop - 8);
    const int rowStep = (rows->height() - rows->captionHeight() - 6) / 8;
    for (int i = 1; i <= kChannels; ++i) {
        const QString v = QStringLiteral("V%1 ").arg(i);
        auto* row =
            addFrame(form_.channelSettingsRows[i], rows, v + QStringLiteral("settings row"));
        row->setGeometry(8, rows->captionHeight() + 2 + (i - 1) * rowStep, rows->width() - 16,
                         rowStep - 2);
        std::vector<QWidget*> boxes{
            addLineEdit(form_.labelBoxes[i], row, v + QStringLiteral("label")),
            addLineEdit(form_.colourBoxes[i], row, v + QStringLiteral("color")),
            addLineEdit(form_.offsetBoxes[i], row, v + QStringLiteral("Nr1")),
            addLineEdit(form_.factorBoxes[i], row, v + QStringLiteral("Nr2")),
        };
        // The "nc" columns: shown, never read.
        int nc = 3;
        for (auto* unused :
             {&form_.spareBoxes1, &form_.spareBoxes2, &form_.spareBoxes3, &form_.spareBoxes4}) {
            auto* box = static_cast<QLineEdit*>(
                addLineEdit((*unused)[i], row, v + QStringLiteral("nc%1").arg(nc++)));
            box->setReadOnly(true);
            boxes.push_back(box);
        }
        const int top = row->captionHeight();
        layoutColumns(row, boxes, 1, top, row->height() - top - 3);
    }
}

} // namespace qm
