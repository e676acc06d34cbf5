// Where an instance keeps its files, the journal's lines, the alarm lines.
#include "app/alarm_journal.h"
#include "app/journal.h"
#include "app/program_paths.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

TEST(Service, TheProgramDirectoryHoldsTheInstanceOnlyWhenItIsTheUsersOwnAndNoSystemFolder)
{
    const QList<QByteArray> system = {"/usr", "/opt", "/srv/apps"};
    const struct {
        QByteArray dir;
        uint owner, euid;
        bool holds;
    } cases[] = {{"/home/ann/pumps", 1000, 1000, true},
                 {"/home/ann/pumps", 1000, 0, false}, // root in a user's folder
                 {"/srv/apps/q", 0, 0, false},
                 {"/srv/apps2", 0, 0, true}}; // a name that only begins like one
    for (const auto& c : cases)
        EXPECT_EQ(programDirHoldsInstance(c.dir, c.owner, c.euid, system), c.holds)
            << c.dir << " owner " << c.owner << " euid " << c.euid;
    for (const char* dir : {"/usr", "/bin", "/sbin"})
        EXPECT_FALSE(programDirHoldsInstance(dir, 0, 0)) << dir << " is a system folder";
}

TEST(Service, JournalLines)
{
    const struct {
        QtMsgType type;
        const char* category;
        QString text;
        bool priority;
        QByteArray line;
    } cases[] = {
        {QtDebugMsg, "default", "x", true, "<7>quellmark: x\n"},
        {QtWarningMsg, "quellmark.device", "a\nb\rc\x01", false, "quellmark.device: a b c \n"}};
    for (const auto& c : cases)
        EXPECT_EQ(journalLine(c.type, c.category, c.text, c.priority), c.line);

    EXPECT_FALSE(isJournalStream("8:43", 8, 42)) << "another stream";
    EXPECT_FALSE(isJournalStream("8:42x", 8, 42));
}

TEST(Service, AlarmLinesOncePerChange)
{
    ChannelArray<Single> values{}, hi{}, lo{};
    hi.fill(10);
    ChannelArray<String> labels{}, colours{};
    labels[2] = "V02 label:";
    labels[3] = "Tank \xe9";
    AlarmJournal journal;
    const auto take = [&](int channel, Single value) {
        values[channel] = value;
        Reading r{{}, values, {}, labels, colours, hi, lo, 8};
        for (int i = 1; i <= 8; ++i)
            r.alarms[i] = values[i] > hi[i] || values[i] < lo[i];
        return journal.changes(r);
    };
    const struct {
        int channel;
        Single value;
        std::vector<AlarmChange> lines;
    } steps[] = {
        {1, 5, {}},
        {1, 12.5f, {{QtWarningMsg, "V01: in alarm, 12.5 above Set Hi 10"}}},
        {1, 13, {}},
        {3,
         -0.5f,
         {{QtWarningMsg, QString::fromUtf8("V03 Tank \xc3\xa9: in alarm, -0.5 below Set Lo 0")}}},
        {2, 11, {{QtWarningMsg, "V02: in alarm, 11 above Set Hi 10"}}},
        {1, 10, {{QtInfoMsg, "V01: alarm over, 10 (Set Lo 0, Set Hi 10)"}}}};
    for (const auto& s : steps) {
        const std::vector<AlarmChange> got = take(s.channel, s.value);
        ASSERT_EQ(got.size(), s.lines.size()) << "V0" << s.channel << " = " << s.value;
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], s.lines[i]) << got[i].text;
    }
}

} // namespace
} // namespace qm::test
