// quellmark-sim: the measuring device on a pseudo-terminal, for the demo and
// for end-to-end tests. See --help.

#include "app/signal_pipe.h"
#include "options.h"
#include "pty.h"
#include "values.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace qm::sim {

namespace {

using std::chrono::milliseconds;

bool installSignalHandlers(std::string& error)
{
    if (catchSignalsInPipe({SIGTERM, SIGINT, SIGHUP}, false) < 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

std::string hex(const char* data, std::size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        if (i)
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Appends lines to the trace file; every line is written at once, so a
// reader never sees half a line that is still being produced.
class Trace {
public:
    bool open(const std::string& path, std::string& error)
    {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            error = "cannot open trace file " + path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    bool enabled() const { return fd_ >= 0; }
    void line(long long ms, const std::string& text)
    {
        if (fd_ < 0)
            return;
        const std::string s = std::to_string(ms) + (text.empty() ? "" : " ") + text + "\n";
        [[maybe_unused]] const ssize_t n = ::write(fd_, s.data(), s.size());
    }

private:
    int fd_ = -1;
};

class Device {
public:
    explicit Device(const Options& o)
        : opt_(o)
        , start_(Clock::now())
        , values_(o.seed ? *o.seed
                         : static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()),
                  o.rate.has_value(), start_)
        , floodLeft_(o.silent ? 0 : o.floodBytes)
    {
    }

    int run()
    {
        std::string error;
        if (!opt_.trace.empty() && !trace_.open(opt_.trace, error))
            return fail(error);
        if (!installSignalHandlers(error))
            return fail(error);
        if (!pty_.open(error))
            return fail(error);
        if (!publish(error))
            return fail(error);
        if (opt_.replugAfterMs)
            replugAt_ = start_ + milliseconds(*opt_.replugAfterMs);

        int status = 0;
        while (!stop_) {
            const Clock::time_point now = Clock::now();
            if (replugAt_ && now >= *replugAt_) {
                replugAt_.reset();
                if (!replug(error)) {
                    status = fail(error);
                    break;
                }
            }
            if (!connected_ && pty_.slaveOpen())
                onConnect(now);
            if (connected_)
                produce(now);

            std::vector<pollfd> fds;
            fds.push_back({signalPipeReadEnd(), POLLIN, 0});
            if (connected_)
                fds.push_back({pty_.master(),
                               static_cast<short>(POLLIN | (wantsToWrite() ? POLLOUT : 0)), 0});

            const int timeout = pollTimeout(now);
            const int r = ::poll(fds.data(), fds.size(), timeout);
            if (r < 0 && errno != EINTR) {
                status = fail(std::string("poll: ") + std::strerror(errno));
                break;
            }
            if (r <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                stop_ = true;
                break;
            }
            if (fds.size() > 1) {
                const short rev = fds[1].revents;
                if (rev & POLLIN)
                    receive();
                if (connected_ && (rev & POLLOUT))
                    send();
                if (connected_ && (rev & (POLLHUP | POLLERR | POLLNVAL)) && !(rev & POLLIN))
                    onDisconnect();
            }
        }
        unpublish();
        pty_.close();
        return status;
    }

private:
    long long ms() const
    {
        return std::chrono::duration_cast<milliseconds>(Clock::now() - start_).count();
    }

    int fail(const std::string& error)
    {
        std::fprintf(stderr, "quellmark-sim: %s\n", error.c_str());
        unpublish();
        return 1;
    }

    bool publish(std::string& error)
    {
        if (opt_.link.empty()) {
            std::printf("%s\n", pty_.slavePath().c_str());
            std::fflush(stdout);
            return true;
        }
        if (!makeLink(opt_.link, pty_.slavePath(), error))
            return false;
        linkedTo_ = pty_.slavePath();
        return true;
    }

    void unpublish()
    {
        if (!linkedTo_.empty())
            removeLinkTo(opt_.link, linkedTo_);
        linkedTo_.clear();
    }

    // The adapter is pulled out and put back: the program's descriptor hangs
    // up, and a new terminal appears behind the same link.
    bool replug(std::string& error)
    {
        trace_.line(ms(), "replug");
        if (connected_)
            onDisconnect();
        pty_.close();
        return pty_.open(error) && publish(error);
    }

    void onConnect(Clock::time_point now)
    {
        connected_ = true;
        nextLineAt_ = now;
        trace_.line(ms(), "open");
        if (floodLeft_ > 0 && !opt_.silent)
            trace_.line(ms(), "flood " + std::to_string(floodLeft_));
    }

    // Nobody holds the port any more: what was not yet taken is lost, as
    // with a real device whose port is closed.
    void onDisconnect()
    {
        connected_ = false;
        answers_.clear();
        out_.clear();
        outPos_ = 0;
        frame_.clear();
        ::tcflush(pty_.master(), TCIOFLUSH);
        trace_.line(ms(), "close");
    }

    std::size_t pendingOut() const { return out_.size() - outPos_; }

    // Whether there is something to write as soon as the terminal takes it.
    bool wantsToWrite() const
    {
        return pendingOut() > 0 || floodLeft_ > 0 || (continuousActive() && *opt_.rate == 0);
    }

    bool continuousActive() const
    {
        return opt_.rate && !opt_.silent && (!opt_.count || sent_ < *opt_.count);
    }

    int pollTimeout(Clock::time_point now) const
    {
        long long t = -1;
        auto consider = [&](Clock::time_point at) {
            const long long d = std::max<long long>(
                0, std::chrono::duration_cast<milliseconds>(at - now).count() + 1);
            if (t < 0 || d < t)
                t = d;
        };
        if (!connected_)
            consider(now + milliseconds(20)); // waiting for the program to open the port
        if (replugAt_)
            consider(*replugAt_);
        if (connected_ && floodLeft_ == 0 && !answers_.empty())
            consider(answers_.front().due);
        if (connected_ && floodLeft_ == 0 && continuousActive() && *opt_.rate > 0 &&
            pendingOut() < kHighWater)
            consider(nextLineAt_);
        return static_cast<int>(std::min<long long>(t, 60000));
    }

    // Queues what is due: the flood first, then answers and continuous lines.
    void produce(Clock::time_point now)
    {
        while (floodLeft_ > 0 && pendingOut() < kHighWater) {
            const long long n = std::min<long long>(floodLeft_, 4096);
            std::string chunk(static_cast<std::size_t>(n), ' ');
            for (char& c : chunk)
                c = static_cast<char>(0x21 + values_.random()() % 94); // printable, no blank
            queue(chunk);
            floodLeft_ -= n;
        }
        if (floodLeft_ > 0) {
            send();
            return;
        }
        while (!answers_.empty() && answers_.front().due <= now) {
            for (const std::string& line : answers_.front().lines)
                queueLine(line);
            answers_.pop_front();
        }
        if (continuousActive()) {
            if (*opt_.rate == 0) {
                while (continuousActive() && pendingOut() < kHighWater)
                    queueLine(nextContinuousLine(now));
            } else {
                const auto period = std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(1.0 / *opt_.rate));
                // A long stall (a program that stopped reading) does not turn into a burst.
                if (nextLineAt_ + std::chrono::seconds(1) < now)
                    nextLineAt_ = now;
                while (continuousActive() && nextLineAt_ <= now && pendingOut() < kHighWater) {
                    queueLine(nextContinuousLine(now));
                    nextLineAt_ += period;
                }
            }
        }
        send();
        if (opt_.count && sent_ >= *opt_.count && !doneReported_ && pendingOut() == 0 &&
            opt_.rate && !opt_.silent) {
            doneReported_ = true;
            trace_.line(ms(), "done");
            std::fprintf(stderr, "done\n");
            std::fflush(stderr);
        }
    }

    std::string nextContinuousLine(Clock::time_point now)
    {
        const int channel = nextChannel_;
        nextChannel_ = nextChannel_ % opt_.channels + 1;
        if (channel == 1)
            values_.advance(now);
        ++sent_;
        return valueLine(channel);
    }

    std::string valueLine(int channel)
    {
        if (opt_.malformedPercent > 0 && std::uniform_real_distribution<double>(0, 100)(
                                             values_.random()) < opt_.malformedPercent)
            return values_.malformedLine(channel, opt_.id);
        return opt_.id + "V0" + std::to_string(channel) + "=" + values_.text(channel);
    }

    void queue(const std::string& bytes) { out_ += bytes; }

    void queueLine(const std::string& line)
    {
        const std::string bytes = line + "\r\n";
        trace_.line(ms(), "tx " + hex(bytes.data(), bytes.size()));
        queue(bytes);
    }

    void send()
    {
        while (connected_ && pendingOut() > 0) {
            const ssize_t n = ::write(pty_.master(), out_.data() + outPos_, pendingOut());
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    break;
                onDisconnect();
                return;
            }
            outPos_ += static_cast<std::size_t>(n);
        }
        if (outPos_ > 0 && (outPos_ == out_.size() || outPos_ > 65536)) {
            out_.erase(0, outPos_);
            outPos_ = 0;
        }
    }

    void receive()
    {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    return;
                onDisconnect(); // EIO: the program closed the port
                return;
            }
            if (n == 0) {
                onDisconnect();
                return;
            }
            const long long t = ms();
            trace_.line(t, "rx " + hex(buf, static_cast<std::size_t>(n)));
            for (ssize_t i = 0; i < n; ++i) {
                frame_ += buf[i];
                if (buf[i] == '\r') {
                    trace_.line(t, hex(frame_.data(), frame_.size()));
                    std::string request;
                    for (const char c : frame_)
                        if (c != '\r' && c != '\n')
                            request += c;
                    frame_.clear();
                    if (!request.empty())
                        handle(request);
                } else if (frame_.size() > kMaxFrame) {
                    frame_.clear(); // no request is this long
                }
            }
        }
    }

