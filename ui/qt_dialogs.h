#pragma once

#include "ui/dialogs.h"

#include <QPointer>
#include <QWidget>

namespace qm {

// The window's questions as Qt message boxes.
class QtDialogs final : public Dialogs {
public:
    // The box is centred over `parent` once there is one.
    void setParentWidget(QWidget* parent) { parent_ = parent; }

    // A question icon, Yes / No / Cancel with Yes the default; Escape or
    // closing the box answers Cancel.
    Answer askYesNoCancel(const QString& prompt, const QString& title) override;

private:
    QPointer<QWidget> parent_;
};

} // namespace qm
