#pragma once

#include "base/types.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

namespace qm {

enum class ControlKind { Window, Frame, Label, TextBox, CheckBox, Button, Shape };

// Fill style of a Shape: the alarm lamp is solid (off) or transparent (its red
// background shows: alarm).
enum class FillStyle { Solid = 0, Transparent = 1 };

class Control;

// Told of every change the core makes to a control (not of the user's own
// edits, which reach the model through the setUser* calls).
class ControlObserver {
public:
    virtual ~ControlObserver() = default;
    virtual void controlChanged(const Control& control) = 0;
};

// One control of the window model: what it shows, its colours, whether it is
// visible and enabled. Text is what the widget holds (any Unicode the user
// typed); the core converts to its 8-bit strings where it takes a value over.
class Control {
public:
    Control() = default;
    Control(ControlKind kind, std::string name, QString text = {});

    ControlKind kind() const { return kind_; }
    // The control's name as the window knows it, e.g. "lblDIS(3)".
    const std::string& name() const { return name_; }

    const QString& text() const { return text_; }
    void setText(const QString& text);
    Rgb foreColor() const { return fore_; }
    void setForeColor(Rgb c);
    Rgb backColor() const { return back_; }
    void setBackColor(Rgb c);
    bool visible() const { return visible_; }
    void setVisible(bool on);
    bool enabled() const { return enabled_; }
    void setEnabled(bool on);
    bool checked() const { return checked_; }
    void setChecked(bool on);
    FillStyle fillStyle() const { return fill_; }
    void setFillStyle(FillStyle f);

    // Why the control's entry was refused at the last save ("Invalid entry in
    // RVnr: abc"), shown on it until the user edits it; empty when nothing is
    // wrong.
    const QString& error() const { return error_; }
    void setError(const QString& reason);
    // More about what the control shows, for the pointer resting on it (an
    // error, while there is one, takes its place).
    const QString& toolTip() const { return toolTip_; }
    void setToolTip(const QString& tip);
    // Standing remarks under the tooltip, whatever it says meanwhile (the
    // instance's folder, an alarm sound that cannot play), a line each.
    const QStringList& notes() const { return notes_; }
    void addNote(const QString& note);

    // The user's edits, from the widget: the text is not sent back to it. An
    // edit clears the control's error.
    void setUserText(const QString& text);
    void setUserChecked(bool on) { checked_ = on; }

    void setObserver(ControlObserver* observer) { observer_ = observer; }

private:
    void changed();

    ControlKind kind_ = ControlKind::Label;
    std::string name_;
    QString text_;
    Rgb fore_ = colors::kBlack;
    Rgb back_ = colors::kButtonFace;
    bool visible_ = true;
    bool enabled_ = true;
    bool checked_ = false;
    FillStyle fill_ = FillStyle::Solid;
    QString error_;
    QString toolTip_;
    QStringList notes_;
    ControlObserver* observer_ = nullptr;
};

} // namespace qm
