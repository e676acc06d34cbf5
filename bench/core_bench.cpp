// Speed of the core's receive path: reply lines through framing,
// interpretation, value update and evaluation, on the simulated clock, with
// the daily log off and on. items_per_second is reply lines per second.
//
// The parts of the path are measured one by one as well, so that a slow
// whole can be traced to its part.

#include "base/numbers.h"
#include "channels/value_text.h"
#include "sampling/append_file.h"
#include "sampling/log_file.h"
#include "tests/support/app_fixture.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qm::bench {
namespace {

constexpr int kBlockLines = 8000; // reply lines per receive event

// Value texts as a device sends them: channels 1 to 8 in turn, one or two
// decimals, now and then a value outside the limits.
std::vector<std::string> valueTexts(int count)
{
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(count));
    std::uint32_t x = 12345;
    for (int i = 0; i < count; ++i) {
        x = x * 1664525u + 1013904223u;
        const int channel = i % 8 + 1;
        const double v = (x >> 8) % 10000 / 100.0 + (x % 97 == 0 ? 100.0 : 0.0);
        char buf[32];
        std::snprintf(buf, sizeof buf, channel % 2 ? "%.1f" : "%.2f", v);
        out.emplace_back(buf);
    }
    return out;
}

std::string replyBlock(int lines)
{
    std::string block;
    const std::vector<std::string> values = valueTexts(lines);
    for (int i = 0; i < lines; ++i)
        block +=
            "V0" + std::to_string(i % 8 + 1) + "=" + values[static_cast<std::size_t>(i)] + "\r\n";
    return block;
}

int countLines(const QString& dir)
{
    int n = 0;
    for (const QString& name : QDir(dir).entryList(QDir::Files)) {
        QFile f(QDir(dir).filePath(name));
        if (f.open(QIODevice::ReadOnly))
            n += static_cast<int>(f.readAll().count("\r\n"));
    }
    return n;
}

// The clock the program stamps its log lines with.
class LocalWallClock final : public WallClock {
public:
    QDateTime localNow() const override { return QDateTime::currentDateTime(); }
};

// The whole receive path of a running instance: one receive event brings
// kBlockLines reply lines, the event loop runs it at once (no time passes).
void ReplyLines(benchmark::State& state)
{
    const bool logOn = state.range(0) != 0;
    // As AppFixture::start(), but with the wall clock of the program: the log
    // lines carry the real local time, at its real cost.
    LocalWallClock wallClock;
    test::AppFixture fx;
    QFile ini(fx.path(QStringLiteral("quellmark.ini")));
    if (!ini.open(QIODevice::WriteOnly) ||
        ini.write(test::settingsWithFirstLine(QByteArray("1,\"9600\",\"\",0,8,\"not used\",") +
                                              (logOn ? "1" : "0") + ",0")) <= 0)
        return state.SkipWithError("cannot write the settings file");
    ini.close();
    fx.form = std::make_unique<MonitorPresenter>(
        Platform{fx.loop, fx.port, fx, wallClock, fx.paths(), fx.locale, {}}, fx);
    MonitorPresenter& f = *fx.form;
    f.load();
    // The recorder keeps every status text; the real window does not.
    f.statusLine.setObserver(nullptr);
    fx.loop.runUntil(2500); // the connection retry opens the port
    if (!fx.port.portOpen()) {
        state.SkipWithError("the port did not open");
        return;
    }
    const std::string block = replyBlock(kBlockLines);

    for (auto _ : state) {
        fx.port.receiveAt(fx.loop.now(), block);
        fx.loop.runFor(0);
    }

    const std::int64_t lines = state.iterations() * kBlockLines;
    state.SetItemsProcessed(lines);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
    state.SetLabel(logOn ? "logging on" : "logging off");
    // Proof that the path ran to its end: the panels show the last block's
    // values and, with logging on, every line has its log line.
    if (f.valueDisplays[8].text() == QStringLiteral("-"))
        state.SkipWithError("no value reached the panels");
    if (logOn) {
        const int logged = countLines(fx.path(QStringLiteral("quellmarkLog")));
        state.counters["log_lines_missing"] = static_cast<double>(lines - logged);
    }
}
BENCHMARK(ReplyLines)->ArgName("log")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// --- The parts --------------------------------------------------------------

// The number of a value text.
void ValueOfText(benchmark::State& state)
{
    const std::vector<std::string> texts = valueTexts(1024);
    std::size_t i = 0;
    for (auto _ : state) {
        float v = valueOfText(texts[i++ & 1023]);
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ValueOfText);

// The panel's text of a value.
void DisplayForm(benchmark::State& state)
{
    const std::vector<std::string> texts = valueTexts(1024);
    std::vector<float> values;
    for (const auto& t : texts)
        values.push_back(valueOfText(t));
    const QLocale locale = QLocale::c();
    std::size_t i = 0;
    for (auto _ : state) {
        QString s = displayForm(values[i++ & 1023], locale);
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DisplayForm);

// The local date and time a log line is stamped with.
void LocalNow(benchmark::State& state)
{
    for (auto _ : state) {
        QDateTime now = QDateTime::currentDateTime();
        benchmark::DoNotOptimize(now);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(LocalNow);

// The text of a log line.
void LogLineText(benchmark::State& state)
{
    ChannelArray<Single> values{};
    const std::vector<std::string> texts = valueTexts(8);
    for (int c = 1; c <= 8; ++c)
        values[c] = valueOfText(texts[static_cast<std::size_t>(c - 1)]);
    const QTime time(8, 15, 2);
    for (auto _ : state) {
        std::string line = logLine(time, values);
        benchmark::DoNotOptimize(line);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(LogLineText);

// One log line appended: a check that the path still names the open file,
// and the write.
void AppendLogLine(benchmark::State& state)
{
    QTemporaryDir tmp;
    const QByteArray dir = QFile::encodeName(tmp.path()) + "/quellmarkLog";
    const QByteArray path = dir + "/250312.txt";
    const std::string line = "\"08:15:02\",23.4,18.52,24.1,16.48,55.3,1.01,45.2,12.21\r\n";
    test::SimEventLoop loop;
    AppendFile file{loop};
    for (auto _ : state) {
        loop.runFor(1);
        if (!file.append(dir, path, line)) {
            state.SkipWithError("cannot append to the log file");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(AppendLogLine);

} // namespace
} // namespace qm::bench

BENCHMARK_MAIN();
