#pragma once

#include "base/types.h"

#include <functional>
#include <string>

namespace qm {

// Cuts the bytes from the device into lines: CR ends a line, LF is ignored,
// an empty line is none. A line longer than kMaxLineLength is dropped whole,
// up to its CR.
class LineFramer {
public:
    static constexpr std::size_t kMaxLineLength = 32767;

    // `line` hears of every complete line; `overlong` of the start of a line
    // that is being dropped, once, when it grows too long.
    LineFramer(std::function<void(const String&)> line,
               std::function<void(const String&)> overlong);

    void feed(const std::string& bytes);
    // Forgets the line begun (the port was closed or lost).
    void clear();
    // The line begun and not ended yet.
    const String& pending() const { return buffer_; }

private:
    std::function<void(const String&)> line_;
    std::function<void(const String&)> overlong_;
    String buffer_;
    bool discarding_ = false; // characters of an overlong line are dropped up to its end
};

} // namespace qm
