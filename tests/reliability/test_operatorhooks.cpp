// The one door from the layers below the run to its operator: the guard
// that installs the operator's hooks nests and restores, a run installs its
// operator's for its own span only, and a keep-alive failure between steps
// reaches the operator and the run's report.
#include "runfixture.h"

#include "core/operatorhooks.h"
#include "target/flashtarget.h"
#include "tests/support/waits.h"

#include <QTimer>
#include <typeinfo>

namespace {

const char* const Timeout = "No Reply Within Time Out Period";

class TNamedHooks : public TOperatorHooks {
public:
    TUserPrompt* CreatePrompt(QObject* owner) override
    {
        ++Prompts;
        return new TUserPrompt(owner);
    }
    void BackgroundFailure(const std::exception& failure) override { Failures.push_back(failure.what()); }
    int Prompts = 0;
    std::vector<std::string> Failures;
};

// A prompt only this operator makes, so that a test can tell whose prompt a
// flash target got.
class TMarkedPrompt : public TUserPrompt {
public:
    using TUserPrompt::TUserPrompt;
};

class TMarkingOperator : public TScriptedOperator {
public:
    using TScriptedOperator::TScriptedOperator;
    TUserPrompt* CreatePrompt(QObject* owner) override
    {
        ++Prompts;
        return new TMarkedPrompt(owner);
    }
    int Prompts = 0;
};

TEST(OperatorHooks, GuardsNestAndEachRestoresTheHooksBeforeIt)
{
    TOperatorHooks* const none = &InstalledOperatorHooks();
    TNamedHooks outer;
    TNamedHooks inner;
    {
        const TOperatorHooksScope first(outer);
        EXPECT_EQ(&InstalledOperatorHooks(), &outer);
        {
            const TOperatorHooksScope second(inner);
            EXPECT_EQ(&InstalledOperatorHooks(), &inner);
            QObject owner;
            InstalledOperatorHooks().CreatePrompt(&owner);
            InstalledOperatorHooks().BackgroundFailure(Exception("inner"));
        }
        EXPECT_EQ(&InstalledOperatorHooks(), &outer);
        InstalledOperatorHooks().BackgroundFailure(Exception("outer"));
    }
    EXPECT_EQ(&InstalledOperatorHooks(), none);
    EXPECT_EQ(inner.Prompts, 1);
    EXPECT_EQ(inner.Failures, std::vector<std::string>{"inner"});
    EXPECT_EQ(outer.Prompts, 0);
    EXPECT_EQ(outer.Failures, std::vector<std::string>{"outer"});
}

TEST(OperatorHooks, WithoutAGuardThePromptIsSilentAndFailuresGoToStandardError)
{
    QObject owner;
    TUserPrompt* prompt = InstalledOperatorHooks().CreatePrompt(&owner);
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(typeid(*prompt), typeid(TUserPrompt));
    EXPECT_EQ(prompt->parent(), &owner);
    ::testing::internal::CaptureStderr();
    InstalledOperatorHooks().BackgroundFailure(Exception(Timeout));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string(Timeout) + "\n");
}

using RunHooks = RunTest;

TEST_F(RunHooks, TheRunInstallsItsOperatorForItsSpanOnly)
{
    StartUnit(UnitOptions());
    TOperatorHooks* const none = &InstalledOperatorHooks();
    TMarkingOperator runOperator(DemoRecord(), DemoDigest());
    runOperator.Answers.PortPath = Unit->Terminal();
    bool installedDuringRun = false;
    runOperator.OnStep = [&](TRunStep) { installedDuringRun = &InstalledOperatorHooks() != none; };

    EXPECT_TRUE(runOperator.Execute().Succeeded);
    EXPECT_TRUE(installedDuringRun);
    EXPECT_EQ(runOperator.Prompts, 1); // the user method's target
    EXPECT_EQ(&InstalledOperatorHooks(), none);

    // A run that fails to connect keeps its target until the next run; the
    // target's prompt is the operator's, and nothing stays installed either.
    runOperator.Answers.PortPath = "/dev/morvex-no-such-port";
    EXPECT_EQ(runOperator.Execute().Kind, TFailureKind::Cancelled); // the boot method declined
    EXPECT_EQ(&InstalledOperatorHooks(), none);
    ASSERT_NE(runOperator.Run().Flash(), nullptr);
    EXPECT_NE(dynamic_cast<TMarkedPrompt*>(runOperator.Run().Flash()->ConnectInfo().Prompt), nullptr);
    QObject owner;
    TUserPrompt* prompt = InstalledOperatorHooks().CreatePrompt(&owner);
    EXPECT_EQ(typeid(*prompt), typeid(TUserPrompt));
    EXPECT_EQ(runOperator.Prompts, 2);
}

TEST_F(RunHooks, AKeepAliveFailureBetweenStepsReachesTheOperatorAndTheReport)
{
    TUnitSimOptions options = UnitOptions();
    // Identity replies: 0 the link's ping, 1 the connection's check, 2 the
    // keep-alive's query while the operator dwells before the image check.
    options.Faults = {TUnitFault{fkSilence, fpIdentity, 2, {}, std::nullopt}};
    StartUnit(options);
    TScriptedOperator& runOperator = OperatorFor();
    runOperator.Answers.PortPath = Unit->Terminal();
    size_t heardDuringStep = 0;
    runOperator.OnStep = [&](TRunStep step) {
        if (step != TRunStep::Check) return;
        // An operator whose event loop runs between steps (a window does)
        // lets the keep-alive query the unit.
        runOperator.Run().Flash()->Device()->KeepAliveTimer()->setInterval(30);
        WaitUntil([&] { return !runOperator.BackgroundFailures().empty(); }, 3000);
        heardDuringStep = runOperator.BackgroundFailures().size();
    };

    const TRunOutcome outcome = RunOnce();
    EXPECT_EQ(heardDuringStep, 1u);
    EXPECT_EQ(runOperator.BackgroundFailures(), std::vector<std::string>{Timeout});
    EXPECT_EQ(runOperator.Report().BackgroundFailures, std::vector<std::string>{Timeout});
    // The unit answers the next query again: the run goes on to its end.
    EXPECT_TRUE(outcome.Succeeded) << outcome.Message;
    Unit->ExpectDemoAreaProgrammed();
    ExpectPortReleased();

    // The next run's report starts without it.
    runOperator.OnStep = nullptr;
    StartUnit(UnitOptions());
    EXPECT_TRUE(RunOnce().Succeeded);
    EXPECT_TRUE(runOperator.Report().BackgroundFailures.empty());
}

} // namespace
