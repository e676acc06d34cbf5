#pragma once

#include "base/types.h"
#include "device/link_state.h"

#include <QDateTime>
#include <QString>

namespace qm {

// One evaluation as the world beyond the window hears of it: the time, the
// displayed values, the alarms (as the lamps show them), what the channels
// are called and their limits, and the values' texts as shown. The arrays
// held by reference are the program's own, valid for the call.
struct Reading {
    QDateTime time;                     // local time, as the log line has it
    const ChannelArray<Single>& values; // elements 1..8
    ChannelArray<bool> alarms;          // lamp of channel i red
    const ChannelArray<String>& labels;
    const ChannelArray<String>& colours; // the colour letters
    const ChannelArray<Single>& setHi;
    const ChannelArray<Single>& setLo;
    Integer channels;              // channels 1..channels are read
    ChannelArray<QString> texts{}; // the value displays' texts
};

// Told of every evaluation, in order (the same ones the log gets a line
// for), of every change of the link: "connected", "no response" (the device
// was asked on an open port and did not answer; never after a port error of
// the same attempt, as the status line has it), "port error <n>", and of a
// normal close.
// Called on the event-loop thread; must not wait.
class ReadingObserver {
public:
    virtual ~ReadingObserver() = default;
    virtual void readingTaken(const Reading& reading) = 0;
    virtual void linkChanged(const LinkState& state) { (void)state; }
    // The program closes normally (not after a crash): the last word.
    virtual void closing() {}
};

} // namespace qm
