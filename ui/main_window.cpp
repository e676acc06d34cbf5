#include "ui/main_window.h"

#include "ui/monitor_presenter.h"
#include "ui/port_chooser.h"
#include "ui/widgets.h"
#include "ui/window_look.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>

namespace qm {

using ui::arialLike;
using ui::editorText;
using ui::kChannelAreaHeight;
using ui::kGap;
using ui::kMargin;
using ui::kPanelHeight;
using ui::kPanelWidth;
using ui::kWindowHeight;
using ui::kWindowWidth;
using ui::literalCaption;
using ui::literalTitle;
using ui::setRoleColors;
using ui::toQColor;

namespace {

void showTextEdit(QPlainTextEdit* e, const Control& c, QString& shownText)
{
    if (shownText != c.text() || (e->document()->isEmpty() && !c.text().isEmpty())) {
        shownText = c.text();
        e->setPlainText(editorText(c.text()));
    }
    setRoleColors(e, QPalette::Text, QPalette::Base, c.foreColor(), c.backColor(), true);
}

void showCheckBox(QCheckBox* box, const Control& c)
{
    const QString caption = literalCaption(c.text());
    if (box->text() != caption)
        box->setText(caption);
    if (box->isChecked() != c.checked())
        box->setChecked(c.checked());
    // A button's background role is Button, not Window.
    setRoleColors(box, QPalette::WindowText, box->backgroundRole(), c.foreColor(), c.backColor(),
                  true);
}

void showButton(QPushButton* button, const Control& c, Rgb back)
{
    const QString caption = literalCaption(c.text());
    if (button->text() != caption)
        button->setText(caption);
    setRoleColors(button, QPalette::ButtonText, QPalette::Button, c.foreColor(), back, true);
}

void showLamp(ui::Lamp* lamp, const Control& c)
{
    const bool alarm = c.fillStyle() == FillStyle::Transparent;
    lamp->setBackground(toQColor(c.backColor()));
    lamp->setTransparent(alarm);
    const QString name = alarm ? QStringLiteral("alarm") : QStringLiteral("off");
    if (lamp->accessibleName() != name)
        lamp->setAccessibleName(name);
}

// Enabled and visible as the control is; a panel (`frame`) that opens comes
// to the front of what it overlays.
void showState(QWidget* w, const Control& c, bool frame)
{
    const bool explicitlyDisabled = w->testAttribute(Qt::WA_ForceDisabled);
    if (explicitlyDisabled == c.enabled())
        w->setEnabled(c.enabled());
    if (w->isHidden() == c.visible()) {
        w->setVisible(c.visible());
        if (c.visible() && frame)
            w->raise();
    }
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
    case Kind::TextEdit:
        showTextEdit(static_cast<QPlainTextEdit*>(w), c, b.shownText);
        break;
    case Kind::CheckBox:
        showCheckBox(static_cast<QCheckBox*>(w), c);
        break;
    case Kind::Button:
        showButton(static_cast<QPushButton*>(w), c, back);
        break;
    case Kind::Lamp:
        showLamp(static_cast<ui::Lamp*>(w), c);
        break;
    }
    showState(w, c, b.kind == Kind::Frame);
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
