// Values, lamps, the log, the alarm sound and the sample cycles, on the
// monitor alone.
#include "channels/limits.h"
#include "sampling/append_file.h"
#include "sampling/reading_observer.h"
#include "tests/support/core_fixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::test {
namespace {

TEST(Channels, ValueUpdateScalesRoundsAndShows)
{
    const struct {
        const char* text;
        float nr1, nr2;
        const char* display; // empty: the update fails
        float stored;
    } cases[] = {
        {"1.25", 0, 1, "1.2", 1.2f},
        {"1.75", 0, 1, "1.8", 1.8f},
        {"0.35", 0, 1, "0.3", 0.3f},
        {"abc", 4, 2.5f, "-10", -10},
        {"214748352", 0, 1, "214748400", 214748352},
        {"214748368", 0, 1, "", 214748368},
        {"-300000000", 0, 1, "", -300000000},
        {"1E+39", 0, 1, "", INFINITY},
        {"3E+38", -3e38f, 1, "", INFINITY},
        {"1E+30", 0, 1e10f, "", INFINITY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CoreFixture fx;
        SettingsValues s = defaultSettings();
        s.offsets[2] = c.nr1;
        s.factors[2] = c.nr2;
        Monitor& m = fx.start(s);
        EXPECT_EQ(m.updateChannelValue(2, c.text), *c.display != '\0');
        EXPECT_EQ(fx.valueTexts[2], *c.display ? c.display : "-");
        EXPECT_EQ(m.values()[2], c.stored);
    }
}

TEST(Channels, EvaluationLightsLampsStrictlyForChannelsUpToRVnr)
{
    const struct {
        const char* value;
        float hi, lo;
        bool alarm;
    } cases[] = {
        {"99.9", 99.9f, 0, false},
        {"0", 99.9f, 0, false},
        {"100", 99.9f, 0, true},
        {"-0.1", 99.9f, 0, true},
    };
    struct : ReadingObserver { // what the trend and the publisher hear
        bool alarm = false;
        void readingTaken(const Reading& r) override { alarm = r.alarms[2]; }
    } heard;
    for (const auto& c : cases) {
        CoreFixture fx;
        SettingsValues s = settingsWith(30, 2, false, true); // channel 2 the last read
        s.setHi[2] = c.hi;
        s.setLo[2] = c.lo;
        Monitor& m = fx.start(s);
        m.addObserver(&heard);
        m.updateChannelValue(2, c.value);
        m.updateChannelValue(3, "500"); // beyond valueCount: never touched
        m.evaluateChannels();
        EXPECT_EQ(fx.lamps[2], c.alarm) << "the lamp for " << c.value;
        EXPECT_EQ(m.alarmSound().sounding(), c.alarm) << "the alarm sound for " << c.value;
        EXPECT_EQ(heard.alarm, c.alarm) << "the observers' alarm flag for " << c.value;
        EXPECT_FALSE(fx.lamps[3]) << "channel 3 is beyond RVnr";
    }
    CoreFixture fx;
    Monitor& m = fx.start();
    m.updateChannelValue(1, "500");
    for (const int rvnr : {0, 9}) { // nothing at all, not even a log line
        m.useSettings(settingsWith(30, rvnr, true, true));
        m.evaluateChannels();
    }
    EXPECT_FALSE(fx.lamps[1]) << "no lamp lit";
    EXPECT_FALSE(m.alarmSound().sounding()) << "no alarm sound";
    EXPECT_FALSE(QDir(fx.path("quellmarkLog")).exists()) << "no log folder";
}

TEST(Channels, AlarmsBeyondTheChannelsReadStayAsTheirLampsShowThem)
{
    ChannelArray<Single> values{}, hi{}, lo{};
    hi.fill(10);
    ChannelArray<bool> alarms{};
    values[5] = 50;
    EXPECT_TRUE(evaluateLimits(values, hi, lo, 8, alarms)) << "channel 5 above its Set Hi";
    values[5] = 5;
    EXPECT_FALSE(evaluateLimits(values, hi, lo, 3, alarms)) << "channels 1 to 3 are in range";
    EXPECT_TRUE(alarms[5]) << "channel 5, not read now, keeps its alarm";
    EXPECT_FALSE(alarms[6]) << "channel 6 was never in alarm";
}

TEST(Channels, LogLinesAppendPerDayWithAllEightValuesAndWhole)
{
    CoreFixture fx;
    Monitor& m = fx.start(settingsWith(30, 3, true, false));
    fx.clockStart = QDateTime(QDate(2025, 3, 12), QTime(23, 59, 58));
    m.updateChannelValue(1, "23.4");
    m.updateChannelValue(2, "-0.5");
    m.updateChannelValue(6, "7");
    for (const Millis at : {0, 1000, 2500})
        fx.loop.postAt(at, [&] { m.evaluateChannels(); });
    fx.loop.runUntil(3000);
    EXPECT_EQ(fx.log(),
              "\"23:59:58\",23.4,-0.5,0,0,0,7,0,0\r\n\"23:59:59\",23.4,-0.5,0,0,0,7,0,0\r\n");
    EXPECT_EQ(fx.file("quellmarkLog/250313.txt"), "\"00:00:00\",23.4,-0.5,0,0,0,7,0,0\r\n");
    struct stat folder {};
    const mode_t umask = ::umask(0);
    ::umask(umask);
    ASSERT_EQ(::stat(QFile::encodeName(fx.path("quellmarkLog")), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0777 & ~umask); // made as any other folder of the user

    // A line that does not fit (a full disk; here a file size limit) is
    // taken out whole: the next line never runs into half of it.
    const QByteArray before = fx.file("quellmarkLog/250313.txt");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = static_cast<rlim_t>(before.size() + 10);
    ::setrlimit(RLIMIT_FSIZE, &small);
    m.evaluateChannels(); // 10 bytes would fit
    ::setrlimit(RLIMIT_FSIZE, &old);
    m.evaluateChannels();
    EXPECT_EQ(fx.file("quellmarkLog/250313.txt"),
              before + QByteArray(before).replace("00:00:00", "00:00:01"));
}

// A folder that is a link (to another disk) is used.
TEST(Channels, TheLogNeverBlocksAndFollowsNoLinkAtTheDayFile)
{
    CoreFixture fx;
    Monitor& m = fx.start(settingsWith(30, 8, true, false));
    const QByteArray dir = QFile::encodeName(fx.path("quellmarkLog"));
    const QByteArray day = dir + "/250312.txt";
    ::mkdir(dir, 0777);
    ::mkfifo(day, 0666);
    m.evaluateChannels(); // nobody reads the FIFO: must not wait
    const int reader = ::open(day, O_RDONLY | O_NONBLOCK);
    m.evaluateChannels(); // a reader: still nothing written into it
    char buf[8];
    EXPECT_LE(::read(reader, buf, sizeof buf), 0);
    ::close(reader);
    ::unlink(day);
    ::symlink(QFile::encodeName(fx.path("elsewhere")), day);
    m.evaluateChannels();
    EXPECT_FALSE(QFile::exists(fx.path("elsewhere")));
    ::unlink(day);
    ::rename(dir, QFile::encodeName(fx.path("otherDisk")));
    ::symlink(QFile::encodeName(fx.path("otherDisk")), dir);
    m.evaluateChannels();
    EXPECT_EQ(fx.file("otherDisk/250312.txt"), "\"08:15:00\",0,0,0,0,0,0,0,0\r\n");
    EXPECT_TRUE(fx.status.empty()) << "all of it silent";
}

// Descriptors of this process open on `path`.
int heldOpen(const QByteArray& path)
{
    int n = 0;
    std::error_code e;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        n += std::filesystem::read_symlink(fd.path(), e) == path.constData();
    return n;
}

TEST(Channels, TheDayFileIsHeldOnlyWhileLinesComeCloseTogether)
{
    SimEventLoop loop;
    QTemporaryDir tmp;
    const QByteArray dir = QFile::encodeName(tmp.path()), path = dir + "/250312.txt";
    AppendFile file{loop};
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(file.append(dir, path, "line\r\n"));
        loop.runFor(400);
    }
    EXPECT_EQ(file.opens(), 1);
    EXPECT_EQ(heldOpen(path), 1) << "descriptors on the file 400 ms after a line";
    ASSERT_EQ(::unlink(path), 0); // the held file deleted: the next line makes it anew
    ASSERT_TRUE(file.append(dir, path, "new\r\n"));
    EXPECT_EQ(QFile(QFile::decodeName(path)).size(), 5) << "bytes in the file made anew";
    loop.runFor(AppendFile::kQuietMs);
    EXPECT_EQ(heldOpen(path), 0) << "descriptors on the file a second after the last line";
}

// Root ignores permission bits: as root the file system is asked as nobody.
TEST(Channels, TheDayFileIsWrittenOnlyWhileItMayBe)
{
    SimEventLoop loop;
    QTemporaryDir tmp;
    const QByteArray dir = QFile::encodeName(tmp.path()), path = dir + "/250312.txt";
    const bool root = ::geteuid() == 0;
    AppendFile file{loop};
    ASSERT_TRUE(file.append(dir, path, "1\r\n"));
    if (root) {
        ASSERT_EQ(::chmod(dir, 0755), 0);
        ASSERT_EQ(::chown(path, 65534, 65534), 0);
        ::setfsuid(65534);
    }
    loop.runFor(1);
    const bool second = file.append(dir, path, "2\r\n");
    ASSERT_EQ(::chmod(path, 0444), 0);
    loop.runFor(1);
    const bool third = file.append(dir, path, "3\r\n");
    ::setfsuid(::geteuid());
    EXPECT_TRUE(second) << "a line to the file's new owner";
    EXPECT_FALSE(third) << "a line to a read-only file";
    QFile f(QFile::decodeName(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "1\r\n2\r\n");
}

// Switched off, the option leaves a running sound repeating.
TEST(Channels, AlarmSoundEveryThreeSeconds)
{
    CoreFixture fx;
    Monitor& m = fx.startWith(settingsWith(0, 8, false, true));
    for (Millis t = 3000; t < 13000; t += 100)
        fx.port.receiveAt(t, "V01=150\r");
    for (const auto& [t, line] : {std::pair(13000, "V01=50\r"),
                                  {14000, "V01=150\r"},
                                  {16999, "V01=50\r"},
                                  {21000, "V01=150\r"}})
        fx.port.receiveAt(t, line);
    fx.loop.runUntil(20000);
    EXPECT_EQ(fx.plays, (std::vector<Millis>{6000, 9000, 12000}));
    EXPECT_EQ(fx.soundPath, QFile::encodeName(fx.path("a1.wav")));
    fx.loop.runUntil(22000);
    m.useSettings(settingsWith(0, 8, false, false));
    fx.port.receiveAt(23000, "V01=50\r");
    fx.loop.runUntil(30500);
    EXPECT_EQ(fx.plays.size(), 6u); // 24000, 27000, 30000
}

// Without a WAV file of its own the instance plays the program's sound; what
// keeps a sound from playing is told once, in the status line's tooltip.
TEST(Channels, TheAlarmSoundFallsBackAndSaysOnceWhyItCannotPlay)
{
    const QByteArray wav("RIFF\x24\0\0\0WAVEfmt ", 16);
    const struct {
        QByteArray own;
        bool withDefault;
        const char* played;
        QString why; // of a1.wav
    } cases[] = {{wav, true, "a1.wav", ""},
                 {"", true, "default.wav", ""},
                 {"ID3\x04", true, "default.wav", "it is not a WAV file; the default sound plays"},
                 {"", false, "a1.wav", "there is no such file, and no default sound"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.played + c.why);
        CoreFixture fx;
        if (!c.own.isEmpty())
            fx.write("a1.wav", c.own);
        if (c.withDefault)
            fx.write("default.wav", wav);
        fx.defaultSound = c.withDefault ? QFile::encodeName(fx.path("default.wav")) : "";
        fx.startWith(settingsWith(0, 8, false, true));
        fx.port.receiveAt(3000, "V01=150\r");
        fx.loop.runUntil(9000);
        EXPECT_EQ(fx.plays.size(), 2u);
        EXPECT_EQ(fx.soundPath, QFile::encodeName(fx.path(c.played)));
        const QString own = "Alarm sound " + fx.path("a1.wav") + ": ";
        EXPECT_EQ(fx.notes, c.why.isEmpty() ? QStringList() : QStringList{own + c.why});
        fx.failed(fx.soundPath, "there is no audio output device");
        fx.failed(fx.soundPath, "there is no audio output device");
        EXPECT_EQ(fx.notes.size(), c.why.isEmpty() ? 1 : 2) << "told once";
    }
}

TEST(Channels, ThirtySecondCyclesOfEightValues)
{
    CoreFixture fx;
    fx.startWith(settingsWith(30, 8, true, false));
    fx.loop.runUntil(41000);
    const auto reqs = fx.port.valueRequests();
    ASSERT_EQ(reqs.size(), 16u);
    for (int n = 1; n <= 8; ++n) // V01 in the tick, the others each after a pause
        EXPECT_EQ(reqs[n - 1],
                  (std::pair<Millis, std::string>{3530 + (n - 1) * 530, "V0" + std::to_string(n)}));
    EXPECT_EQ(reqs[8].first, 36530) << "the next cycle 30 ticks after the first";
    EXPECT_EQ(fx.log(), "\"08:15:07\",1,2,3,4,5,6,7,8\r\n\"08:15:40\",1,2,3,4,5,6,7,8\r\n");
    EXPECT_LT(fx.shownAt("STime:30 STimer:29"), fx.shownAt("STime:30 STimer:31"));
    EXPECT_LT(fx.shownAt("STime:30 STimer:32"), fx.shownAt("STime:30 STimer:0"));
    EXPECT_EQ(fx.timesShown("STime:30 STimer:29"), 2);
}

TEST(Channels, TheSampleClockInOddSituations)
{
    CoreFixture set;
    Monitor& f = set.startWith(settingsWith(1, 3, true, false)); // a cycle a second
    set.loop.postAt(4100, [&] { f.stopSampleClock(); });
    set.loop.runUntil(60000);
    EXPECT_EQ(set.port.valueRequests().size(), 3u) << "the running cycle finishes";
    EXPECT_EQ(set.log().count('\n'), 1) << "and none follows";

    CoreFixture odd;
    Monitor& g = odd.startWith(settingsWith(2, 9, false, false)); // one value too many
    odd.loop.runUntil(100000);
    EXPECT_TRUE(odd.port.valueRequests().empty());
    EXPECT_LE(g.sampleCount(), 2);
    g.useSettings(settingsWith(0, 9, false, false));
    odd.loop.runUntil(40000000);
    EXPECT_EQ(g.sampleCount(), 32767);

    // A recognition answer mid-cycle starts no second cycle.
    CoreFixture again;
    again.startWith(settingsWith(2, 3, false, false));
    again.port.receiveAt(4300, "OK\r\n");
    again.loop.runUntil(12000);
    const auto reqs = again.port.valueRequests();
    ASSERT_GE(reqs.size(), 6u);
    EXPECT_EQ(reqs[1].first, 4560);
    EXPECT_EQ(reqs[3], (std::pair<Millis, std::string>{7030, "V01"}));

    CoreFixture lost;
    lost.startWith(settingsWith(30, 3, true, false));
    lost.port.loseDeviceAt(3800);
    lost.loop.runUntil(6000);
    EXPECT_NE(lost.shownAt("COM Port comm-error! 8018"), -1);
    EXPECT_EQ(lost.log().count('\n'), 1) << "the cycle still ends with its evaluation";
}

} // namespace
} // namespace qm::test
