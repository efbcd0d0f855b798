// The run tells its failure kinds apart by the cause the failing code gave
// and by the step, never by the message: real failures against the
// simulated unit, each made the way an operator or a unit makes it, and the
// command line's choice not to ask about the boot method after a port error.
#include "runfixture.h"

#include "target/flashtarget.h"

namespace {

const char* const Cancelled = "Connect Cancelled by User";
const char* const NotOurUnit = "Flash uP does not match definition";
const char* const NoSuchPort = "/dev/morvex-no-such-port";

class FailureKinds : public RunTest {
protected:
    // A unit whose firmware ignores its user command and whose loader
    // answers the first connect word: only the boot method reaches it.
    static TUnitSimOptions BootOnlyUnit(uint32_t unitType = 3)
    {
        TUnitSimOptions options = UnitOptions();
        options.UnitType = unitType;
        options.FirmwareAnswersUserCommand = false;
        options.AutoResetAfterConnectWords = 0;
        return options;
    }
};

TEST_F(FailureKinds, CancellingTheResetPromptIsACancelThoughTheConnectionStepHasNoOtherCancel)
{
    TUnitSimOptions nobodyResets = BootOnlyUnit();
    nobodyResets.AutoResetAfterConnectWords = -1;
    StartUnit(nobodyResets);
    OperatorFor().Answers.BootYes = true;
    Operator->Answers.CancelPrompt = true;
    const TRunOutcome outcome = RunOnce();
    EXPECT_EQ(outcome.Kind, TFailureKind::Cancelled);
    EXPECT_EQ(outcome.Message, Cancelled);
    EXPECT_EQ(outcome.FailureClass, "EFDTException");
    ASSERT_FALSE(outcome.Steps.empty());
    EXPECT_EQ(outcome.Steps.back(), TRunStep::ConnectBoot);
    Unit->WaitForHostToLetGo();
    Unit->ExpectFlashUntouched();
    ExpectPortReleased();

    // Answering No to the question ends the same way, a step earlier.
    Operator->Answers.BootYes = false;
    const TRunOutcome declined = RunOnce();
    EXPECT_EQ(declined.Kind, TFailureKind::Cancelled);
    EXPECT_EQ(declined.Message, Cancelled);
    EXPECT_EQ(declined.Steps.back(), TRunStep::BootQuestion);
}

TEST_F(FailureKinds, AUnitOfAnotherModelIsTheWrongUnit)
{
    // The 3810 family's units, for the 4620's record: they take the same
    // speed change, and then report another area.
    for (const uint32_t unitType : {1u, 2u}) {
        SCOPED_TRACE(unitType);
        StartUnit(BootOnlyUnit(unitType));
        Operator.reset();
        OperatorFor().Answers.BootYes = true;
        const TRunOutcome outcome = RunOnce();
        EXPECT_EQ(outcome.Kind, TFailureKind::UnitIdentity);
        EXPECT_EQ(outcome.Message, NotOurUnit);
        EXPECT_EQ(outcome.FailureClass, "EHitachiFlashException");
        Unit->WaitForHostToLetGo();
        Unit->ExpectFlashUntouched();
        ExpectPortReleased();
    }
}

TEST_F(FailureKinds, APortErrorAsksAboutTheBootMethodOnlyWhenTheRunsOptionsSaySo)
{
    TScriptedOperator& runOperator = OperatorFor();
    runOperator.Answers.PortPath = NoSuchPort;
    ASSERT_TRUE(runOperator.Run().Options().AskBootAfterPortError); // the window's way

    const TRunOutcome asked = runOperator.Execute();
    const std::string portMessage = FailureInQuestion(asked.Question);
    EXPECT_FALSE(portMessage.empty()) << asked.Question;
    EXPECT_EQ(asked.Kind, TFailureKind::Cancelled); // the operator declined

    runOperator.Run().SetOptions(TRunOptions{.AskBootAfterPortError = false});
    const TRunOutcome ended = runOperator.Execute();
    EXPECT_EQ(ended.Question, "");
    EXPECT_EQ(ended.Kind, TFailureKind::PortError);
    EXPECT_EQ(ended.FailureClass, "EComPort");
    EXPECT_EQ(ended.Message, portMessage);
    ASSERT_FALSE(ended.Steps.empty());
    EXPECT_EQ(ended.Steps.back(), TRunStep::ConnectUser);
    EXPECT_NE(runOperator.Run().UserMethodFailure(), nullptr);

    // Only a port error goes without the question: a unit that ignores its
    // user command is still asked about.
    StartUnit(BootOnlyUnit());
    runOperator.Answers.PortPath = Unit->Terminal();
    const TRunOutcome unitSilent = runOperator.Execute();
    EXPECT_FALSE(FailureInQuestion(unitSilent.Question).empty()) << unitSilent.Question;
    EXPECT_EQ(unitSilent.Kind, TFailureKind::Cancelled);
}

TEST(FailureKindsByCause, AMessageTextAloneDecidesNothing)
{
    // The product's own texts, raised without their causes, are what their
    // steps make of them.
    EXPECT_EQ(ClassifyFailure(TRunStep::Erase, Exception(Cancelled)), TFailureKind::EraseFailed);
    EXPECT_EQ(ClassifyFailure(TRunStep::ConnectBoot, Exception(NotOurUnit)), TFailureKind::NoReply);
    EXPECT_EQ(ClassifyFailure(TRunStep::Erase, Exception(Cancelled, TFailureCause::Cancelled)),
              TFailureKind::Cancelled);
    EXPECT_EQ(ClassifyFailure(TRunStep::ConnectBoot, Exception(NotOurUnit, TFailureCause::WrongUnit)),
              TFailureKind::UnitIdentity);
}

} // namespace
