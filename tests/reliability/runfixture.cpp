#include "runfixture.h"

#include "serial/devicechannel.h"
#include "target/flashtarget.h"

TUnitSimOptions RunTest::UnitOptions()
{
    TUnitSimOptions options;
    options.UnitType = 3;
    options.AutoResetAfterConnectWords = 0;
    return options;
}

void RunTest::StartUnit(const TUnitSimOptions& options)
{
    Unit = std::make_unique<TTestUnit>(options);
    Unit->LoadFlash(0, OldFirmware());
}

TScriptedOperator& RunTest::OperatorFor(const TStoredImage& record, const TImageDigest& digest)
{
    if (!Operator) Operator = std::make_unique<TScriptedOperator>(record, digest);
    return *Operator;
}

TRunOutcome RunTest::RunOnce(const TStoredImage& record, const TImageDigest& digest)
{
    TScriptedOperator& runOperator = OperatorFor(record, digest);
    runOperator.Answers.PortPath = Unit->Terminal();
    return runOperator.Execute();
}

void RunTest::TearDown()
{
    if (HasFailure() && Unit) std::fprintf(stderr, "Unit transcript (tail):\n%s", Unit->DescribeTail(40).c_str());
    Operator.reset();
    Unit.reset();
}

void RunTest::ExpectPortReleased()
{
    Unit->ExpectPortReleased();
    // A run that failed to connect keeps its target until the next run.
    if (Operator && Operator->Run().Flash()) {
        EXPECT_FALSE(Operator->Run().Flash()->Device()->Channel()->Connected());
    }
}

void RunTest::ExpectNoKeepAliveFailure()
{
    ASSERT_TRUE(Operator);
    EXPECT_TRUE(Operator->BackgroundFailures().empty()) << Operator->BackgroundFailures().front();
}
