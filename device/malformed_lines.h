#pragma once

#include "base/event_loop.h"

#include <QString>

#include <string>
#include <string_view>

namespace qm {

// What is wrong with a reply line, in words for the journal; empty when the
// reply interpreter understands it: the recognition answer `devId`"OK", or a
// value line whose value text is a plain number (blanks around it allowed).
std::string replyLineProblem(std::string_view line, std::string_view devId);

// A line as the journal shows it: printable ASCII as it is, a backslash
// doubled, every other byte as \xHH; at most `maxBytes` of the line, then
// "..." and its length.
std::string escapedLine(std::string_view line, std::size_t maxBytes = 80);

// Lines from the device that the program cannot use, told once a spell: the
// first at once, and when a minute has passed without one (or an hour of
// them has), how many came, with the first again. A device that sends
// nothing but noise (a wrong baud rate) thus gives two lines an hour, not
// one a line.
class MalformedLines {
public:
    static constexpr Millis kQuietMs = 60'000;
    static constexpr Millis kLongestSpellMs = 3'600'000;

    explicit MalformedLines(EventLoop& loop)
        : loop_(loop)
    {
    }
    MalformedLines(const MalformedLines&) = delete;
    MalformedLines& operator=(const MalformedLines&) = delete;
    ~MalformedLines();

    // `line` came from the device on `port` ("COM1 (/dev/ttyUSB0)") and
    // cannot be used, for the reason `problem`.
    void seen(std::string_view line, const std::string& problem, const QString& port);

private:
    void tick();

    EventLoop& loop_;
    int timer_ = 0;
    int count_ = 0;
    Millis firstAt_ = 0;
    Millis lastAt_ = 0;
    QString first_; // the spell's first line, with its port and problem
};

} // namespace qm
