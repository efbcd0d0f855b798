#include "runfixture.h"

#include "tests/support/processprobe.h"
#include "tests/support/unitport.h"

#include "serial/devicechannel.h"
#include "target/flashtarget.h"
#include "tools/mkimage/demofirmware.h"

#include <chrono>
#include <thread>

std::string LastHostFrame(const std::vector<TSimFrame>& frames)
{
    for (auto it = frames.rbegin(); it != frames.rend(); ++it)
        if (it->Direction == sdHostToUnit) return it->Label;
    return "";
}

size_t CountFrames(const std::vector<TSimFrame>& frames, const std::string& label)
{
    size_t count = 0;
    for (const TSimFrame& frame : frames)
        if (frame.Label == label) ++count;
    return count;
}

std::string DescribeTail(const std::vector<TSimFrame>& frames, size_t count)
{
    std::string text;
    for (size_t i = frames.size() > count ? frames.size() - count : 0; i < frames.size(); ++i)
        text += DescribeFrame(frames[i]) + "\n";
    return text;
}

TUnitSimOptions RunTest::UnitOptions()
{
    TUnitSimOptions options;
    options.UnitType = 3;
    options.AutoResetAfterConnectWords = 0;
    return options;
}

void RunTest::StartUnit(const TUnitSimOptions& options)
{
    Unit = std::make_unique<TUnitSim>(options);
    Unit->LoadFlash(0, OldFirmware());
    PortPath = Unit->PortPath();
    UnitDescriptors = DescriptorsOpenOn(PortPath);
}

TScriptedOperator& RunTest::OperatorFor(const TStoredImage& record, const TImageDigest& digest)
{
    if (!Operator) Operator = std::make_unique<TScriptedOperator>(record, digest);
    return *Operator;
}

TRunOutcome RunTest::RunOnce(const TStoredImage& record, const TImageDigest& digest)
{
    TScriptedOperator& runOperator = OperatorFor(record, digest);
    runOperator.Answers.PortPath = PortPath;
    return runOperator.Execute();
}

void RunTest::TearDown()
{
    if (HasFailure() && Unit)
        std::fprintf(stderr, "Unit transcript (tail):\n%s", DescribeTail(Unit->Transcript()).c_str());
    Operator.reset();
    Unit.reset();
}

void RunTest::WaitForHostToLetGo()
{
    // The unit handles the bytes it has read before the host's opens and
    // closes that came with them, so once it has recorded as many closes as
    // opens, and nothing more arrives for a while, it has heard everything.
    // A hung-up unit hears nothing at all.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    size_t settledSize = 0;
    auto settledSince = std::chrono::steady_clock::now();
    while (Unit->State() != usHungUp) {
        const std::vector<TSimFrame> frames = Unit->Transcript();
        int open = 0;
        for (const TSimFrame& frame : frames) {
            if (frame.Direction != sdEvent) continue;
            if (frame.Label == "host opens the port") ++open;
            if (frame.Label == "host closes the port") --open;
        }
        const auto now = std::chrono::steady_clock::now();
        if (open != 0 || frames.size() != settledSize) {
            settledSize = frames.size();
            settledSince = now;
        } else if (now - settledSince > std::chrono::milliseconds(150)) {
            return;
        }
        if (now > deadline) {
            ADD_FAILURE() << "the unit never heard the host close the port";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void RunTest::ExpectPortReleased()
{
    ExpectUnitPortReleased(*Unit, PortPath, UnitDescriptors);
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

void RunTest::ExpectAreaProgrammed()
{
    const std::vector<uint8_t>& plain = DemoPlainImage();
    const std::vector<uint8_t> flash = Unit->Flash();
    const std::vector<uint8_t> old = OldFirmware();
    EXPECT_TRUE(std::equal(plain.begin() + kDemoAreaStart, plain.end(), flash.begin() + kDemoAreaStart));
    EXPECT_TRUE(std::equal(old.begin(), old.begin() + kDemoAreaStart, flash.begin())) << "below the area";
}

void RunTest::ExpectFlashUntouched()
{
    EXPECT_EQ(CountFrames(Unit->Transcript(), "erase command"), 0u);
    EXPECT_TRUE(Unit->Flash() == OldFirmware());
}
