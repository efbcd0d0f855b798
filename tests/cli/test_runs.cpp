// Whole runs of the real program without a terminal, as a bench script
// starts it, against the simulated unit on a pseudo-terminal: the user
// method, the boot method, every kind of failure with its message and exit
// status, and Ctrl-C in the middle of a run.
#include "clifixture.h"

#include <csignal>

namespace {
const std::string Success = "Unit Successfully Programmed!";
const std::string Cancelled = "Connect Cancelled by User";

class CliRun : public CliTest {};

TEST_F(CliRun, ProgramsTheUnitByTheUserMethodWithOnePlainLinePerStep)
{
    TUnitSim& unit = StartUnit();
    const TCliResult result =
        RunCli(RunArguments(unit, {"--baud", "9600", "--data-bits", "8", "--stop-bits", "1", "--parity", "none"}));
    ASSERT_EQ(result.ExitCode, ecSuccess) << result.Out << result.Err;
    EXPECT_EQ(result.Err, "");
    EXPECT_TRUE(FlashHoldsTheImage(unit));
    EXPECT_EQ(LockPort(unit.PortPath()), "");

    // No terminal: nothing is rewritten in place, and each step that talks
    // to the unit or handles the image has its line, in the run's order.
    EXPECT_EQ(result.Out.find('\r'), std::string::npos);
    const std::vector<std::string> lines = Lines(result.Out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), Success);
    std::vector<std::string> steps;
    for (const std::string& line : lines)
        if (line.find(": ") != std::string::npos && line.rfind("Port ", 0) != 0)
            steps.push_back(line.substr(0, line.find(':')));
    EXPECT_EQ(steps,
              (std::vector<std::string>{"connect-user", "decipher", "check", "erase", "program", "verify", "reset"}));
    // The program and verify lines count the image's bytes.
    const std::string size = std::to_string(ModelFlashSize(ImageUnitType()));
    for (const std::string& line : lines)
        if (line.rfind("program:", 0) == 0 || line.rfind("verify:", 0) == 0) {
            EXPECT_NE(line.find(" 100% " + size + "/" + size + " bytes"), std::string::npos) << line;
        }
}

TEST_F(CliRun, QuietPrintsOnlyTheOutcome)
{
    TUnitSim& unit = StartUnit();
    const TCliResult result = RunCli(RunArguments(unit, {"--quiet"}));
    EXPECT_EQ(result.ExitCode, ecSuccess);
    EXPECT_EQ(result.Out, Success + "\n");
    EXPECT_EQ(result.Err, "");
    EXPECT_TRUE(FlashHoldsTheImage(unit));
}

TEST_F(CliRun, AReaderThatGoesAwayDoesNotEndTheRun)
{
    TUnitSim& unit = StartUnit();
    TCliChild child(RunArguments(unit));
    child.CloseOutput(); // like a pipe into head that has had its line
    const TCliResult result = child.Wait();
    EXPECT_EQ(result.ExitCode, ecSuccess) << result.Err;
    EXPECT_TRUE(FlashHoldsTheImage(unit));
}

TEST_F(CliRun, TheConnectionOptionsReachTheLine)
{
    // A unit whose firmware listens at 19200 bit/s hears nothing it knows
    // at the default 9600.
    TUnitSimOptions options;
    options.ConnectRate = 19200;
    TUnitSim& unit = StartUnit(options);
    const TCliResult atDefault = RunCli(RunArguments(unit, {"--quiet"}));
    EXPECT_EQ(atDefault.ExitCode, ecCancelled) << atDefault.Err;
    EXPECT_TRUE(FlashIsErased(unit));

    const TCliResult atOption = RunCli(RunArguments(unit, {"--baud", "19200"}));
    EXPECT_EQ(atOption.ExitCode, ecSuccess) << atOption.Out << atOption.Err;
    EXPECT_NE(atOption.Out.find("19200 bit/s, 8 data bits, 1 stop bit, parity None"), std::string::npos);
    EXPECT_TRUE(FlashHoldsTheImage(unit));
}

