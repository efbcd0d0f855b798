// Faults the simulated unit injects, hang-ups and the transcript.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <unistd.h>

#include "hostline.h"
#include "simframes.h"

namespace {

const TBytes kCommand4620 = Concat({{0x02}, Bytes("PF1010"), {0x03}});
constexpr int kSilentMs = 200;

TUnitFault Fault(const std::string& text) { return ParseFault(text); }

struct TLinkedUnit {
    explicit TLinkedUnit(std::vector<TUnitFault> faults, bool linkUp = true)
    {
        TUnitSimOptions options;
        options.Faults = std::move(faults);
        Sim = std::make_unique<TUnitSim>(options);
        Host = std::make_unique<THostLine>(Sim->PortPath());
        if (linkUp) Linked = Host->LinkUp(kCommand4620, 19200);
    }
    TBytes Identity(int timeoutMs = 500) { return Host->TransactScrambled(Bytes("IDEN"), 40, timeoutMs); }
    TBytes EraseStatus()
    {
        Host->SendScrambled(Bytes("ERAS"));
        return Host->TransactScrambled(Concat({Field(0x800), Field(0x7800)}), 1);
    }

    std::unique_ptr<TUnitSim> Sim;
    std::unique_ptr<THostLine> Host;
    bool Linked = false;
};

TEST(Faults, SilenceAtIdentity)
{
    TLinkedUnit unit({Fault("silence@identity#0")});
    ASSERT_TRUE(unit.Linked);
    EXPECT_TRUE(unit.Identity(kSilentMs).empty());
    EXPECT_TRUE(HasEventContaining(*unit.Sim, "no identity (silence@identity#0)"));
}

TEST(Faults, EraseStatusPercentAndOtherBytes)
{
    TLinkedUnit failure({Fault("wrong@erase=%")});
    ASSERT_TRUE(failure.Linked);
    EXPECT_EQ(failure.EraseStatus(), TBytes{'%'});

    TLinkedUnit other({Fault("wrong@erase")});
    ASSERT_TRUE(other.Linked);
    EXPECT_EQ(other.EraseStatus(), TBytes{'$' ^ 0x40});
}

TEST(Faults, ShortIdentityReply)
{
    TLinkedUnit unit({Fault("short@identity#0")});
    ASSERT_TRUE(unit.Linked);
    EXPECT_EQ(unit.Identity(kSilentMs).size(), 20u);
}

TEST(Faults, NoiseBeforeTheReplyIsNotScrambledAndKeepsTheCounter)
{
    TLinkedUnit unit({Fault("noise@identity#0=3")});
    ASSERT_TRUE(unit.Linked);
    unit.Host->SendScrambled(Bytes("IDEN"));
    const TBytes raw = unit.Host->Read(43, 500);
    ASSERT_EQ(raw.size(), 43u);
    EXPECT_EQ(TBytes(raw.begin(), raw.begin() + 3), (TBytes{0xE7, 0x18, 0xBD}));
    // The reply after the noise is scrambled with the counter where the
    // request left it: the noise is the line's, not the unit's.
    const TBytes identity = unit.Host->Scramble(TBytes(raw.begin() + 3, raw.end()));
    EXPECT_EQ(std::string(identity.begin(), identity.begin() + 4), "4D58");
    EXPECT_EQ(FindFrame(*unit.Sim, "noise")->Direction, sdUnitToHost);
}

TEST(Faults, SlowSpeedReplyArrivesLate)
{
    TLinkedUnit unit({Fault("slow@speed-reply=400")}, false);
    ASSERT_EQ(unit.Host->Transact(kCommand4620, 8), Bytes("SwItChUp"));
    unit.Host->ResetCounter();
    unit.Host->SendScrambled({0x44, 0x05});
    EXPECT_TRUE(unit.Host->Read(1, 150).empty());
    EXPECT_EQ(unit.Host->Read(1, 2000), TBytes{192 ^ 2});
}

TEST(Faults, WrongIdentityStartAndSize)
{
    TLinkedUnit defaults({Fault("wrong-start@identity#0"), Fault("wrong-size@identity#1")});
    ASSERT_TRUE(defaults.Linked);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(defaults.Identity().data())), "4D58:900:7800:Morvex 4620\n");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(defaults.Identity().data())), "4D58:800:7700:Morvex 4620\n");

    TLinkedUnit chosen({Fault("wrong-size@identity=0x20000")});
    ASSERT_TRUE(chosen.Linked);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(chosen.Identity().data())), "4D58:800:20000:Morvex 4620\n");
}

TEST(Faults, ProgramBlockStatusHashEndsTheTransferEarly)
{
    TLinkedUnit unit({Fault("wrong@program-block#0=#")});
    ASSERT_TRUE(unit.Linked);
    unit.Host->SendScrambled(Concat({Bytes("PROG"), Field(0x800), Field(256)}));
    EXPECT_EQ(unit.Host->TransactScrambled(TBytes(128, 0x11), 1), TBytes{'#'});
    EXPECT_EQ(unit.Identity().size(), 40u); // the loader takes commands again
    EXPECT_EQ(unit.Sim->Flash()[0x800], 0x11);
}

