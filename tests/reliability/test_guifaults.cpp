// A representative share of the fault matrix through the real main window:
// the error box shows the failure's message (with a full stop only where
// the message's last character sorts after "."), titled with the image's
// name, after the window is already back to idle; the port is closed and a
// target that connected is freed.
#include "tests/support/guirunfixture.h"

#include "serial/devicechannel.h"
#include "target/flashtarget.h"

#include <QMessageBox>

namespace {

struct TGuiScenario {
    const char* Name;
    TUnitFault Fault;
    bool BootOnly;
    const char* Question; // the failure inside the boot question, or nullptr
    bool BootYes;
    const char* ErrorBox; // the error box's text
    bool Connected;       // the run got past connecting (its target is freed)
};

std::ostream& operator<<(std::ostream& out, const TGuiScenario& s) { return out << s.Name; }

TUnitFault At(TFaultKind kind, TFramePhase phase, int index)
{
    return TUnitFault{kind, phase, index, {}, std::nullopt};
}

const TGuiScenario Scenarios[] = {
    {"UserConnectSilent", At(fkSilence, fpConnect, 0), false, "No reply to start command", false,
     "Connect Cancelled by User.", false},
    {"BootConnectAlwaysWrong", At(fkWrongReply, fpConnect, -1), true, "No reply to start command", true,
     "Unexpected reply to connect command.", false},
    {"SpeedEchoWrong", At(fkWrongReply, fpSpeedEcho, 0), false, "Acknowledge data doesn't match", true,
     "Acknowledge data doesn't match.", false},
    {"CheckSilent", At(fkSilence, fpIdentity, 2), false, nullptr, false, "No Reply Within Time Out Period.", true},
    {"CheckWrong", At(fkWrongReply, fpIdentity, 2), false, nullptr, false, "Flash and Image Checksums don't match.",
     true},
    {"CheckNoise", At(fkNoise, fpIdentity, 2), false, nullptr, false, "Bad Device Identity String.", true},
    {"EraseNoise", At(fkNoise, fpErase, 0), false, nullptr, false, "Erase Failed: Unexpected Reply.", true},
    {"ProgramMiddleHangUp", At(fkHangUp, fpProgramBlock, 120), false, nullptr, false, "Write Failed: No reply.", true},
    {"ProgramCloseWrong", At(fkWrongReply, fpProgramClose, 0), false, nullptr, false,
     "Write Failed: Unexpected response.", true},
    // Line breaks in place of the message's carriage returns; it already
    // ends in a full stop.
    {"ReadMiddleWrong", At(fkWrongReply, fpReadBlock, 480), false, nullptr, false,
     "Verify:\nFound 1 discrepencies starting at address 0x3C00.", true},
    // ")" sorts before ".": no full stop is added.
    {"ReadFirstHangUp", At(fkHangUp, fpReadBlock, 0), false, nullptr, false,
     "ReadFile function failed (win error code: 5)", true},
};

class GuiFaults : public GuiRunTest, public ::testing::WithParamInterface<TGuiScenario> {};

TEST_P(GuiFaults, TheErrorBoxShowsTheFailureAndTheWindowIsIdleWithThePortClosed)
{
    const TGuiScenario& s = GetParam();
    TUnitSimOptions options = UnitOptions();
    options.FirmwareAnswersUserCommand = !s.BootOnly;
    options.Faults.push_back(s.Fault);
    StartUnit(options);
    TOperatorAnswers script;
    script.BootYes = s.BootYes;

    const std::vector<std::string> log = RunToEnd(script);

    ASSERT_GE(log.size(), 3u) << ::testing::PrintToString(log);
    EXPECT_EQ(log[0], "wizard");
    EXPECT_EQ(log[1], "setup");
    if (s.Question) {
        EXPECT_EQ(log[2], std::string("question:User Connect Method Failed (") + s.Question + "). Try Boot Method?");
    } else {
        EXPECT_EQ(log[2].rfind("question:", 0), std::string::npos) << log[2];
    }
    EXPECT_EQ(log.back(), std::string("error:") + s.ErrorBox);
    EXPECT_EQ(Titles.back(), "4620 V2.5");
    ExpectIdle();
    Unit->ExpectPortReleased();
    if (s.Connected) {
        EXPECT_EQ(Form->Flash(), nullptr);
    } else {
        ASSERT_NE(Form->Flash(), nullptr); // kept until the next run
        EXPECT_FALSE(Form->Flash()->Device()->Channel()->Connected());
    }
    EXPECT_EQ(Unit->Flash() == OldFirmware(), !s.Connected || s.Fault.Phase == fpIdentity);
}

INSTANTIATE_TEST_SUITE_P(Reliability, GuiFaults, ::testing::ValuesIn(Scenarios),
                         [](const ::testing::TestParamInfo<TGuiScenario>& info) { return info.param.Name; });

}
