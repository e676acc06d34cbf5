#include "options.h"

#include <charconv>

namespace qm::sim {

namespace {

// The whole text as a number within [min, max]; "." is the decimal point in
// every locale.
template <class T>
bool toValue(const std::string& text, T min, T max, T& out)
{
    T v{};
    const char* end = text.data() + text.size();
    const char* begin = text.data() + (text.size() > 1 && text[0] == '+' ? 1 : 0);
    const auto res = std::from_chars(begin, end, v);
    if (text.empty() || res.ec != std::errc() || res.ptr != end || !(v >= min && v <= max))
        return false;
    out = v;
    return true;
}

bool toInteger(const std::string& text, long long min, long long max, long long& out)
{
    return toValue(text, min, max, out);
}

bool toNumber(const std::string& text, double min, double max, double& out)
{
    return toValue(text, min, max, out);
}

// "2,5" -> bits 2 and 5.
bool toChannelMask(const std::string& text, unsigned& out)
{
    unsigned mask = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        long long n = 0;
        if (!toInteger(item, 1, 8, n))
            return false;
        mask |= 1u << n;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    out = mask;
    return true;
}

} // namespace

std::string helpText()
{
    return "Usage: quellmark-sim [options]\n"
           "Plays the Quellmark measuring device on a pseudo-terminal until SIGTERM or SIGINT.\n"
           "\n"
           "  --help               show this help and exit\n"
           "  --link PATH          make PATH a symbolic link to the terminal (removed on exit); "
           "without it the terminal's path is printed on stdout\n"
           "  --id ID              device identifier in front of every command word (default "
           "empty): <ID>AT -> <ID>OK, <ID>V0n -> <ID>V0n=value, <ID>OA -> all eight values\n"
           "  --continuous RATE    also send value lines unasked while a program holds the port, "
           "RATE lines per second (0 = as fast as the terminal takes them)\n"
           "  --channels N         continuous sending cycles through channels 1..N (default 8)\n"
           "  --count N            stop continuous sending after N lines and print \"done\" on "
           "stderr; requests are still answered\n"
           "  --silent             never answer and never send\n"
           "  --malformed PERCENT  send that share of value lines malformed (binary bytes, "
           "overlong digits, missing \"=\", wrong channel, ...)\n"
           "  --unanswered LIST    leave value requests for these channels unanswered, e.g. 2,5\n"
           "  --delay MS           answer every request MS milliseconds after it arrived\n"
           "  --flood BYTES        on the first connection send BYTES printable bytes without a "
           "line end, then go on normally\n"
           "  --trace FILE         append '<ms> rx <hex>' per received block, '<ms> <hex>' per "
           "request up to and including its CR, '<ms> tx <hex>' per line queued for sending, '<ms> "
           "open|close|flood N|done|replug' for events\n"
           "  --seed N             seed of the value generator (default: from the clock)\n"
           "  --replug-after MS    after MS milliseconds close the terminal and open a new one "
           "behind the same link, as a re-plugged adapter\n";
}

bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error)
{
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = name.find('=');
            name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        auto flag = [&]() {
            if (inlineValue) {
                error = name + " takes no value";
                return false;
            }
            return true;
        };
        auto value = [&](std::string& v) {
            if (inlineValue) {
                v = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        std::string v;
        long long n = 0;
        double d = 0;
        if (name == "--help" || name == "-h") {
            if (!flag())
                return false;
            o.help = true;
        } else if (name == "--silent") {
            if (!flag())
                return false;
            o.silent = true;
        } else if (name == "--link") {
            if (!value(v))
                return false;
            if (v.empty()) {
                error = "--link needs a path";
                return false;
            }
            o.link = v;
        } else if (name == "--id") {
            if (!value(v))
                return false;
            if (v.find_first_of("\r\n") != std::string::npos) {
                error = "--id must not hold a line end";
                return false;
            }
            o.id = v;
        } else if (name == "--continuous") {
            if (!value(v))
                return false;
            if (!toNumber(v, 0, 1e6, d)) {
                error = "--continuous needs a rate from 0 to 1000000 lines per second";
                return false;
            }
            o.rate = d;
        } else if (name == "--channels") {
            if (!value(v))
                return false;
            if (!toInteger(v, 1, 8, n)) {
                error = "--channels needs a number from 1 to 8";
                return false;
            }
            o.channels = static_cast<int>(n);
        } else if (name == "--count") {
            if (!value(v))
                return false;
            if (!toInteger(v, 0, (1LL << 62), n)) {
                error = "--count needs a number of lines, 0 or more";
                return false;
            }
            o.count = n;
        } else if (name == "--malformed") {
            if (!value(v))
                return false;
            if (!toNumber(v, 0, 100, d)) {
                error = "--malformed needs a percentage from 0 to 100";
                return false;
            }
            o.malformedPercent = d;
        } else if (name == "--unanswered") {
            if (!value(v))
                return false;
            if (!toChannelMask(v, o.unansweredMask)) {
                error = "--unanswered needs a list of channels 1 to 8, e.g. 2,5";
                return false;
            }
        } else if (name == "--delay") {
            if (!value(v))
                return false;
            if (!toInteger(v, 0, 3600000, n)) {
                error = "--delay needs milliseconds, 0 to 3600000";
                return false;
            }
            o.delayMs = static_cast<int>(n);
        } else if (name == "--flood") {
            if (!value(v))
                return false;
            if (!toInteger(v, 0, (1LL << 40), n)) {
                error = "--flood needs a number of bytes, 0 or more";
                return false;
            }
            o.floodBytes = n;
        } else if (name == "--trace") {
            if (!value(v))
                return false;
            if (v.empty()) {
                error = "--trace needs a file name";
                return false;
            }
            o.trace = v;
        } else if (name == "--seed") {
            if (!value(v))
                return false;
            if (!toInteger(v, 0, (1LL << 62), n)) {
                error = "--seed needs a number, 0 or more";
                return false;
            }
            o.seed = static_cast<std::uint64_t>(n);
        } else if (name == "--replug-after") {
            if (!value(v))
                return false;
            if (!toInteger(v, 0, 24LL * 3600 * 1000, n)) {
                error = "--replug-after needs milliseconds";
                return false;
            }
            o.replugAfterMs = static_cast<int>(n);
        } else {
            error = "unknown option " + args[i];
            return false;
        }
    }
    out = o;
    return true;
}

} // namespace qm::sim