TEST(Faults, ProgramClosingStatusReplacedOrMissing)
{
    TLinkedUnit quote({Fault("wrong@program-close=0x22")});
    ASSERT_TRUE(quote.Linked);
    quote.Host->SendScrambled(Concat({Bytes("PROG"), Field(0x800), Field(0)}));
    EXPECT_EQ(quote.Host->TransactScrambled({0x00}, 1), TBytes{'"'});

    TLinkedUnit silent({Fault("silence@program-close")});
    ASSERT_TRUE(silent.Linked);
    silent.Host->SendScrambled(Concat({Bytes("PROG"), Field(0x800), Field(0)}));
    EXPECT_TRUE(silent.Host->TransactScrambled({0x00}, 1, kSilentMs).empty());
}

TEST(Faults, SecondReadBlockCorrupted)
{
    TLinkedUnit unit({Fault("wrong@read-block#1")});
    ASSERT_TRUE(unit.Linked);
    unit.Host->SendScrambled(Bytes("READ"));
    EXPECT_EQ(unit.Host->TransactScrambled(Concat({Field(0x800), Field(64)}), 32), TBytes(32, 0xFF));
    TBytes second(32, 0xFF);
    second[0] = 0xFF ^ 0x40;
    EXPECT_EQ(unit.Host->TransactScrambled({0x00}, 32), second);
}

TEST(Faults, AWrongReplySpoilsTheByteItNames)
{
    // The last byte of a block, then the sixth: a host that checks all but
    // one byte of a reply would miss the first.
    TLinkedUnit unit({Fault("wrong@read-block#0:last"), Fault("wrong@read-block#1:5")});
    ASSERT_TRUE(unit.Linked);
    unit.Host->SendScrambled(Bytes("READ"));
    TBytes first(32, 0xFF);
    first[31] = 0xFF ^ 0x40;
    EXPECT_EQ(unit.Host->TransactScrambled(Concat({Field(0x800), Field(64)}), 32), first);
    TBytes second(32, 0xFF);
    second[5] = 0xFF ^ 0x40;
    EXPECT_EQ(unit.Host->TransactScrambled({0x00}, 32), second);
}

TEST(Faults, WrongConnectReplyFromTheFirmwareThenSilence)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    options.Faults = {Fault("wrong@connect#2")};
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    EXPECT_TRUE(host.Transact(Bytes("SwItChUp"), 8, 100).empty());
    EXPECT_TRUE(host.Transact(Bytes("SwItChUp"), 8, 100).empty());
    EXPECT_EQ(host.Transact(Bytes("SwItChUp"), 8, 500), Bytes("\x13wItChUp"));
    EXPECT_TRUE(host.Transact(Bytes("SwItChUp"), 8, 100).empty());
    EXPECT_EQ(sim.State(), usFirmware);
}

TEST(Faults, WrongUserCommandReplyKeepsTheFirmwareRunning)
{
    TLinkedUnit unit({Fault("wrong@connect#0=SwItChDn")}, false);
    EXPECT_EQ(unit.Host->Transact(kCommand4620, 8), Bytes("SwItChDn"));
    EXPECT_EQ(unit.Sim->State(), usFirmware);
    EXPECT_EQ(unit.Host->Transact(kCommand4620, 8), Bytes("SwItChUp"));
}

TEST(Faults, FrameIndexCountsAgainWhenTheHostReopensTheFirmwarePort)
{
    TLinkedUnit unit({Fault("silence@connect#0")}, false);
    EXPECT_TRUE(unit.Host->Transact(kCommand4620, 8, kSilentMs).empty());
    unit.Host->Open(9600);
    ASSERT_TRUE(unit.Sim->WaitForFrame("host opens the port", 1000));
    EXPECT_TRUE(unit.Host->Transact(kCommand4620, 8, kSilentMs).empty());
    EXPECT_EQ(unit.Host->Transact(kCommand4620, 8), Bytes("SwItChUp"));
}

TEST(Faults, EveryFrameWithoutIndex)
{
    TLinkedUnit unit({Fault("silence@identity")}, false);
    ASSERT_EQ(unit.Host->Transact(kCommand4620, 8), Bytes("SwItChUp"));
    ASSERT_EQ(unit.Host->ChangeSpeed(19200), Bytes("ABCDE"));
    EXPECT_TRUE(unit.Identity(100).empty());
    EXPECT_TRUE(unit.Identity(100).empty());
}

