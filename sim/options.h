#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::sim {

// Command-line options of quellmark-sim.
struct Options {
    std::string link;               // symbolic link to the terminal; empty = print its path
    std::string id;                 // device identifier in front of every command word
    std::optional<double> rate;     // continuous sending, lines per second (0 = as fast as taken)
    int channels = 8;               // continuous sending cycles channels 1..channels
    std::optional<long long> count; // continuous sending stops after this many lines
    bool silent = false;            // never answer, never send
    double malformedPercent = 0;    // share of value lines sent malformed
    unsigned unansweredMask = 0;    // bit n set: value requests for channel n stay unanswered
    int delayMs = 0;                // every answer leaves this long after its request
    long long floodBytes = 0;       // bytes without a line end sent on the first connection
    std::string trace;              // file the received bytes and requests are appended to
    std::optional<std::uint64_t> seed;
    std::optional<int> replugAfterMs; // a new terminal behind the same link after this long
    bool help = false;
};

// Parses argv. On failure returns false and sets `error`.
bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

// The text printed by --help: one line per option.
std::string helpText();

} // namespace qm::sim
