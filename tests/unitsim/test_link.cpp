// Connecting to the simulated unit: user commands of every model, the boot
// loader after a reset, the speed change and running from run to run.
#include <gtest/gtest.h>

#include <thread>

#include "hostline.h"
#include "simframes.h"

namespace {

constexpr int kSilentMs = 200; // long enough for any unpaced reply to have come
// The programmer pauses this long between the connect reply and the speed
// change; type 14's firmware relies on it to tell a late purge of the
// connect exchange from the speed change's own.
constexpr auto kConnectPause = std::chrono::milliseconds(500);

TBytes PfCommand(const char* digits) { return Concat({{0x02}, Bytes(std::string("PF") + digits), {0x03}}); }

std::string IdentityText(const TBytes& reply)
{
    std::string text;
    for (const uint8_t b : reply) {
        if (b == 0) break;
        text += static_cast<char>(b);
    }
    return text;
}

struct TModelCase {
    uint32_t UnitType;
    TBytes Command; // empty: type 14, answered on a purge
    uint32_t ProgramRate;
    std::string Identity;
};

void PrintTo(const TModelCase& model, std::ostream* out) { *out << "unit type " << model.UnitType; }

class ModelLinkTest : public testing::TestWithParam<TModelCase> {};

TEST_P(ModelLinkTest, AnswersItsUserCommandAndLinksUpAtItsProgrammingRate)
{
    const TModelCase& model = GetParam();
    TUnitSimOptions options;
    options.UnitType = model.UnitType;
    TUnitSim sim(options);
    THostLine host(sim.PortPath());

    const TBytes reply = model.Command.empty() ? (host.Purge(), host.Read(8, 1000)) : host.Transact(model.Command, 8);
    ASSERT_EQ(reply, Bytes("SwItChUp"));
    if (model.Command.empty()) std::this_thread::sleep_for(kConnectPause);
    ASSERT_EQ(host.ChangeSpeed(model.ProgramRate), Bytes("ABCDE"));
    const TBytes identity = host.TransactScrambled(Bytes("IDEN"), 40);
    ASSERT_EQ(identity.size(), 40u);
    EXPECT_EQ(IdentityText(identity), model.Identity);
    EXPECT_EQ(identity.back(), 0x00);
    EXPECT_EQ(sim.State(), usCommand);
}

INSTANTIATE_TEST_SUITE_P(
    Models, ModelLinkTest,
    testing::Values(TModelCase{0, Bytes("SwItChUp"), 115200, "4D58:0:20000:Programmer (7100-050)\n"},
                    TModelCase{1, PfCommand("1010"), 19200, "4D58:800:4800:Morvex 3810\n"},
                    TModelCase{2, PfCommand("1020"), 19200, "4D58:800:4800:Morvex 3810 Display\n"},
                    TModelCase{3, PfCommand("1010"), 19200, "4D58:800:7800:Morvex 4620\n"},
                    TModelCase{4, PfCommand("1070"), 19200, "4D58:800:7800:Morvex 4650\n"},
                    TModelCase{5, PfCommand("1010"), 57600, "4D58:1000:1F000:Morvex 7100\n"},
                    TModelCase{6, PfCommand("1040"), 57600, "4D58:1000:1F000:Dexa DW4710\n"},
                    TModelCase{7, PfCommand("1010"), 57600, "4D58:1000:1F000:Morvex 7300\n"},
                    TModelCase{8, PfCommand("1030"), 57600, "4D58:1000:1F000:Morvex 7310\n"},
                    TModelCase{9, PfCommand("1060"), 57600, "4D58:1000:1F000:Morvex 7330\n"},
                    TModelCase{10, PfCommand("1050"), 19200, "4D58:800:7800:Morvex 4621\n"},
                    TModelCase{11, PfCommand("1080"), 57600, "4D58:1000:1F000:Morvex 8200\n"},
                    TModelCase{12, PfCommand("1090"), 57600, "4D58:1000:1F000:Morvex 8400\n"},
                    TModelCase{13, PfCommand("1100"), 57600, "4D58:1000:1F000:Calmont CRX330/CRX340\n"},
                    TModelCase{14, TBytes{}, 57600, "4D58:1000:1F000:Morvex 3840\n"}),
    [](const testing::TestParamInfo<TModelCase>& info) { return "Type" + std::to_string(info.param.UnitType); });

TEST(ModelLink, AnotherModelsCommandGetsNoReply)
{
    TUnitSimOptions options;
    options.UnitType = 2; // answers PF1020 only
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    EXPECT_TRUE(host.Transact(PfCommand("1010"), 8, kSilentMs).empty());
    EXPECT_TRUE(host.Transact(Bytes("SwItChUp"), 8, kSilentMs).empty());
    EXPECT_EQ(host.Transact(PfCommand("1020"), 8), Bytes("SwItChUp"));
}

TEST(ModelLink, CommandSplitOverWritesAndAfterJunkIsStillHeard)
{
    TUnitSim sim(TUnitSimOptions{});
    THostLine host(sim.PortPath());
    host.Purge();
    host.Write(Bytes("xyz\x02PF1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    host.Write(Bytes("010\x03"));
    EXPECT_EQ(host.Read(8, 1000), Bytes("SwItChUp"));
    const auto junk = FindFrame(sim, "unrecognised bytes");
    ASSERT_TRUE(junk.has_value());
    EXPECT_EQ(junk->Plain, Bytes("xyz"));
}

TEST(ModelLink, SettingsAndIdentityNameAndSeedAreTheOptions)
{
    TUnitSimOptions options;
    options.ChecksumSeed = 0x0012;
    options.IdentityName = "Bench unit";
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    ASSERT_TRUE(host.LinkUp(PfCommand("1010"), 19200));
    EXPECT_EQ(IdentityText(host.TransactScrambled(Bytes("IDEN"), 40)), "12:800:7800:Bench unit\n");
}

TEST(Type14, FirmwareAnswersThePurgeNotBytes)
{
    TUnitSimOptions options;
    options.UnitType = 14;
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    host.Write(Bytes("SwItChUp")); // no purge before it
    EXPECT_TRUE(host.Read(8, kSilentMs).empty());
    host.Purge();
    EXPECT_EQ(host.Read(8, 1000), Bytes("SwItChUp"));
    EXPECT_TRUE(HasEventContaining(sim, "host purges its input"));
}

TEST(Type14, SecondPurgeWhileGettingReadyIsAnsweredAgain)
{
    // A host purges on opening and again before it reads: the reply that the
    // first purge drew must not be lost to the second.
    TUnitSimOptions options;
    options.UnitType = 14;
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    host.Purge();
    ASSERT_TRUE(sim.WaitForFrame("connect reply", 1000));
    host.Purge();
    EXPECT_EQ(host.Read(8, 1000), Bytes("SwItChUp"));
    std::this_thread::sleep_for(kConnectPause);
    EXPECT_EQ(host.ChangeSpeed(57600), Bytes("ABCDE"));
}

TEST(Type14, BootOnlyFirmwareIgnoresThePurge)
{
    TUnitSimOptions options;
    options.UnitType = 14;
    options.FirmwareAnswersUserCommand = false;
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    host.Purge();
    EXPECT_TRUE(host.Read(8, kSilentMs).empty());
}

TEST(BootLoader, AnswersTheConnectWordOnlyAfterAnOperatorReset)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    EXPECT_TRUE(host.Transact(PfCommand("1010"), 8, kSilentMs).empty());
    EXPECT_TRUE(host.Transact(Bytes("SwItChUp"), 8, kSilentMs).empty());
    sim.OperatorReset();
    ASSERT_TRUE(sim.WaitForState(usBootLoader, 1000));
    EXPECT_TRUE(host.Transact(PfCommand("1010"), 8, kSilentMs).empty()); // the loader knows the connect word only
    EXPECT_EQ(host.Transact(Bytes("SwItChUp"), 8), Bytes("SwItChUp"));
    EXPECT_EQ(host.ChangeSpeed(19200), Bytes("ABCDE"));
}

TEST(BootLoader, OperatorResetsAfterTheChosenNumberOfConnectWords)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    options.AutoResetAfterConnectWords = 3;
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    for (int attempt = 1; attempt <= 3; ++attempt)
        EXPECT_TRUE(host.Transact(Bytes("SwItChUp"), 8, 100).empty()) << "attempt " << attempt;
    EXPECT_EQ(host.Transact(Bytes("SwItChUp"), 8), Bytes("SwItChUp"));
    EXPECT_EQ(CountFrames(sim, "running firmware ignores the connect word"), 3);
    EXPECT_TRUE(HasEventContaining(sim, "operator resets the unit (automatic)"));
}

TEST(BootLoader, ResetBeforeTheFirstConnectWordWithZero)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    options.AutoResetAfterConnectWords = 0;
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    EXPECT_EQ(host.Transact(Bytes("SwItChUp"), 8), Bytes("SwItChUp"));
}

