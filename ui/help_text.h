#pragma once

namespace qm {

// The help panel's text, each line ended by CR LF: what each setting means,
// the screen, more devices, and where this instance's files are (%1 its
// folder, %2 its name).
inline constexpr const char* kHelpText =
    "- Set COM port: COM n is the device that ports/com<n> in the instance's folder links to "
    "(without ports/: /dev/ttyS<n-1>);\r\n"
    "  \"\xe2\x80\xa6\" beside it links a device for you, quellmark --list-ports lists them. No "
    "permission? Join the dialout group, log in again.\r\n"
    "- Set Baud rate (default 9600)\r\n"
    "- Set ID (device identifier before every request, at most one character - default none)\r\n"
    "- Set Sample time (0=off(the device sends by itself)  2-32000 sec.)\r\n"
    "- Set the number of reading values (RVnr) 1-8\r\n"
    "- Check to create a Log file (at sample time): %2Log/yymmdd.txt\r\n"
    "- Check to play the wav file (a1.wav, else the built-in tone) when the alarm is active.\r\n"
    "- Add users labels, set color (W R G B Y),  Math: Displayed V=(V-Nr1)xNr2\r\n"
    "- Screen: The Alarm Led (rectangle shape) is red if the measured value is over/under set "
    "value SetHi/SetLo.\r\n"
    "- Trend: the values over time, from the log files. Publishing to an MQTT broker: an "
    "mqtt.conf in the instance's folder; a web page of its own (http://<this machine>:8080): a "
    "web.conf there.\r\n"
    "- More devices can be connected to different ports: a copy or a symbolic link of the "
    "program under a different name\r\n"
    "is an instance of its own (settings, port, log); use the various COM ports.\r\n"
    "- Files of this instance (%2.ini, %2Log/, ports/, a1.wav, mqtt.conf, web.conf): %1\r\n";

// What each box of the Set panel holds, and its range, for its tooltip.
inline constexpr const char* kComPortTip =
    "COM port number, 1 and up: the device ports/com<n> in the instance's folder links to "
    "(without ports/: /dev/ttyS<n-1>). \xe2\x80\xa6 chooses a device.";
inline constexpr const char* kBaudTip =
    "Baud rate of the serial line (8 data bits, no parity, 1 stop bit), e.g. 9600 (the default), "
    "19200, 115200";
inline constexpr const char* kIdTip =
    "Device identifier, sent before every request: empty (the default) or one character";
inline constexpr const char* kSTimeTip =
    "Sample time in seconds: 0 = the device sends its values by itself; 2 to 32000 = they are "
    "asked for once per sample time";
inline constexpr const char* kRVnrTip = "Number of values read, 1 to 8 (channels V01 to V0n)";
inline constexpr const char* kBPassTip = "Not used; kept in the settings file";
inline constexpr const char* kLogTip =
    "Append the time and the eight values to the day's log file %1Log/yymmdd.txt at every reading";
inline constexpr const char* kSoundTip =
    "Play a1.wav of the instance's folder (else the built-in tone) every 3 s while a channel is "
    "in alarm";
inline constexpr const char* kLabelTip =
    "Label of channel %1, shown under its value: text without double quotes";
inline constexpr const char* kColorTip =
    "Colour of channel %1's value: W white, R red, G green, B cyan, Y yellow; anything else is "
    "white";
inline constexpr const char* kNr1Tip =
    "Offset of channel %1: displayed value = (received value - Nr1) x Nr2, to a tenth";
inline constexpr const char* kNr2Tip =
    "Factor of channel %1: displayed value = (received value - Nr1) x Nr2, to a tenth";
inline constexpr const char* kUnusedTip = "Not used";
inline constexpr const char* kSetHiTip =
    "Upper alarm limit: the lamp turns red above it (from the next reading after Save)";
inline constexpr const char* kSetLoTip =
    "Lower alarm limit: the lamp turns red below it (from the next reading after Save)";

} // namespace qm
