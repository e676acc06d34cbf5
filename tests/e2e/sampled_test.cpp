// The program against the simulated device in sampled mode: the bytes it
// sends, their order and the pauses between them, and the log line of a cycle.

#include "tests/e2e/harness.h"

#include <ostream>

namespace qm::e2e {
namespace {

struct Request {
    QByteArray command; // "AT" or "V01".."V08"
    qint64 gapMs;       // after the previous request (ignored for the first)
};

struct SampledCase {
    const char* name;
    QByteArray devId;
    int sTime;
    int rvnr;
    QString unanswered; // for --unanswered, empty for none
    std::vector<Request> requests;
};

void PrintTo(const SampledCase& c, std::ostream* os)
{
    *os << c.name;
}

// Timing of a cycle: recognised at once, the sample clock's first tick one
// second later starts the first cycle; every request of a cycle is preceded by
// a 0.5 s pause except V01 when eight values are read; an unanswered request
// lasts the 5 s watchdog. After a cycle the counter starts from 0 on the clock's
// unchanged phase.
const std::vector<SampledCase> kCases = {
    {"ThreeValuesOneUnanswered", "", 2, 3, QStringLiteral("2"),
     {{"AT", 0},
      {"V01", 1000 + 500},
      {"V02", 500},
      {"V03", 5000 + 500}, // V02 awaited until the watchdog
      // The cycle ran from tick 1 to 7.5 s later; the ticks at 8 and 9 bring
      // the counter to 2, and the next cycle starts with its pause.
      {"V01", 8000 - 6000}}},
    {"OneValueEverySecondWithIdentifier", "A", 1, 1, {},
     {{"AT", 0}, {"V01", 1000 + 500}, {"V01", 1000}, {"V01", 1000}}},
    {"EightValuesNoPauseBeforeTheFirst", "", 3, 8, {},
     {{"AT", 0},
      {"V01", 1000},
      {"V02", 500},
      {"V03", 500},
      {"V04", 500},
      {"V05", 500},
      {"V06", 500},
      {"V07", 500},
      {"V08", 500}}},
};

class SampledTest : public E2eTest, public ::testing::WithParamInterface<SampledCase> {};

// Requests apart from the empty frames (the CR sent before a value request).
std::vector<TraceEntry> nonEmptyRequests(const Sim& sim)
{
    std::vector<TraceEntry> out;
    for (TraceEntry& e : sim.trace(TraceEntry::Kind::Request))
        if (e.bytes != "\r")
            out.push_back(std::move(e));
    return out;
}

TEST_P(SampledTest, RequestsOnTheWireTheirOrderAndPausesAndTheLogLine)
{
    const SampledCase& c = GetParam();
    QStringList simArgs = {QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--seed"),
                           QStringLiteral("4"), QStringLiteral("--id"), QString::fromLatin1(c.devId)};
    if (!c.unanswered.isEmpty())
        simArgs << QStringLiteral("--unanswered") << c.unanswered;
    Sim& sim = startSim(simArgs);
    Settings settings;
    settings.devId = QString::fromLatin1(c.devId);
    settings.sTime = c.sTime;
    settings.rvnr = c.rvnr;
    settings.logOn = true;
    App& app = startApp(QStringLiteral("quellmark"), settings);
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    const std::size_t n = c.requests.size();
    ASSERT_TRUE(waitUntil([&] { return nonEmptyRequests(sim).size() >= n; }, 25s))
        << nonEmptyRequests(sim).size() << " requests seen";
    EXPECT_TRUE(app.isRunning());

    // Byte for byte: the recognition request is <id>AT CR, a value request
    // CR <id>V0n CR; nothing else in between.
    QByteArray expectedWire;
    for (const Request& r : c.requests)
        expectedWire += (r.command == "AT" ? QByteArray() : QByteArray("\r")) + c.devId + r.command + "\r";
    QByteArray wire;
    for (const TraceEntry& e : sim.trace(TraceEntry::Kind::Request))
        wire += e.bytes;
    EXPECT_EQ(wire.left(expectedWire.size()).toHex(' '), expectedWire.toHex(' '));

    const std::vector<TraceEntry> seen = nonEmptyRequests(sim);
    for (std::size_t i = 1; i < n; ++i) {
        SCOPED_TRACE("request " + std::to_string(i + 1) + " " + c.requests[i].command.toStdString());
        EXPECT_NEAR(seen[i].ms - seen[i - 1].ms, c.requests[i].gapMs, 100);
    }

    // The first cycle's log line: the answers it got, 0 for the channels that
    // never answered or were not read.
    ASSERT_TRUE(waitUntil([&] { return countLogLines(logDir) >= 1; }, 3s));
    const Log log = readLog(logDir);
    LogLine line;
    ASSERT_TRUE(parseLogLine(log.lines.at(0), line)) << log.lines.at(0).toStdString();
    const std::vector<QByteArray> sent = sim.sentLines();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], c.devId + "OK");
    int answered = 0;
    for (int ch = 1; ch <= c.rvnr; ++ch)
        if (!c.unanswered.split(QLatin1Char(',')).contains(QString::number(ch)))
            ++answered;
    ASSERT_GT(sent.size(), static_cast<std::size_t>(answered));
    const std::vector<QByteArray> firstCycle(sent.begin() + 1, sent.begin() + 1 + answered);
    EXPECT_TRUE(valuesMatch(line.values, valuesAfterEachLine(firstCycle, c.devId).back()));
}

INSTANTIATE_TEST_SUITE_P(Cycles, SampledTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SampledCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace qm::e2e
