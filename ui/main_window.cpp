#include "ui/main_window.h"

#include "ui/monitor_presenter.h"
#include "ui/port_chooser.h"
#include "ui/widgets.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>

namespace qm {

namespace {

// Fixed layout, in pixels.
constexpr int kMargin = 8;
constexpr int kGap = 6;
constexpr int kPanelWidth = 200;
constexpr int kPanelHeight = 196;
constexpr int kBarHeight = 28;
constexpr int kWindowWidth = 2 * kMargin + 4 * kPanelWidth + 3 * kGap;
constexpr int kChannelAreaHeight = 2 * kPanelHeight + kGap;
constexpr int kWindowHeight = 3 * kMargin + kChannelAreaHeight + kBarHeight;

QColor toQColor(Rgb c)
{
    return QColor(c.r, c.g, c.b);
}

QFont arialLike(double pointSize, bool bold = false)
{
    QFont f;
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}

// Sets a widget's text and background roles, for the enabled look only when
// `enabledOnly` (a disabled box keeps the style's greyed look).
void setRoleColors(QWidget* w, QPalette::ColorRole foreRole, QPalette::ColorRole backRole, Rgb fore,
                   Rgb back, bool enabledOnly)
{
    const QColor f = toQColor(fore), b = toQColor(back);
    QPalette pal = w->palette();
    if (pal.color(QPalette::Active, foreRole) == f && pal.color(QPalette::Active, backRole) == b)
        return;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        if (enabledOnly && group == QPalette::Disabled)
            continue;
        pal.setColor(group, foreRole, f);
        pal.setColor(group, backRole, b);
    }
    w->setPalette(pal);
}

// Button and check-box captions are shown as written: "&" is not a mnemonic.
QString literalCaption(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return out;
}

// The window title shows "[*]" literally, not as the modified marker.
QString literalTitle(const QString& text)
{
    QString out = text;
    out.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    return out;
}

// A text box holds CR LF line ends; the editor wants bare line feeds.
QString editorText(const QString& text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

// Places `boxes` under the words of a column frame's caption, from word
// `firstWord` on, and scales the columns so that they fill the frame.
void layoutColumns(ui::FrameBox* frame, const std::vector<QWidget*>& boxes, int firstWord, int top,
                   int height)
{
    const int n = static_cast<int>(boxes.size());
    QList<int> cols = ui::wordStarts(frame->caption());
    if (cols.size() >= firstWord + n) {
        cols = cols.mid(firstWord, n);
    } else { // a caption without enough headings: even columns
        cols.clear();
        for (int k = 0; k < n; ++k)
            cols.append(k * 10);
    }
    const double step = n > 1 ? double(cols.back() - cols.front()) / (n - 1) : 10.0;
    const double span = cols.back() + step;
    frame->setColumnUnit((frame->width() - 2 * kMargin) / span);
    for (int k = 0; k < n; ++k) {
        const int x = frame->columnX(cols[k]);
        const int next = k + 1 < n ? frame->columnX(cols[k + 1]) - kGap : frame->width() - kMargin;
        boxes[k]->setGeometry(x - 2, top, next - x + 2, height);
    }
}

QString channelName(int i)
{
    return QStringLiteral("V0%1").arg(i);
}

} // namespace

MainWindow::MainWindow(MonitorPresenter& form, QWidget* parent)
    : QWidget(parent)
    , form_(form)
{
    frameTimer_.setSingleShot(true);
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, &MainWindow::applyPending);
    // A change that may show at once is applied when the event loop has
    // handled what woke it and is about to wait again: in the same round as
    // the line that brought it, without another round for the zero timer.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] {
                if (applyBeforeSleep_)
                    applyPending();
            });
    setFont(arialLike(9));
    setFixedSize(kWindowWidth, kWindowHeight);
    setAutoFillBackground(true);
    {
        QPalette pal = palette();
        pal.setColor(QPalette::Window, toQColor(colors::kWindowBackground));
        setPalette(pal);
    }
    bind(form_.Caption, this, Kind::Window, QStringLiteral("Quellmark main window"));

    for (int i = 1; i <= kChannels; ++i) {
        const int row = (i - 1) / 4, col = (i - 1) % 4;
        buildChannelPanel(i, this,
                          QRect(kMargin + col * (kPanelWidth + kGap),
                                kMargin + row * (kPanelHeight + kGap), kPanelWidth, kPanelHeight));
    }
    buildStatusBar(2 * kMargin + kChannelAreaHeight);
    const QRect area(kMargin, kMargin, kWindowWidth - 2 * kMargin, kChannelAreaHeight);
    buildSettingsPanel(area);
    buildHelpPanel(area);

    for (auto& b : bindings_) {
        applyBinding(b);
        b.control->setObserver(this);
        // A label of fixed size takes a new text without asking its parent
        // to lay out again (a posted event for every change otherwise).
        if (b.kind == Kind::Label)
            b.widget->setFixedSize(b.widget->size());
    }
}