TEST_F(CliRun, WithYesTheBootMethodProgramsAUnitWhoseFirmwareIgnoresTheCommand)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    options.AutoResetAfterConnectWords = 0; // the operator resets the unit at once
    TUnitSim& unit = StartUnit(options);
    const TCliResult result = RunCli(RunArguments(unit, {"--yes"}));
    ASSERT_EQ(result.ExitCode, ecSuccess) << result.Out << result.Err;
    EXPECT_NE(result.Out.find("User Connect Method Failed (No reply to start command). Try Boot Method? yes (--yes)"),
              std::string::npos)
        << result.Out;
    EXPECT_NE(result.Out.find("Reset the Unit\n"), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find("connect-boot: "), std::string::npos);
    EXPECT_TRUE(FlashHoldsTheImage(unit));
}

TEST_F(CliRun, WithoutATerminalOrYesTheBootMethodIsRefusedAndTheMessageSaysHowToAllowIt)
{
    TUnitSimOptions options;
    options.FirmwareAnswersUserCommand = false;
    options.AutoResetAfterConnectWords = 0;
    TUnitSim& unit = StartUnit(options);
    const TCliResult result = RunCli(RunArguments(unit));
    EXPECT_EQ(result.ExitCode, ecCancelled);
    EXPECT_EQ(Lines(result.Err),
              (std::vector<std::string>{"User Connect Method Failed (No reply to start command). Try Boot Method? no",
                                        Cancelled, "(no terminal to ask: pass --yes to allow the boot method)"}));
    EXPECT_TRUE(FlashIsErased(unit));
    EXPECT_EQ(LockPort(unit.PortPath()), "");
}

// What the unit's flash holds after a failure.
enum TFlashAfter {
    faErased,     // nothing was written
    faPartly,     // programming began and did not end
    faProgrammed, // the image was written; reading it back failed
};

// One kind of failure: how to provoke it, and how the program must end.
struct TFailureCase {
    const char* Name;
    std::vector<std::string> Faults; // in the simulator's text form
    std::vector<std::string> Extra;  // further arguments
    int ExitCode;
    std::vector<std::string> Message; // the last lines of standard error
    TFlashAfter Flash;
    bool BootCapable = false; // the unit resets itself into its loader when asked for the boot method
    uint16_t Seed = kDemoChecksumSeed;
};

void PrintTo(const TFailureCase& c, std::ostream* out) { *out << c.Name; }

const TFailureCase FailureCases[] = {
    {"NoReplyWhileChecking", {"silence@identity#2"}, {}, ecNoReply, {"No Reply Within Time Out Period"}, faErased},
    {"AnotherModelAnswers",
     {"wrong-size@identity"},
     {"--yes"},
     ecUnitIdentity,
     {"Flash uP does not match definition"},
     faErased,
     true},
    {"ChecksumSeedDoesNotFit",
     {},
     {},
     ecImageInvalid,
     {"Flash and Image Checksums don't match"},
     faErased,
     false,
     uint16_t(kDemoChecksumSeed + 1)},
    // The identity passed at connect; at the image check the line spoils
    // its reply (one wrong byte, noise before it): a line fault, not a
    // wrong unit or a bad image, with the message the check gives.
    {"IdentitySpoiledWhileChecking",
     {"wrong@identity#2"},
     {},
     ecNoReply,
     {"Flash and Image Checksums don't match"},
     faErased},
    {"NoiseBeforeTheIdentityWhileChecking",
     {"noise@identity#2"},
     {},
     ecNoReply,
     {"Bad Device Identity String"},
     faErased},
    // The last byte of the speed change's "ABCDE" echo counts as much as the first.
    {"SpeedEchoSpoiledInItsLastByte",
     {"wrong@speed-echo:last"},
     {},
     ecCancelled,
     {Cancelled, "(no terminal to ask: pass --yes to allow the boot method)"},
     faErased},
    {"EraseFails", {"wrong@erase=%"}, {}, ecEraseFailed, {"Erase Failed: Device Failure"}, faErased},
    {"ProgramBlockAnsweredWrongly",
     {"wrong@program-block#3"},
     {},
     ecProgramFailed,
     {"Write Failed: Unexpected response"},
     faPartly},
    {"ReadBlockNeverComes", {"silence@read-block#5"}, {}, ecReadFailed, {"Read Failed: No reply"}, faProgrammed},
    {"ReadBackDiffers",
     {"wrong@read-block#100"},
     {},
     ecVerifyDifference,
     // The block's first byte spoiled; the address counts from the area's start.
     // The next line names the flash address: the area starts at 0x800.
     {"Verify:", "Found 1 discrepencies starting at address 0xC80.", "Differing bytes: 1, at flash address 0x1480"},
     faProgrammed},
};

