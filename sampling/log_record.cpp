#include "sampling/log_record.h"

#include "base/file_descriptor.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

std::optional<LogRecord> parseLogRecord(std::string_view line)
{
    // "hh:mm:ss",v1,...,v8 then CR LF (or LF: the file was edited elsewhere)
    if (line.ends_with('\n'))
        line.remove_suffix(line.ends_with("\r\n") ? 2 : 1);
    if (line.size() < 10 || line[0] != '"' || line[3] != ':' || line[6] != ':' || line[9] != '"')
        return std::nullopt;
    int h = 0, m = 0, s = 0;
    const auto two = [&](std::size_t at, int& out, int limit) {
        return std::from_chars(line.data() + at, line.data() + at + 2, out).ptr ==
                   line.data() + at + 2 &&
               line[at] >= '0' && out < limit;
    };
    if (!two(1, h, 24) || !two(4, m, 60) || !two(7, s, 60))
        return std::nullopt;
    LogRecord r;
    r.secondOfDay = h * 3600 + m * 60 + s;
    std::string_view rest = line.substr(10);
    for (int i = 1; i <= 8; ++i) {
        if (rest.empty() || rest[0] != ',')
            return std::nullopt;
        rest.remove_prefix(1);
        const std::string_view field = rest.substr(0, rest.find(','));
        rest.remove_prefix(field.size());
        float v = 0;
        if (field == "INF" || field == "-INF")
            v = field[0] == '-' ? -INFINITY : INFINITY;
        else if (field.empty() || field[0] == '+' ||
                 std::from_chars(field.data(), field.data() + field.size(), v).ptr !=
                     field.data() + field.size() ||
                 !std::isfinite(v))
            return std::nullopt;
        r.values[i] = v;
    }
    if (!rest.empty())
        return std::nullopt;
    return r;
}

DayFileResult readDayFile(const QByteArray& path, const std::function<void(const LogRecord&)>& line,
                          std::size_t chunkBytes, const std::function<void(qint64)>& progress,
                          const std::atomic<bool>* cancel)
{
    DayFileResult result;
    // Never blocking: a FIFO in place of a day file must not hold the reading.
    const FileDescriptor fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        result.problem = std::strerror(errno);
        return result;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        result.problem = S_ISDIR(st.st_mode)    ? "a directory, not a file"
                         : S_ISFIFO(st.st_mode) ? "a FIFO, not a file"
                                                : "not a regular file";
        return result;
    }
    result.opened = true;
    std::string buffer(std::max<std::size_t>(chunkBytes, 64), '\0');
    std::string carry; // a line cut by the end of a chunk
    const auto take = [&](std::string_view l) {
        if (const std::optional<LogRecord> r = parseLogRecord(l))
            line(*r);
        else
            ++result.skipped;
    };
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            break;
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            result.problem = std::strerror(errno);
        if (n <= 0)
            break;
        if (progress)
            progress(n);
        std::string_view rest(buffer.data(), std::size_t(n));
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;) {
            if (carry.empty()) {
                take(rest.substr(0, end + 1));
            } else {
                carry.append(rest.substr(0, end + 1));
                take(carry);
                carry.clear();
            }
            rest.remove_prefix(end + 1);
        }
        // A line longer than any log line is broken anyway: keep no more of it.
        if (carry.size() < 4096)
            carry.append(rest.substr(0, 4096 - carry.size()));
    }
    if (!carry.empty())
        take(carry);
    return result;
}

} // namespace qm
