// One run object serves unit after unit, as the main window's Start button
// and a bench station use it: nothing the last unit left behind (a stop
// request, a failure kind, a report, the user method's failure, the
// identity it reported, whether its flash was changed) may reach the next.
#include "runfixture.h"

namespace {

const char* const NotOurUnit = "Flash uP does not match definition";

class RunReuse : public RunTest {
protected:
    // A unit whose firmware ignores the user command and whose operator
    // never resets it: only the user method is tried, and it fails.
    static TUnitSimOptions SilentUnit()
    {
        TUnitSimOptions options = UnitOptions();
        options.FirmwareAnswersUserCommand = false;
        options.AutoResetAfterConnectWords = -1;
        return options;
    }

    // The next unit on the bench, and one press of Start on it.
    TRunOutcome RunOn(const TUnitSimOptions& options)
    {
        StartUnit(options);
        return RunOnce();
    }

    // A clean success on the unit now connected, with a report of its own.
    void ExpectCleanSuccess(const TRunOutcome& outcome)
    {
        EXPECT_TRUE(outcome.Succeeded) << outcome.Message;
        EXPECT_EQ(outcome.Kind, TFailureKind::None);
        const TRunReport& report = Operator->Report();
        EXPECT_TRUE(report.Succeeded);
        EXPECT_EQ(report.Failure, TFailureKind::None);
        EXPECT_EQ(report.Message, "Unit Successfully Programmed!");
        EXPECT_EQ(report.Steps.front().Step, TRunStep::Wizard);
        EXPECT_EQ(report.Steps.back().Step, TRunStep::Reset);
        EXPECT_EQ(Operator->Run().UserMethodFailure(), nullptr);
        Unit->ExpectDemoAreaProgrammed();
    }
};

} // namespace

// A stop asked for in one run ends that run; one asked for after it ended
// (Ctrl-C between two units) is not waiting for the next.
TEST_F(RunReuse, StopRequestEndsOnlyItsOwnRun)
{
    TScriptedOperator& runOperator = OperatorFor();
    runOperator.OnStep = [&runOperator](TRunStep step) {
        if (step == TRunStep::Program) runOperator.Run().RequestStop();
    };
    const TRunOutcome stopped = RunOn(UnitOptions());
    EXPECT_EQ(stopped.Kind, TFailureKind::Interrupted);
    EXPECT_EQ(stopped.Message, "Run interrupted: the unit may be partly programmed");

    runOperator.OnStep = nullptr;
    runOperator.Run().RequestStop();
    ExpectCleanSuccess(RunOn(UnitOptions()));
    ExpectPortReleased();
}

// The first run had erased when it stopped; the second stops before its
// erase and must say that nothing on its unit was changed.
TEST_F(RunReuse, ChangedFlashIsTheLastUnitsNotTheNext)
{
    TScriptedOperator& runOperator = OperatorFor();
    TRunStep stopAt = TRunStep::Program;
    runOperator.OnStep = [&runOperator, &stopAt](TRunStep step) {
        if (step == stopAt) runOperator.Run().RequestStop();
    };
    EXPECT_EQ(RunOn(UnitOptions()).Kind, TFailureKind::Interrupted);

    stopAt = TRunStep::Decipher;
    const TRunOutcome second = RunOn(UnitOptions());
    EXPECT_EQ(second.Kind, TFailureKind::Cancelled);
    EXPECT_EQ(second.Message, "Run interrupted: nothing on the unit was changed");
    Unit->ExpectFlashUntouched();
}

// A unit that is not the image's model, then one that never answers: the
// second report names no unit, and its user-method failure is its own.
TEST_F(RunReuse, IdentityAndUserMethodFailureBelongToTheirUnit)
{
    TUnitSimOptions wrongModel = UnitOptions();
    wrongModel.Faults.push_back(TUnitFault{fkWrongSize, fpIdentity, -1, {}, std::nullopt, 0});
    const TRunOutcome first = RunOn(wrongModel);
    EXPECT_EQ(FailureInQuestion(first.Question), NotOurUnit);
    EXPECT_FALSE(Operator->Report().IdentityText.empty());

    const TRunOutcome second = RunOn(SilentUnit());
    EXPECT_EQ(second.Kind, TFailureKind::Cancelled);
    EXPECT_EQ(FailureInQuestion(second.Question), "No reply to start command");
    EXPECT_EQ(Operator->Report().IdentityText, "") << "the last unit's identity in this unit's report";
    ASSERT_NE(Operator->Run().UserMethodFailure(), nullptr);
    try {
        std::rethrow_exception(Operator->Run().UserMethodFailure());
    } catch (const std::exception& failure) {
        EXPECT_STREQ(failure.what(), "No reply to start command");
    }
    ExpectPortReleased();
}

// An identity spoiled on the line makes one unit's check a line fault; the
// next unit, whose checksum seed is really another, is the image's fault.
// A failure kind and a report never outlive their run.
TEST_F(RunReuse, FailureKindsBelongToTheirUnit)
{
    TUnitSimOptions spoiledCheck = UnitOptions();
    spoiledCheck.Faults.push_back(TUnitFault{fkWrongSize, fpIdentity, 2, {}, std::nullopt, 0});
    EXPECT_EQ(RunOn(spoiledCheck).Kind, TFailureKind::NoReply);

    TUnitSimOptions otherSeed = UnitOptions();
    otherSeed.ChecksumSeed = uint16_t(otherSeed.ChecksumSeed + 1);
    const TRunOutcome seed = RunOn(otherSeed);
    EXPECT_EQ(seed.Kind, TFailureKind::ImageInvalid);
    EXPECT_EQ(seed.Message, "Flash and Image Checksums don't match");

    TUnitSimOptions failedErase = UnitOptions();
    failedErase.Faults.push_back(TUnitFault{fkWrongReply, fpErase, 0, {}, std::nullopt, 0});
    EXPECT_EQ(RunOn(failedErase).Kind, TFailureKind::EraseFailed);
    EXPECT_EQ(Operator->Report().Failure, TFailureKind::EraseFailed);
    EXPECT_EQ(Operator->Report().Steps.back().Step, TRunStep::Erase);

    ExpectCleanSuccess(RunOn(UnitOptions()));
    ExpectPortReleased();
}
