#pragma once

#include <string>

namespace qm {

// The line settings of a settings text "<baud>,<parity>,<data bits>,<stop
// bits>", e.g. "9600,n,8,1". Parity is one of n, e, o, m, s (either case);
// stop bits are counted in halves (2 = one, 3 = one and a half, 4 = two).
struct LineSettings {
    int baud = 9600;
    char parity = 'n';
    int dataBits = 8;
    int stopHalves = 2;
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// False when the text is not four such fields (spaces around a field are
// allowed); `out` is then left as it was.
bool parseLineSettings(const std::string& text, LineSettings& out);

enum class FlowControl { None, XonXoff, RtsCts };

// Puts the open terminal `fd` into raw mode with these settings; a read
// waits for one byte (VMIN 1), so a non-blocking read of 0 bytes means a
// hang-up. Rates without a Bxxx constant are set through termios2. False
// when the terminal refused any part (errno says why).
bool applyLineSettings(int fd, const LineSettings& line, FlowControl flow);

// Sets (on) or clears a modem-control line (TIOCM_DTR, TIOCM_RTS). Returns 0
// or the errno; a terminal without such lines answers ENOTTY or EINVAL.
int setModemLine(int fd, int line, bool on);

} // namespace qm
