#pragma once

#include "ui/controls.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <unordered_map>
#include <vector>

class QCloseEvent;

namespace qm {

class MonitorPresenter;

class PortChooser;
namespace ui {
class FrameBox;
}

// The one window on screen: a widget for every control of the model that the
// user sees, kept in step with it. Model changes mark their control dirty and
// are applied together in one update, at most one every kFrameMs, so a
// device sending a thousand lines a second costs twenty-five repaints, a change
// after a quiet spell shows before the event loop next waits (in the round
// that brought it), and an idle window costs nothing. Labels repaint only
// where their text changed. The user's edits go straight back into the
// model, without an echo.
class MainWindow final : public QWidget, public ControlObserver {
    Q_OBJECT
public:
    explicit MainWindow(MonitorPresenter& form, QWidget* parent = nullptr);
    ~MainWindow() override;

    void controlChanged(const Control& control) override;

    // Puts a widget of a feature beyond the window model (the trend button,
    // the publishing indicator) into the bottom bar, left of "Set", `width`
    // wide; the device code and the status line move left to make room.
    void addToBar(QWidget* widget, int width);
    PortChooser& portChooser() { return *chooser_; }
    // Model changes not yet on screen.
    bool updatePending() const { return updateQueued_; }
    static constexpr int kFrameMs = 40;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Kind { Window, Frame, Label, LineEdit, TextEdit, CheckBox, Button, Lamp };
    struct Binding {
        Control* control;
        QWidget* widget;
        Kind kind;
        bool dirty = false;
        QString shownText; // what the widget was last given, where it differs from text()
    };

    ui::FrameBox* addFrame(Control& c, QWidget* parent, const QString& description);
    QWidget* addLabel(Control& c, QWidget* parent, const QString& description);
    QWidget* addLineEdit(Control& c, QWidget* parent, const QString& description);
    QWidget* addCheckBox(Control& c, QWidget* parent, const QString& description);
    QWidget* addButton(Control& c, QWidget* parent, const QString& description,
                       std::function<void()> onClick);
    void bind(Control& c, QWidget* w, Kind kind, const QString& description);

    void buildChannelPanel(int i, QWidget* parent, const QRect& geometry);
    void buildStatusBar(int top);
    void buildHelpPanel(const QRect& area);
    void buildSettingsPanel(const QRect& area);
    void buildPortRow(QWidget* panel);
    void buildChannelRows(QWidget* panel, const QRect& area);

    void apply(Binding& b);
    // apply(), with the widget's change signals not taken for user edits.
    void applyBinding(Binding& b);
    void applyPending();

    MonitorPresenter& form_;
    std::vector<Binding> bindings_;
    std::unordered_map<const Control*, std::size_t> index_;
    std::vector<std::size_t> dirty_;
    bool updateQueued_ = false;
    bool applyBeforeSleep_ = false; // the queued update is due now
    QTimer frameTimer_;
    QElapsedTimer lastApply_;
    bool asking_ = false;
    PortChooser* chooser_ = nullptr;
    QWidget* statusLabel_ = nullptr;
    QWidget* codeLabel_ = nullptr;
    int barRight_ = 0; // the right edge of the next widget added to the bar
    bool applying_ = false;
};

} // namespace qm
