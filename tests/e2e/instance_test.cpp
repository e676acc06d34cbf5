// An instance as a new user meets it from the command line: one running
// program at a time, settings made without a screen, a sound that is not
// there.
#include "tests/e2e/harness.h"

#include "settings/settings_file.h"

#include <QFileInfo>

#include <csignal>
#include <thread>

namespace qm::e2e {
namespace {

// A second start of a running instance, with its window (whose note waits
// for a reader, or a signal) or without, names the process and ends with
// status 3. The lock goes with the process, however it ends.
TEST_F(E2eTest, ASecondStartOfARunningInstanceSaysWhoRunsIt)
{
    const QString lock = dir.filePath("pump.lock");
    QProcess& first = startApp("pump", {});
    ASSERT_TRUE(
        waitUntil([&] { return readAll(lock).trimmed().toLongLong() == first.processId(); }, 10s));
    const QByteArray says =
        "is already running as process " + QByteArray::number(first.processId());
    for (const QByteArray args : {"--headless", "-platform offscreen"}) {
        const QString out = dir.filePath("second" + args);
        QProcess& second = run("'" + path + "/pump' " + args, out);
        ASSERT_TRUE(waitUntil([&] { return readAll(out).contains(says); }, 10s))
            << args << ": " << readAll(out);
        ::kill(static_cast<pid_t>(second.processId()), SIGTERM); // ends the window's note
        second.waitForFinished(5000);
        ASSERT_EQ(second.state(), QProcess::NotRunning) << args;
        EXPECT_EQ(second.exitCode(), 3) << args;
    }
    EXPECT_EQ(first.state(), QProcess::Running);
    stop(first, SIGKILL);
    QProcess& third = run("'" + path + "/pump' --headless", dir.filePath("third"));
    EXPECT_TRUE(
        waitUntil([&] { return readAll(lock).trimmed().toLongLong() == third.processId(); }, 10s))
        << "the instance did not start again after the first was killed";
}

// --set takes what the Set panel takes, in any locale, and tells what
// changed; a refused key or an unusable command line changes nothing, and an
// export without readings writes nothing.
TEST_F(E2eTest, SettingsAreMadeFromTheCommandLineWithTheSetPanelsChecks)
{
    const QByteArray program = "'" QM_APP_PATH "' --instance '" + path + "' ";
    const QString ini = dir.filePath(QFileInfo(dir.path()).fileName() + ".ini");
    const struct {
        QByteArray args;
        int status;
        QByteArray says;
    } cases[] = {
        {"--set log=1 --set Channel3.label=Tank --set channel3.hi=30.5 --set rvnr=12", 0,
         "log: 0 -> 1\nchannel3.label: \"V03 label:\" -> \"Tank\"\n"
         "channel3.hi: 99.9 -> 30.5\nsaved "},
        {"--set stime=5 --set channel3.lo=abc", 2, "--set channel3.lo=abc: a number is needed"},
        {"--set stime=5 --set 'channel1.label=5\" pipe'", 2, "a double quote cannot be stored"},
        {"--set stime=5 --set colour=R", 2, "--set colour=R: not KEY=VALUE"},
        {"--set stime=5 extra", 2, "unexpected argument: extra"},
        {"--export-trend " + path + "/day.csv", 1, "no readings in the last 24 hours"},
        {"--show-settings", 0, "\nlog=1\n"},
    };
    QByteArray saved;
    for (const auto& c : cases) {
        const QString out = dir.filePath(QStringLiteral("out%1").arg(&c - cases));
        QProcess& p = run(program + c.args, out);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), c.status) << c.args;
        EXPECT_TRUE(readAll(out).contains(c.says)) << c.args << ": " << readAll(out);
        if (saved.isEmpty())
            saved = readAll(ini);
        EXPECT_EQ(readAll(ini), saved) << "after " << c.args;
    }
    SettingsValues expected = defaultSettings();
    expected.logOn = 1;
    expected.labels[3] = "Tank";
    expected.setHi[3] = 30.5f;
    EXPECT_EQ(saved, QByteArray::fromStdString(writeSettingsFile(expected)));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("day.csv")));
}

// The sound on, a channel in alarm, no a1.wav and no sound of the program's:
// the journal says so once, however often the sound is wanted.
TEST_F(E2eTest, AnAlarmSoundThatIsNotThereIsToldOnce)
{
    startSim({"--link", port(1), "--continuous", "10"});
    SettingsValues v = defaultSettings();
    v.sampleTime = 0;
    v.soundOn = 1;
    v.setHi[1] = -9999; // in alarm at any value
    writeAll(dir.filePath(QFileInfo(dir.path()).fileName() + ".ini"),
             QByteArray::fromStdString(writeSettingsFile(v)));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_DIRS", dir.filePath("nowhere"));
    const QString err = dir.filePath("err");
    run("'" QM_APP_PATH "' --headless --instance '" + path + "'", err, env);
    const QByteArray says = "quellmark.alarm: Alarm sound " + path +
                            "/a1.wav: there is no such file, and no default sound\n";
    ASSERT_TRUE(waitUntil([&] { return readAll(err).contains(says); }, 10s)) << readAll(err);
    std::this_thread::sleep_for(6500ms); // two more sounds wanted
    EXPECT_EQ(readAll(err).count(says), 1) << readAll(err);
}

} // namespace
} // namespace qm::e2e