    void handle(const std::string& request)
    {
        if (opt_.silent || request.compare(0, opt_.id.size(), opt_.id) != 0)
            return;
        const std::string cmd = request.substr(opt_.id.size());
        std::vector<std::string> lines;
        if (cmd == "AT") {
            lines.push_back(opt_.id + "OK");
        } else if (cmd == "OA") {
            values_.advance(Clock::now());
            served_ = 0;
            for (int c = 1; c <= 8; ++c)
                lines.push_back(valueLine(c));
        } else if (cmd.size() == 3 && cmd[0] == 'V' && cmd[1] == '0' && cmd[2] >= '1' &&
                   cmd[2] <= '8') {
            const int c = cmd[2] - '0';
            // A channel asked for a second time starts the next round of readings.
            if (served_ & (1u << c)) {
                values_.advance(Clock::now());
                served_ = 0;
            }
            served_ |= 1u << c;
            if (opt_.unansweredMask & (1u << c))
                return;
            lines.push_back(valueLine(c));
        } else {
            // Output commands O<n>H / O<n>L switch outputs and get no answer;
            // anything else is not understood and ignored.
            return;
        }
        answers_.push_back({Clock::now() + milliseconds(opt_.delayMs), std::move(lines)});
        produce(Clock::now());
    }

    static constexpr std::size_t kHighWater = 4096;
    static constexpr std::size_t kMaxFrame = 4096;