TEST(BootLoader, ResetSurvivesTheHostReopeningItsPort)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    TUnitSim sim(options);
    sim.OperatorReset();
    ASSERT_TRUE(sim.WaitForState(usBootLoader, 1000));
    THostLine host(sim.PortPath());
    host.Open(9600); // close and reopen, as a settings copy does
    EXPECT_EQ(host.Transact(Bytes("SwItChUp"), 8), Bytes("SwItChUp"));
}

TEST(BootLoader, ProgrammerFirmwareTakesTheConnectWordAsItsCommand)
{
    TUnitSimOptions options;
    options.UnitType = 0;
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    EXPECT_EQ(host.Transact(Bytes("SwItChUp"), 8), Bytes("SwItChUp"));
    EXPECT_TRUE(sim.WaitForState(usSpeedWait, 1000));
}

TEST(SpeedChange, BytesOnTheLineFollowTheRunningCounter)
{
    TUnitSimOptions options;
    options.UnitType = 5;
    TUnitSim sim(options);
    THostLine host(sim.PortPath());
    ASSERT_EQ(host.Transact(PfCommand("1010"), 8), Bytes("SwItChUp"));

    // Raw bytes, scrambled by hand: counter 0 and 1 for the request.
    host.Purge();
    host.Write({0x44, 0x04});
    const TBytes r = host.Read(1, 500);
    ASSERT_EQ(r, TBytes{192 ^ 0x02});
    const uint8_t divisor = HostDivisor(192, 9600, 57600);
    EXPECT_EQ(divisor, 32);
    host.Write({static_cast<uint8_t>(divisor ^ 0x03)});
    host.Open(57600);
    host.Write({0x45, 0x47, 0x45, 0x43, 0x4D});
    EXPECT_EQ(host.Read(5, 500), TBytes(5, 0x48));
    host.Write({0x47, 0x4B, 0x55, 0x5F});
    const TBytes identity = host.Read(40, 500);
    ASSERT_EQ(identity.size(), 40u);
    for (size_t i = 0; i < identity.size(); ++i) {
        const char expected = i < 27 ? "4D58:1000:1F000:Morvex 7100"[i] : (i == 27 ? '\n' : '\0');
        EXPECT_EQ(identity[i] ^ (18 + i), static_cast<uint8_t>(expected)) << "byte " << i;
    }

    const auto request = FindFrame(sim, "speed-change request");
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->Plain, (TBytes{0x44, 0x05}));
    EXPECT_EQ(request->Line, (TBytes{0x44, 0x04}));
    EXPECT_EQ(request->BitRate, 9600u);
    const auto echo = FindFrame(sim, "speed-change echo");
    ASSERT_TRUE(echo.has_value());
    EXPECT_EQ(echo->BitRate, 57600u);
}

