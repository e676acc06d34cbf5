#include "device/tty_line.h"

#include "base/numbers.h"
#include <cctype>
#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>
#include <vector>

namespace qm {

// In tty_speed.cpp: the kernel's termios2 cannot share a file with <termios.h>.
bool setCustomSpeed(int fd, unsigned rate);

namespace {

std::string trimmed(const std::string& s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::vector<std::string> splitFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        fields.push_back(trimmed(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos)
            return fields;
        start = comma + 1;
    }
}

struct Speed {
    int rate;
    speed_t code;
};

constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

speed_t speedCode(int rate)
{
    for (const Speed& s : kSpeeds)
        if (s.rate == rate)
            return s.code;
    return B0;
}

constexpr tcflag_t kCheckedFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

} // namespace

bool parseLineSettings(const std::string& text, LineSettings& out)
{
    const std::vector<std::string> f = splitFields(text);
    if (f.size() != 4)
        return false;
    LineSettings s;
    const std::string& baud = f[0];
    const auto rate = readNumber<int>(baud, 1, 999'999'999);
    if (baud.size() > 9 || !rate)
        return false;
    s.baud = *rate;
    if (f[1].size() != 1)
        return false;
    s.parity = static_cast<char>(std::tolower(static_cast<unsigned char>(f[1][0])));
    if (std::string_view("neoms").find(s.parity) == std::string_view::npos)
        return false;
    if (f[2].size() != 1 || f[2][0] < '5' || f[2][0] > '8')
        return false;
    s.dataBits = f[2][0] - '0';
    if (f[3] == "1")
        s.stopHalves = 2;
    else if (f[3] == "1.5")
        s.stopHalves = 3;
    else if (f[3] == "2")
        s.stopHalves = 4;
    else
        return false;
    out = s;
    return true;
}

bool applyLineSettings(int fd, const LineSettings& line, FlowControl flow)
{
    if (line.stopHalves == 3) {
        errno = EINVAL; // one and a half stop bits: no termios flag for it
        return false;
    }
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= line.dataBits == 5   ? CS5
                 : line.dataBits == 6 ? CS6
                 : line.dataBits == 7 ? CS7
                                      : CS8;
    if (line.parity != 'n')
        t.c_cflag |= PARENB;
    if (line.parity == 'o' || line.parity == 'm')
        t.c_cflag |= PARODD;
    if (line.parity == 'm' || line.parity == 's')
        t.c_cflag |= CMSPAR;
    if (line.stopHalves == 4)
        t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (flow == FlowControl::XonXoff)
        t.c_iflag |= IXON | IXOFF;
    if (flow == FlowControl::RtsCts)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    const speed_t code = speedCode(line.baud);
    if (code != B0) {
        ::cfsetispeed(&t, code);
        ::cfsetospeed(&t, code);
    }
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        return false;
    if (code == B0 && !setCustomSpeed(fd, static_cast<unsigned>(line.baud)))
        return false;
    // tcsetattr succeeds when any part was taken: see what the terminal kept.
    termios kept{};
    if (::tcgetattr(fd, &kept) != 0)
        return false;
    if ((kept.c_cflag & kCheckedFlags) != (t.c_cflag & kCheckedFlags) ||
        (code != B0 && ::cfgetospeed(&kept) != code)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

int setModemLine(int fd, int line, bool on)
{
    return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 ? 0 : errno;
}

} // namespace qm