    struct Answer {
        Clock::time_point due;
        std::vector<std::string> lines;
    };

    const Options& opt_;
    const Clock::time_point start_;
    Values values_;
    Pty pty_;
    Trace trace_;
    std::string linkedTo_;
    bool stop_ = false;
    bool connected_ = false;
    std::optional<Clock::time_point> replugAt_;

    std::string out_;        // bytes queued for the terminal
    std::size_t outPos_ = 0; // how many of them are written
    std::string frame_;      // received bytes since the last CR
    std::deque<Answer> answers_;
    unsigned served_ = 0; // channels answered in this round

    long long floodLeft_ = 0;
    long long sent_ = 0; // continuous lines queued
    int nextChannel_ = 1;
    Clock::time_point nextLineAt_;
    bool doneReported_ = false;
};

} // namespace

} // namespace qm::sim

int main(int argc, char* argv[])
{
    std::vector<std::string> args(argv + 1, argv + argc);
    qm::sim::Options options;
    std::string error;
    if (!qm::sim::parseOptions(args, options, error)) {
        std::fprintf(stderr, "quellmark-sim: %s\nTry 'quellmark-sim --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(qm::sim::helpText().c_str(), stdout);
        return 0;
    }
    qm::sim::Device device(options);
    return device.run();
}