TEST(SpeedChange, CounterRunsOnAcrossManyFrames)
{
    TUnitSim sim(TUnitSimOptions{});
    THostLine host(sim.PortPath());
    ASSERT_TRUE(host.LinkUp(PfCommand("1010"), 19200));
    // Eight identity exchanges take the counter past 255 and round again.
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(IdentityText(host.TransactScrambled(Bytes("IDEN"), 40)), "4D58:800:7800:Morvex 4620\n") << i;
    EXPECT_EQ(host.Counter(), static_cast<uint8_t>(14 + 8 * 44));
}

TEST(SpeedChange, WrongDivisorIsAnsweredWithGarbage)
{
    TUnitSim sim(TUnitSimOptions{});
    THostLine host(sim.PortPath());
    ASSERT_EQ(host.Transact(PfCommand("1010"), 8), Bytes("SwItChUp"));
    host.ResetCounter();
    ASSERT_EQ(host.TransactScrambled({0x44, 0x05}, 1), TBytes{192});
    host.SendScrambled({static_cast<uint8_t>(HostDivisor(192, 9600, 19200) + 1)});
    host.Open(19200);
    const TBytes echo = host.TransactScrambled(Bytes("ABCDE"), 5);
    EXPECT_EQ(echo.size(), 5u);
    EXPECT_NE(echo, Bytes("ABCDE"));
    EXPECT_TRUE(HasEventContaining(sim, "divisor 97 does not fit"));
    EXPECT_TRUE(sim.WaitForState(usLost, 1000));
    EXPECT_TRUE(host.TransactScrambled(Bytes("IDEN"), 40, kSilentMs).empty());
}

