#include "device/line_framer.h"

#include <utility>

namespace qm {

LineFramer::LineFramer(std::function<void(const String&)> line,
                       std::function<void(const String&)> overlong)
    : line_(std::move(line))
    , overlong_(std::move(overlong))
{
}

void LineFramer::feed(const std::string& bytes)
{
    for (const char c : bytes) {
        if (c == '\n')
            continue;
        if (c == '\r') {
            if (discarding_) {
                discarding_ = false;
            } else if (!buffer_.empty()) {
                // Handed over before the next byte: the handler may clear().
                const String line = std::exchange(buffer_, {});
                line_(line);
            }
            continue;
        }
        if (discarding_)
            continue;
        if (buffer_.size() >= kMaxLineLength) {
            const String dropped = std::exchange(buffer_, {});
            discarding_ = true;
            overlong_(dropped);
            continue;
        }
        buffer_ += c;
    }
}

void LineFramer::clear()
{
    buffer_.clear();
    discarding_ = false;
}

} // namespace qm
