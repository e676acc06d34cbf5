#pragma once

#include "base/types.h"

#include <QString>

namespace qm {

// What the monitor shows while it works; the window's side maps it to its
// controls. Each call is one change, in the order it happens.
class MonitorDisplay {
public:
    virtual ~MonitorDisplay() = default;
    virtual void statusText(const QString& text) = 0;
    virtual void statusColour(Rgb colour) = 0;
    // Why the port failed and what to do, for the status line's tooltip;
    // empty when it did not.
    virtual void portNote(const QString& note) = 0;
    // A lasting note on the status line; false when it is there already.
    virtual bool addNote(const QString& note) = 0;
    // The device answered: its code is shown.
    virtual void showDeviceCode(const QString& code) = 0;
    virtual void valueText(int channel, const QString& text) = 0;
    // The lamp of `channel` shows an alarm (or not).
    virtual void alarmLamp(int channel, bool on) = 0;
};

} // namespace qm