TEST(SpeedChange, HostThatStaysAtTheConnectRateGetsGarbage)
{
    TUnitSim sim(TUnitSimOptions{});
    THostLine host(sim.PortPath());
    ASSERT_EQ(host.Transact(PfCommand("1010"), 8), Bytes("SwItChUp"));
    const TBytes echo = host.ChangeSpeed(19200, 9600);
    EXPECT_EQ(echo.size(), 5u);
    EXPECT_NE(echo, Bytes("ABCDE"));
    EXPECT_TRUE(HasEventContaining(sim, "check heard at 9600 bit/s, the loader runs at 19200"));
}

TEST(SpeedChange, HostSwitchingToAnotherRateThanTheModelsFails)
{
    TUnitSim sim(TUnitSimOptions{}); // a 4620 programs at 19200
    THostLine host(sim.PortPath());
    ASSERT_EQ(host.Transact(PfCommand("1010"), 8), Bytes("SwItChUp"));
    EXPECT_NE(host.ChangeSpeed(57600), Bytes("ABCDE"));
    EXPECT_TRUE(HasEventContaining(sim, "does not fit"));
}

TEST(SpeedChange, FirmwareListensAtTheConnectRateOnly)
{
    TUnitSim sim(TUnitSimOptions{});
    THostLine host(sim.PortPath(), 19200);
    EXPECT_TRUE(host.Transact(PfCommand("1010"), 8, kSilentMs).empty());
    EXPECT_TRUE(HasEventContaining(sim, "host talks at 19200 bit/s, the unit listens at 9600"));
    host.SetRate(9600);
    EXPECT_EQ(host.Transact(PfCommand("1010"), 8), Bytes("SwItChUp"));
}

TEST(SpeedChange, AnyConnectRateWhenAskedAndTheDivisorFollowsIt)
{
    TUnitSimOptions options;
    options.ConnectRate = 0;
    TUnitSim sim(options);
    THostLine host(sim.PortPath(), 4800);
    ASSERT_EQ(host.Transact(PfCommand("1010"), 8), Bytes("SwItChUp"));
    EXPECT_EQ(host.ChangeSpeed(19200), Bytes("ABCDE")); // divisor 48 for 4800 -> 19200
    const auto divisor = FindFrame(sim, "divisor");
    ASSERT_TRUE(divisor.has_value());
    EXPECT_EQ(divisor->Plain, TBytes{48});
}

TEST(SpeedChange, RepeatedCommandBeforeTheRequestIsAnsweredAgain)
{
    TUnitSim sim(TUnitSimOptions{});
    THostLine host(sim.PortPath());
    ASSERT_EQ(host.Transact(PfCommand("1010"), 8), Bytes("SwItChUp"));
    EXPECT_EQ(host.Transact(PfCommand("1010"), 8), Bytes("SwItChUp"));
    EXPECT_EQ(host.ChangeSpeed(19200), Bytes("ABCDE"));
}

TEST(Runs, ResetReturnsToFirmwareForTheNextRun)
{
    TUnitSim sim(TUnitSimOptions{});
    THostLine host(sim.PortPath());
    ASSERT_TRUE(host.LinkUp(PfCommand("1010"), 19200));
    host.SendScrambled(Bytes("RSET"));
    ASSERT_TRUE(sim.WaitForState(usFirmware, 1000));
    host.Open(9600);
    EXPECT_TRUE(host.LinkUp(PfCommand("1010"), 19200));
}

TEST(Runs, HostClosingDuringALinkReturnsToFirmware)
{
    TUnitSim sim(TUnitSimOptions{});
    THostLine host(sim.PortPath());
    ASSERT_TRUE(host.LinkUp(PfCommand("1010"), 19200));
    host.SendScrambled(Bytes("PROG")); // abandoned in the middle of a command
    host.Open(9600);                   // close and reopen at once: a new run
    EXPECT_TRUE(host.LinkUp(PfCommand("1010"), 19200));
}

TEST(Runs, HostClosingTwiceInTheSpeedChangeGivesUp)
{
    TUnitSim sim(TUnitSimOptions{});
    THostLine host(sim.PortPath());
    ASSERT_EQ(host.Transact(PfCommand("1010"), 8), Bytes("SwItChUp"));
    host.ResetCounter();
    ASSERT_EQ(host.TransactScrambled({0x44, 0x05}, 1), TBytes{192});
    host.SendScrambled({HostDivisor(192, 9600, 19200)});
    host.Open(19200); // the speed change's reopen: the loader waits on
    ASSERT_TRUE(sim.WaitForState(usEchoWait, 1000));
    host.Close(); // and the host gives up
    ASSERT_TRUE(sim.WaitForState(usFirmware, 1000));
    host.Open(9600);
    EXPECT_TRUE(host.LinkUp(PfCommand("1010"), 19200));
}

} // namespace
