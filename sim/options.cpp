#include "options.h"

#include "base/numbers.h"

namespace qm::sim {

namespace {

// The whole text as a number within [min, max]; "." is the decimal point in
// every locale.
template <class T>
bool toValue(const std::string& text, T min, T max, T& out)
{
    const std::optional<T> v = readNumber(text, min, max, PlusSign::Accepted);
    if (v)
        out = *v;
    return v.has_value();
}

bool toInteger(const std::string& text, long long min, long long max, long long& out)
{
    return toValue(text, min, max, out);
}

bool toNumber(const std::string& text, double min, double max, double& out)
{
    return toValue(text, min, max, out);
}

// A field set from a whole number or a number within [min, max].
template <class Field>
bool toIntegerField(const std::string& text, long long min, long long max, Field& field)
{
    long long n = 0;
    if (!toInteger(text, min, max, n))
        return false;
    field = static_cast<Field>(n);
    return true;
}

template <class Field>
bool toNumberField(const std::string& text, double min, double max, Field& field)
{
    double d = 0;
    if (!toNumber(text, min, max, d))
        return false;
    field = static_cast<Field>(d);
    return true;
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

namespace {

// One option: its names, whether it takes a value, and what it does with
// it; false (with `error` the option's own words) for a value it cannot use.
struct Rule {
    const char* name;
    const char* alias; // another name, or nullptr
    bool takesValue;
    bool (*apply)(const std::string& value, Options& o);
    const char* error;
};

const Rule kRules[] = {
    {"--help", "-h", false, [](const std::string&, Options& o) { return o.help = true; }, ""},
    {"--silent", nullptr, false, [](const std::string&, Options& o) { return o.silent = true; },
     ""},
    {"--link", nullptr, true,
     [](const std::string& v, Options& o) {
         o.link = v;
         return !v.empty();
     },
     "--link needs a path"},
    {"--id", nullptr, true,
     [](const std::string& v, Options& o) {
         o.id = v;
         return v.find_first_of("\r\n") == std::string::npos;
     },
     "--id must not hold a line end"},
    {"--continuous", nullptr, true,
     [](const std::string& v, Options& o) { return toNumberField(v, 0, 1e6, o.rate); },
     "--continuous needs a rate from 0 to 1000000 lines per second"},
    {"--channels", nullptr, true,
     [](const std::string& v, Options& o) { return toIntegerField(v, 1, 8, o.channels); },
     "--channels needs a number from 1 to 8"},
    {"--count", nullptr, true,
     [](const std::string& v, Options& o) { return toIntegerField(v, 0, (1LL << 62), o.count); },
     "--count needs a number of lines, 0 or more"},
    {"--malformed", nullptr, true,
     [](const std::string& v, Options& o) { return toNumberField(v, 0, 100, o.malformedPercent); },
     "--malformed needs a percentage from 0 to 100"},
    {"--unanswered", nullptr, true,
     [](const std::string& v, Options& o) { return toChannelMask(v, o.unansweredMask); },
     "--unanswered needs a list of channels 1 to 8, e.g. 2,5"},
    {"--delay", nullptr, true,
     [](const std::string& v, Options& o) { return toIntegerField(v, 0, 3600000, o.delayMs); },
     "--delay needs milliseconds, 0 to 3600000"},
    {"--flood", nullptr, true,
     [](const std::string& v, Options& o) {
         return toIntegerField(v, 0, (1LL << 40), o.floodBytes);
     },
     "--flood needs a number of bytes, 0 or more"},
    {"--trace", nullptr, true,
     [](const std::string& v, Options& o) {
         o.trace = v;
         return !v.empty();
     },
     "--trace needs a file name"},
    {"--seed", nullptr, true,
     [](const std::string& v, Options& o) { return toIntegerField(v, 0, (1LL << 62), o.seed); },
     "--seed needs a number, 0 or more"},
    {"--replug-after", nullptr, true,
     [](const std::string& v, Options& o) {
         return toIntegerField(v, 0, 24LL * 3600 * 1000, o.replugAfterMs);
     },
     "--replug-after needs milliseconds"},
};

const Rule* ruleFor(const std::string& name)
{
    for (const Rule& r : kRules)
        if (name == r.name || (r.alias && name == r.alias))
            return &r;
    return nullptr;
}

} // namespace

// An option's value follows it ("--delay 50") or is part of it ("--delay=50").
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
        const Rule* rule = ruleFor(name);
        if (!rule) {
            error = "unknown option " + args[i];
            return false;
        }
        std::string value;
        if (!rule->takesValue && inlineValue) {
            error = name + " takes no value";
            return false;
        }
        if (rule->takesValue && inlineValue) {
            value = *inlineValue;
        } else if (rule->takesValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!rule->apply(value, o)) {
            error = rule->error;
            return false;
        }
    }
    out = o;
    return true;
}

} // namespace qm::sim