MainWindow::~MainWindow()
{
    for (auto& b : bindings_)
        b.control->setObserver(nullptr);
}

void MainWindow::bind(Control& c, QWidget* w, Kind kind, const QString& description)
{
    w->setAccessibleDescription(description);
    index_.emplace(&c, bindings_.size());
    bindings_.push_back(Binding{&c, w, kind, false, {}});
}

ui::FrameBox* MainWindow::addFrame(Control& c, QWidget* parent, const QString& description)
{
    auto* f = new ui::FrameBox(parent);
    f->setCaption(c.text()); // column frames lay out their boxes by it
    bind(c, f, Kind::Frame, description);
    return f;
}

QWidget* MainWindow::addLabel(Control& c, QWidget* parent, const QString& description)
{
    auto* l = new ui::TextLabel(parent);
    l->setAutoFillBackground(true);
    bind(c, l, Kind::Label, description);
    return l;
}

QWidget* MainWindow::addLineEdit(Control& c, QWidget* parent, const QString& description)
{
    auto* e = new QLineEdit(parent);
    e->setAccessibleName(description);
    // Any change of what the box shows, typed or set through the
    // accessibility interface (a screen reader, voice control), is what
    // gets saved; the window's own updates are not sent back.
    connect(e, &QLineEdit::textChanged, this, [this, &c](const QString& text) {
        if (!applying_)
            c.setUserText(text);
    });
    bind(c, e, Kind::LineEdit, description);
    return e;
}

QWidget* MainWindow::addCheckBox(Control& c, QWidget* parent, const QString& description)
{
    auto* box = new QCheckBox(parent);
    box->setAutoFillBackground(true);
    connect(box, &QCheckBox::toggled, this, [this, &c](bool on) {
        if (!applying_)
            c.setUserChecked(on);
    });
    bind(c, box, Kind::CheckBox, description);
    return box;
}

QWidget* MainWindow::addButton(Control& c, QWidget* parent, const QString& description,
                               std::function<void()> onClick)
{
    auto* button = new QPushButton(parent);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [onClick = std::move(onClick)] { onClick(); });
    bind(c, button, Kind::Button, description);
    return button;
}

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
    const int boxHeight = 22;

    // Port and device row: the heading frame's words stand over their boxes.
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

    // The eight channel rows.
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

void MainWindow::controlChanged(const Control& control)
{
    const auto it = index_.find(&control);
    if (it == index_.end())
        return;
    Binding& b = bindings_[it->second];
    if (b.dirty)
        return;
    b.dirty = true;
    dirty_.push_back(it->second);
    if (updateQueued_)
        return;
    updateQueued_ = true;
    // A zero timer rather than a posted event: the next round without
    // waking the event loop through its eventfd.
    const qint64 since = lastApply_.isValid() ? lastApply_.elapsed() : kFrameMs;
    applyBeforeSleep_ = since >= kFrameMs;
    frameTimer_.start(applyBeforeSleep_ ? 0 : static_cast<int>(kFrameMs - since));
}

void MainWindow::applyPending()
{
    if (!updateQueued_)
        return;
    updateQueued_ = false;
    applyBeforeSleep_ = false;
    frameTimer_.stop();
    lastApply_.start();
    std::vector<std::size_t> pending;
    pending.swap(dirty_);
    for (std::size_t i : pending) {
        bindings_[i].dirty = false;
        applyBinding(bindings_[i]);
    }
}

