// Runs of the real program on a terminal of its own (a pseudo-terminal as
// its standard input, output and error): the cabling page waits for Enter,
// the boot question waits for y or n, and Ctrl-C typed on the terminal
// cancels the question, the page or the operator prompt.
#include "clifixture.h"

#include "run/wizardpage.h"

namespace {
const std::string PressEnter = "Press Enter to go on (Ctrl-C cancels): ";
const std::string Question = "User Connect Method Failed (No reply to start command). Try Boot Method? [y/N] ";

class CliTerminal : public CliTest {
protected:
    // A unit whose firmware ignores the command: only the boot method, with
    // the operator's reset, connects.
    TUnitSim& StartBootOnlyUnit()
    {
        TUnitSimOptions options;
        options.FirmwareAnswersUserCommand = false;
        return StartUnit(options);
    }
};

TEST_F(CliTerminal, TheOperatorGoesOnAtTheCablingPageAnswersYesAndResetsTheUnit)
{
    TUnitSim& unit = StartBootOnlyUnit();
    TTerminalChild child(RunArguments(unit));
    ASSERT_TRUE(child.WaitFor(PressEnter)) << child.Shown();
    // The page is the model's own, line by line.
    const std::optional<TWizardPage> page = WizardPage(ImageUnitType());
    ASSERT_TRUE(page.has_value());
    for (const std::string& line : page->Lines)
        if (!line.empty()) {
            EXPECT_NE(child.Shown().find(line + "\r\n"), std::string::npos) << line;
        }
    EXPECT_TRUE(UnitSawNothing(unit)); // nothing reaches the unit before Enter
    child.Type("\r");

    ASSERT_TRUE(child.WaitFor(Question)) << child.Shown();
    child.Type("y\r");
    ASSERT_TRUE(child.WaitFor("Reset the Unit (waiting for the unit; Ctrl-C cancels)")) << child.Shown();
    unit.OperatorReset();
    const TCliResult result = child.Wait();
    EXPECT_EQ(result.ExitCode, ecSuccess) << result.Out;
    EXPECT_TRUE(FlashHoldsTheImage(unit));
    EXPECT_NE(result.Out.find("Unit Successfully Programmed!"), std::string::npos);
    // On a terminal a step's line is rewritten in place as it goes.
    EXPECT_NE(result.Out.find("\r\033[Kprogram: Programming FLASH..."), std::string::npos);
}

TEST_F(CliTerminal, AnsweringNoCancelsWithoutTouchingTheFlash)
{
    TUnitSim& unit = StartBootOnlyUnit();
    TTerminalChild child(RunArguments(unit));
    ASSERT_TRUE(child.WaitFor(PressEnter)) << child.Shown();
    child.Type("\r");
    ASSERT_TRUE(child.WaitFor(Question)) << child.Shown();
    child.Type("maybe\r"); // asked again
    ASSERT_TRUE(child.WaitFor("Please answer y or n.")) << child.Shown();
    ASSERT_TRUE(child.WaitFor(Question)) << child.Shown();
    child.Type("n\r");
    const TCliResult result = child.Wait();
    EXPECT_EQ(result.ExitCode, ecCancelled);
    EXPECT_NE(result.Out.find("Connect Cancelled by User"), std::string::npos) << result.Out;
    EXPECT_EQ(result.Out.find("no terminal to ask"), std::string::npos);
    EXPECT_TRUE(FlashIsErased(unit));
    EXPECT_EQ(LockPort(unit.PortPath()), "");
}

TEST_F(CliTerminal, CtrlCAtTheResetPromptIsThePromptsCancel)
{
    TUnitSim& unit = StartBootOnlyUnit();
    TTerminalChild child(RunArguments(unit, {"--yes"})); // --yes: no page, no question
    ASSERT_TRUE(child.WaitFor("Reset the Unit (waiting for the unit; Ctrl-C cancels)")) << child.Shown();
    child.Type("\x03");
    const TCliResult result = child.Wait();
    EXPECT_EQ(result.ExitCode, ecCancelled);
    EXPECT_NE(result.Out.find("Interrupted: cancelling the boot method"), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find("Connect Cancelled by User"), std::string::npos) << result.Out;
    EXPECT_EQ(result.Out.find(PressEnter), std::string::npos);
    EXPECT_TRUE(FlashIsErased(unit));
    EXPECT_EQ(LockPort(unit.PortPath()), "");
}

// Ctrl-C and end of input (Ctrl-D) at the cabling page.
class CliCablingPage : public CliTerminal, public ::testing::WithParamInterface<const char*> {};

TEST_P(CliCablingPage, CancelsBeforeTheUnitIsTouched)
{
    TUnitSim& unit = StartUnit();
    TTerminalChild child(RunArguments(unit));
    ASSERT_TRUE(child.WaitFor(PressEnter)) << child.Shown();
    child.Type(GetParam());
    const TCliResult result = child.Wait();
    EXPECT_EQ(result.ExitCode, ecCancelled);
    EXPECT_NE(result.Out.find("Connect Cancelled by User"), std::string::npos) << result.Out;
    EXPECT_TRUE(UnitSawNothing(unit));
}

INSTANTIATE_TEST_SUITE_P(Keys, CliCablingPage, ::testing::Values("\x03", "\x04"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "\x03" ? "CtrlC" : "EndOfInput";
                         });
}
