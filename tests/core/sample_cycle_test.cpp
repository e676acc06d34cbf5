// The sample cycle's states, one transition a row, on the simulated clock.
#include "sampling/sample_cycle.h"
#include "tests/support/sim_event_loop.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace qm::test {
namespace {

using State = SampleCycle::State;

const char* name(State s)
{
    switch (s) {
    case State::Idle:
        return "idle";
    case State::Pausing:
        return "pausing";
    case State::AwaitingReply:
        return "awaiting a reply";
    }
    return "?";
}

// A cycle whose requests are recorded as "<time>:V0<n>" and whose port
// refuses the channels in `refused`.
struct Driver {
    SimEventLoop loop;
    std::set<int> refused;
    std::vector<std::string> requests;
    int finished = 0;
    SampleCycle cycle{loop,
                      {[this](int channel) {
                           requests.push_back(std::to_string(loop.now()) + ":V0" +
                                              std::to_string(channel));
                           return refused.count(channel) == 0;
                       },
                       [this] { ++finished; }}};

    // Into the state of the row: a cycle over `count` channels taken as far
    // as `channel` in `state`.
    void reach(int count, State state, int channel)
    {
        if (state == State::Idle)
            return;
        cycle.start(count);
        while (cycle.channel() != channel || cycle.state() != state) {
            if (cycle.state() == State::AwaitingReply)
                cycle.replyWaitOver();
            else
                loop.runFor(SampleCycle::kPauseMs);
        }
        requests.clear();
    }
};

struct Transition {
    const char* what;
    int count;
    State from;
    int fromChannel;
    std::set<int> refused;
    void (*event)(Driver&);
    State to;
    int toChannel;
    std::vector<std::string> requests; // sent by the event, times from the row's start
    int finished;
};

void startThree(Driver& d)
{
    d.cycle.start(3);
}
void startEight(Driver& d)
{
    d.cycle.start(8);
}
void startNone(Driver& d)
{
    d.cycle.start(0);
}
void almostAPause(Driver& d)
{
    d.loop.runFor(SampleCycle::kPauseMs - 1);
}
void aPause(Driver& d)
{
    d.loop.runFor(SampleCycle::kPauseMs);
}
void replyCame(Driver& d)
{
    d.cycle.replyWaitOver();
}

TEST(SampleCycle, Transitions)
{
    const Transition rows[] = {
        {"a start pauses before the first channel",
         3,
         State::Idle,
         0,
         {},
         startThree,
         State::Pausing,
         1,
         {},
         0},
        {"with eight channels the first is asked at once",
         8,
         State::Idle,
         0,
         {},
         startEight,
         State::AwaitingReply,
         1,
         {"0:V01"},
         0},
        {"a cycle of no channels does not start",
         3,
         State::Idle,
         0,
         {},
         startNone,
         State::Idle,
         0,
         {},
         0},
        {"a pause lasts its full 500 ms",
         3,
         State::Pausing,
         1,
         {},
         almostAPause,
         State::Pausing,
         1,
         {},
         0},
        {"after the pause the channel is asked",
         3,
         State::Pausing,
         2,
         {},
         aPause,
         State::AwaitingReply,
         2,
         {"500:V02"},
         0},
        {"a refused request goes on to the next pause",
         3,
         State::Pausing,
         1,
         {1},
         aPause,
         State::Pausing,
         2,
         {"500:V01"},
         0},
        {"a refused last request ends the cycle",
         3,
         State::Pausing,
         3,
         {3},
         aPause,
         State::Idle,
         0,
         {"500:V03"},
         1},
        {"a reply moves on to the next channel's pause",
         3,
         State::AwaitingReply,
         1,
         {},
         replyCame,
         State::Pausing,
         2,
         {},
         0},
        {"the last reply ends the cycle",
         3,
         State::AwaitingReply,
         3,
         {},
         replyCame,
         State::Idle,
         0,
         {},
         1},
        {"a wait that nobody ends goes on waiting",
         3,
         State::AwaitingReply,
         2,
         {},
         aPause,
         State::AwaitingReply,
         2,
         {},
         0},
        {"a reply wait's end while pausing changes nothing",
         3,
         State::Pausing,
         2,
         {},
         replyCame,
         State::Pausing,
         2,
         {},
         0},
        {"a start while a cycle runs changes nothing",
         3,
         State::AwaitingReply,
         2,
         {},
         startEight,
         State::AwaitingReply,
         2,
         {},
         0},
    };
    for (const Transition& row : rows) {
        SCOPED_TRACE(row.what);
        Driver d;
        d.reach(row.count, row.from, row.fromChannel);
        d.refused = row.refused;
        const Millis start = d.loop.now();
        row.event(d);
        for (std::string& r : d.requests) {
            const auto colon = r.find(':');
            r = std::to_string(std::stoll(r.substr(0, colon)) - start) + r.substr(colon);
        }
        EXPECT_STREQ(name(d.cycle.state()), name(row.to)) << "the state after the event";
        EXPECT_EQ(d.cycle.channel(), row.toChannel) << "the channel after the event";
        EXPECT_EQ(d.requests, row.requests) << "the requests the event sent";
        EXPECT_EQ(d.finished, row.finished) << "evaluations after the event";
    }
}

} // namespace
} // namespace qm::test
