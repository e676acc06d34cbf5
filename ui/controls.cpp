#include "ui/controls.h"

namespace qm {

Control::Control(ControlKind kind, std::string name, QString text)
    : kind_(kind)
    , name_(std::move(name))
    , text_(std::move(text))
{
}

void Control::changed()
{
    if (observer_)
        observer_->controlChanged(*this);
}

void Control::setText(const QString& text)
{
    if (text_ == text)
        return;
    text_ = text;
    changed();
}

void Control::setForeColor(Rgb c)
{
    if (fore_ == c)
        return;
    fore_ = c;
    changed();
}

void Control::setBackColor(Rgb c)
{
    if (back_ == c)
        return;
    back_ = c;
    changed();
}

void Control::setVisible(bool on)
{
    if (visible_ == on)
        return;
    visible_ = on;
    changed();
}

void Control::setEnabled(bool on)
{
    if (enabled_ == on)
        return;
    enabled_ = on;
    changed();
}

void Control::setChecked(bool on)
{
    if (checked_ == on)
        return;
    checked_ = on;
    changed();
}

void Control::setError(const QString& reason)
{
    if (error_ == reason)
        return;
    error_ = reason;
    changed();
}

void Control::setToolTip(const QString& tip)
{
    if (toolTip_ == tip)
        return;
    toolTip_ = tip;
    changed();
}

void Control::addNote(const QString& note)
{
    if (notes_.contains(note))
        return;
    notes_.append(note);
    changed();
}

void Control::setUserText(const QString& text)
{
    text_ = text;
    setError({});
}

void Control::setFillStyle(FillStyle f)
{
    if (fill_ == f)
        return;
    fill_ = f;
    changed();
}

} // namespace qm