class CliFailure : public CliTest, public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(CliFailure, EndsWithItsOwnMessageAndExitCodeAndThePortReleased)
{
    const TFailureCase& c = GetParam();
    TUnitSimOptions options;
    for (const std::string& fault : c.Faults) options.Faults.push_back(ParseFault(fault));
    options.ChecksumSeed = c.Seed;
    if (c.BootCapable) options.AutoResetAfterConnectWords = 0;
    TUnitSim& unit = StartUnit(options);

    const TCliResult result = RunCli(RunArguments(unit, c.Extra));
    EXPECT_EQ(result.ExitCode, c.ExitCode) << result.Err;
    const std::vector<std::string> lines = Lines(result.Err);
    ASSERT_GE(lines.size(), c.Message.size()) << result.Err;
    EXPECT_EQ(std::vector<std::string>(lines.end() - long(c.Message.size()), lines.end()), c.Message) << result.Err;
    EXPECT_EQ(result.Out.find("Successfully"), std::string::npos);
    EXPECT_EQ(LockPort(unit.PortPath()), "");
    EXPECT_EQ(FlashIsErased(unit), c.Flash == faErased);
    EXPECT_EQ(FlashHoldsTheImage(unit), c.Flash == faProgrammed);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CliFailure, ::testing::ValuesIn(FailureCases),
                         [](const ::testing::TestParamInfo<TFailureCase>& info) { return info.param.Name; });

TEST_F(CliRun, APortThatCannotBeOpenedIsAPortErrorWithThePortsMessageAndNoBootQuestion)
{
    const std::string missing = Scratch() + "/no-such-adapter";
    const std::string message = PortOpenMessage(missing);
    ASSERT_EQ(message.rfind("Unable to open com port (win error code: 2)", 0), 0u) << message;
    const TCliResult result = RunCli({"--port", missing, "--yes"});
    EXPECT_EQ(result.ExitCode, ecPortError);
    EXPECT_EQ(Lines(result.Err), Lines(message));
    EXPECT_EQ(result.Out.find("Try Boot Method"), std::string::npos) << result.Out;
}

TEST_F(CliRun, CtrlCDuringARunStopsItAtTheNextSafePointWithThePortReleased)
{
    TUnitSimOptions options;
    options.EraseMs = 1500;
    TUnitSim& unit = StartUnit(options);
    TCliChild child(RunArguments(unit));
    ASSERT_TRUE(unit.WaitForFrame("erase start", 30000));
    child.Signal(SIGINT);
    const TCliResult result = child.Wait();
    EXPECT_EQ(result.ExitCode, ecCancelled) << result.Out << result.Err;
    EXPECT_EQ(Lines(result.Err), (std::vector<std::string>{"Interrupted: stopping at the next safe point",
                                                           "Run interrupted: the unit may be partly programmed"}));
    EXPECT_EQ(LockPort(unit.PortPath()), "");
    // It stopped as soon as the erase was over, without restarting the unit.
    size_t blocks = 0;
    for (const TSimFrame& frame : unit.Transcript()) {
        blocks += frame.Label.rfind("program block", 0) == 0;
        EXPECT_NE(frame.Label, "reset");
    }
    EXPECT_LE(blocks, 1u);
    EXPECT_FALSE(FlashHoldsTheImage(unit));
}
}