TEST(HangUp, FaultClosesTheLineAtTheChosenFrame)
{
    const std::string link = "/tmp/unitsim-test-" + std::to_string(::getpid()) + "/Morvex-4620";
    TUnitSimOptions options;
    options.LinkPath = link;
    options.Faults = {Fault("hangup@erase")};
    std::atomic<bool> hungUp = false;
    options.OnHangUp = [&hungUp] { hungUp = true; };
    TUnitSim sim(options);
    EXPECT_EQ(std::filesystem::read_symlink(link), sim.PortPath());
    THostLine host(link);
    ASSERT_TRUE(host.LinkUp(kCommand4620, 19200));
    host.SendScrambled(Bytes("ERAS"));
    host.SendScrambled(Concat({Field(0x800), Field(0x7800)}));
    EXPECT_TRUE(host.WaitHangUp(2000));
    EXPECT_TRUE(sim.WaitForState(usHungUp, 1000));
    EXPECT_TRUE(hungUp);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(std::filesystem::path(link).parent_path());
}

TEST(HangUp, OnRequestWhileIdle)
{
    TUnitSim sim(TUnitSimOptions{});
    THostLine host(sim.PortPath());
    ASSERT_TRUE(host.LinkUp(kCommand4620, 19200));
    sim.HangUp();
    EXPECT_EQ(sim.State(), usHungUp);
    EXPECT_TRUE(host.WaitHangUp(2000));
    EXPECT_TRUE(HasEventContaining(sim, "hang-up"));
    sim.HangUp(); // a second time changes nothing
}

TEST(HangUp, OnRequestDuringASlowReply)
{
    TLinkedUnit unit({Fault("slow@identity#0=5000")});
    ASSERT_TRUE(unit.Linked);
    unit.Host->SendScrambled(Bytes("IDEN"));
    ASSERT_TRUE(unit.Sim->WaitForFrame("identity query", 1000));
    unit.Sim->HangUp();
    EXPECT_EQ(unit.Sim->State(), usHungUp);
    EXPECT_TRUE(unit.Host->WaitHangUp(2000));
}

TEST(Requests, OperatorResetDuringASlowReplyTakesEffect)
{
    TLinkedUnit unit({Fault("slow@identity#0=300")});
    ASSERT_TRUE(unit.Linked);
    unit.Host->SendScrambled(Bytes("IDEN"));
    ASSERT_TRUE(unit.Sim->WaitForFrame("identity query", 1000));
    unit.Sim->OperatorReset();
    EXPECT_TRUE(unit.Sim->WaitForState(usBootLoader, 3000));
    EXPECT_EQ(unit.Host->Read(40, 2000).size(), 40u); // the reply under way still leaves
}

TEST(Transcript, LinkUpFramesInOrderWithPlainAndLineBytes)
{
    TLinkedUnit unit({});
    ASSERT_TRUE(unit.Linked);
    ASSERT_TRUE(unit.Sim->WaitForFrame("speed-change echo", 1000));
    const std::vector<std::string> expected{"user command",       "connect reply", "speed-change request",
                                            "speed-change reply", "divisor",       "speed-change check",
                                            "speed-change echo"};
    EXPECT_EQ(LineLabels(*unit.Sim), expected);

    const auto command = FindFrame(*unit.Sim, "user command");
    EXPECT_EQ(command->Direction, sdHostToUnit);
    EXPECT_EQ(command->Plain, kCommand4620);
    EXPECT_EQ(command->Line, kCommand4620);
    const auto check = FindFrame(*unit.Sim, "speed-change check");
    EXPECT_EQ(check->Plain, Bytes("ABCDE"));
    EXPECT_EQ(check->Line, (TBytes{0x45, 0x47, 0x45, 0x43, 0x4D}));
    EXPECT_EQ(check->BitRate, 19200u);
    const auto echo = FindFrame(*unit.Sim, "speed-change echo");
    EXPECT_EQ(echo->Direction, sdUnitToHost);
    EXPECT_EQ(echo->Line, TBytes(5, 0x48));

    unit.Sim->ClearTranscript();
    EXPECT_TRUE(unit.Sim->Transcript().empty());
    ASSERT_EQ(unit.Identity().size(), 40u);
    ASSERT_TRUE(unit.Sim->WaitForFrame("identity", 1000));
    EXPECT_EQ(LineLabels(*unit.Sim), (std::vector<std::string>{"identity query", "identity"}));
}

TEST(Transcript, DescribesFramesInHex)
{
    TSimFrame frame;
    frame.Direction = sdHostToUnit;
    frame.Label = "speed-change request";
    frame.Plain = {0x44, 0x05};
    frame.Line = {0x44, 0x04};
    frame.BitRate = 9600;
    EXPECT_EQ(DescribeFrame(frame), "host -> unit  speed-change request [9600 bit/s]  plain: 44 05  line: 44 04");
    frame.Line = frame.Plain;
    EXPECT_EQ(DescribeFrame(frame), "host -> unit  speed-change request [9600 bit/s]  plain: 44 05");
}

} // namespace
