#pragma once

namespace qm {

// The help panel's text: eleven lines, each ended by CR LF. Trailing blanks and
// double blanks are part of it.
inline constexpr const char* kHelpText =
    "- Set COM port (after connecting USB hardware see com port number in Device Manager)\r\n"
    "- Set Baud rate (default 9600)\r\n"
    "- Set ID (devices identifier - default NO)\r\n"
    "- Set Sample time (0=off(auto read data)  2-32000 sec.) \r\n"
    "- Set the number of reading values (RVnr) 1-8 \r\n"
    "- Check to create a Log file (at sample time) \r\n"
    "- Check to play the wav file (a1) when the alarm is active. \r\n"
    "- Add users labels, set color (W R G B Y),  Math: Displayed V=(V-Nr1)xNr2\r\n"
    "- Screen: The Alarm Led (rectangle shape) is red if the measured value is over/under set "
    "value SetHi/SetLo.\r\n"
    "- More devices can be connected to different ports copy the exe version under a different "
    "name \r\n"
    "and use the various COM ports.\r\n";

} // namespace qm