void MainWindow::applyBinding(Binding& b)
{
    applying_ = true;
    apply(b);
    applying_ = false;
}

void MainWindow::apply(Binding& b)
{
    const Control& c = *b.control;
    QWidget* w = b.widget;
    // A refused entry shows on its control until the user acts on it.
    const Rgb back = c.error().isEmpty() ? c.backColor() : colors::kStatusFailure;
    QStringList tips = c.notes();
    if (!c.toolTip().isEmpty())
        tips.prepend(c.toolTip());
    const QString tip = c.error().isEmpty() ? tips.join(QLatin1Char('\n')) : c.error();
    if (w->toolTip() != tip)
        w->setToolTip(tip);
    switch (b.kind) {
    case Kind::Window:
        if (b.shownText != c.text() || windowTitle().isEmpty()) {
            b.shownText = c.text();
            setWindowTitle(literalTitle(c.text()));
        }
        return; // the window's own visibility is the program's, not the model's
    case Kind::Frame: {
        auto* f = static_cast<ui::FrameBox*>(w);
        f->setCaption(c.text());
        f->setColors(toQColor(c.foreColor()), toQColor(c.backColor()));
        break;
    }
    case Kind::Label: {
        auto* l = static_cast<ui::TextLabel*>(w);
        l->setText(c.text());
        setRoleColors(l, QPalette::WindowText, QPalette::Window, c.foreColor(), c.backColor(),
                      false);
        break;
    }
    case Kind::LineEdit: {
        auto* e = static_cast<QLineEdit*>(w);
        if (e->text() != c.text())
            e->setText(c.text());
        setRoleColors(e, QPalette::Text, QPalette::Base, c.foreColor(), back, true);
        break;
    }
    case Kind::TextEdit: {
        auto* e = static_cast<QPlainTextEdit*>(w);
        if (b.shownText != c.text() || (e->document()->isEmpty() && !c.text().isEmpty())) {
            b.shownText = c.text();
            e->setPlainText(editorText(c.text()));
        }
        setRoleColors(e, QPalette::Text, QPalette::Base, c.foreColor(), c.backColor(), true);
        break;
    }
    case Kind::CheckBox: {
        auto* box = static_cast<QCheckBox*>(w);
        const QString caption = literalCaption(c.text());
        if (box->text() != caption)
            box->setText(caption);
        if (box->isChecked() != c.checked())
            box->setChecked(c.checked());
        // A button's background role is Button, not Window.
        setRoleColors(box, QPalette::WindowText, box->backgroundRole(), c.foreColor(),
                      c.backColor(), true);
        break;
    }
    case Kind::Button: {
        auto* button = static_cast<QPushButton*>(w);
        const QString caption = literalCaption(c.text());
        if (button->text() != caption)
            button->setText(caption);
        setRoleColors(button, QPalette::ButtonText, QPalette::Button, c.foreColor(), back, true);
        break;
    }
    case Kind::Lamp: {
        auto* lamp = static_cast<ui::Lamp*>(w);
        const bool alarm = c.fillStyle() == FillStyle::Transparent;
        lamp->setBackground(toQColor(c.backColor()));
        lamp->setTransparent(alarm);
        const QString name = alarm ? QStringLiteral("alarm") : QStringLiteral("off");
        if (lamp->accessibleName() != name)
            lamp->setAccessibleName(name);
        break;
    }
    }

    const bool explicitlyDisabled = w->testAttribute(Qt::WA_ForceDisabled);
    if (explicitlyDisabled == c.enabled())
        w->setEnabled(c.enabled());
    if (w->isHidden() == c.visible()) {
        w->setVisible(c.visible());
        // A panel that opens comes to the front of what it overlays.
        if (c.visible() && b.kind == Kind::Frame)
            w->raise();
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // The question is modal, but a second close request can still arrive
    // while it is open; it is answered by the box already shown.
    if (asking_) {
        event->ignore();
        return;
    }
    asking_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{asking_};

    Integer cancel = 0;
    form_.askToClose(cancel);
    if (cancel == 1)
        event->ignore();
    else
        event->accept();
}

} // namespace qm
