// The adapter unplugged at any moment of a run: the run ends at once with
// the port's failure (or, where the run reports a block transaction's
// failure in its own words, with those), within the time-out in force and
// never as a time-out, and the next run on a freshly plugged adapter
// programs the unit.
#include "runfixture.h"

#include "tests/support/processprobe.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;

struct TMoment {
    const char* Name;
    const char* AfterFrame; // hang up once the unit has recorded this frame ...
    int AfterMs;            // ... or this long after Start
};

std::ostream& operator<<(std::ostream& out, const TMoment& m) { return out << m.Name; }

const TMoment Moments[] = {
    {"DuringTheUserCommand", "user command", 0},
    {"AfterTheSpeedChangeRequest", "speed-change request", 0},
    {"AfterTheDivisor", "divisor", 0},
    {"AfterTheSpeedChangeCheck", "speed-change check", 0},
    {"AfterTheFirstIdentityQuery", "identity query", 0},
    {"AfterTheEraseCommand", "erase command", 0},
    {"AfterTheEraseLength", "erase length", 0},
    {"AfterTheProgramCommand", "program command", 0},
    {"AfterProgramBlock0", "program block 0", 0},
    {"AfterProgramBlock150", "program block 150", 0},
    {"AfterTheClosingAcknowledge", "closing acknowledge", 0},
    {"AfterTheReadCommand", "read command", 0},
    {"AfterReadBlock500", "read block 500", 0},
    // A whole run takes a little over 900 ms, most of it fixed pauses.
    {"At50ms", nullptr, 50},
    {"At250ms", nullptr, 250},
    {"At450ms", nullptr, 450},
    {"At600ms", nullptr, 600},
    {"At700ms", nullptr, 700},
    {"At800ms", nullptr, 800},
};

// What a run may end with when the line drops: the port's own failure of
// whichever call met the dropped line first (a read, a write, the purge
// before a request, the line settings or the reopen of the speed change),
// with the system's word for a device that is gone (I/O error, no such
// device or address, no such device, or, for a reopen, no such file), or
// the words the run uses for a block transaction or connect exchange that
// failed in any way. Advice for the operator may follow the port's failure
// on further lines; only the failure itself counts.
bool IsPortGone(const std::string& className, const std::string& text)
{
    const std::string message = text.substr(0, text.find('\n'));
    if (className == "EComPort") {
        for (const int gone : {EIO, ENXIO, ENODEV, ENOENT}) {
            const std::string code = " (win error code: " + std::to_string(gone) + ")";
            if (message.size() > code.size() && message.compare(message.size() - code.size(), code.size(), code) == 0)
                return true;
        }
        return false;
    }
    if (className == "EFDTException")
        return message == "Write Failed: No reply" || message == "Write Failed: Unexpected response" ||
               message == "Read Failed: No reply" || message == "No reply to start command";
    return false;
}

class HangUp : public RunTest, public ::testing::WithParamInterface<TMoment> {};

TEST_P(HangUp, EndsTheRunAtOnceWithAPortErrorAndAFreshPortWorksAfterwards)
{
    const TMoment& moment = GetParam();
    StartUnit(UnitOptions());
    std::atomic<bool> hungUp{false};
    TClock::time_point hungAt;
    std::atomic<bool> stop{false};
    const TClock::time_point started = TClock::now();
    std::thread unplug([&] {
        if (moment.AfterFrame) {
            while (!stop && !Unit->WaitForFrame(moment.AfterFrame, 50)) {}
        } else {
            while (!stop && TClock::now() < started + std::chrono::milliseconds(moment.AfterMs))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (stop) return;
        hungAt = TClock::now();
        Unit->HangUp();
        hungUp = true;
    });
    const TRunOutcome outcome = RunOnce();
    const TClock::time_point ended = TClock::now();
    stop = true;
    unplug.join();

    ASSERT_TRUE(hungUp) << "the run ended before the moment came: " << outcome.Message;
    EXPECT_FALSE(outcome.Succeeded);
    if (!outcome.Question.empty()) {
        // During the user method the run asks; the operator declines.
        const std::string inner = FailureInQuestion(outcome.Question);
        EXPECT_TRUE(IsPortGone("EComPort", inner) || IsPortGone("EFDTException", inner)) << outcome.Question;
        EXPECT_EQ(outcome.Message, "Connect Cancelled by User");
    } else {
        EXPECT_TRUE(IsPortGone(outcome.FailureClass, outcome.Message))
            << outcome.FailureClass << ": " << outcome.Message;
    }
    // Noticed at once, not after a time-out: the longest in force is the
    // 5 s of an erase or program status.
    const auto noticedMs = std::chrono::duration_cast<std::chrono::milliseconds>(ended - hungAt).count();
    EXPECT_LT(noticedMs, 5000);
    std::printf("[ figures  ] hang-up %s: run ended %lld ms after the line dropped: %s\n", moment.Name,
                static_cast<long long>(noticedMs),
                (outcome.Question.empty() ? outcome.Message : outcome.Question).c_str());
    ExpectPortReleased();

    // The operator plugs the adapter in again: a new port, the same session.
    StartUnit(UnitOptions());
    const TRunOutcome next = RunOnce();
    EXPECT_TRUE(next.Succeeded) << next.FailureClass << ": " << next.Message;
    Unit->ExpectDemoAreaProgrammed();
    Unit->WaitForHostToLetGo();
    ExpectPortReleased();
}

INSTANTIATE_TEST_SUITE_P(Reliability, HangUp, ::testing::ValuesIn(Moments),
                         [](const ::testing::TestParamInfo<TMoment>& info) { return info.param.Name; });

}
