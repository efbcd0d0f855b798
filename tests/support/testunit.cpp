#include "tests/support/testunit.h"

#include "tests/support/processprobe.h"

#include "tests/support/records.h"
#include "tools/mkimage/demofirmware.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

std::vector<uint8_t> OldFirmware()
{
    std::vector<uint8_t> old(kSimFlashBytes);
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + 3);
    return old;
}

TTestUnit::TTestUnit(const TUnitSimOptions& options)
    : TUnitSim(options), FTerminal(PortPath()), FOwnDescriptors(DescriptorsOpenOn(FTerminal))
{
}

std::optional<TSimFrame> TTestUnit::Frame(const std::string& label, int index) const
{
    for (const TSimFrame& frame : Transcript())
        if (frame.Label == label && index-- == 0) return frame;
    return std::nullopt;
}

size_t TTestUnit::CountFrames(const std::string& label) const
{
    size_t count = 0;
    for (const TSimFrame& frame : Transcript())
        if (frame.Label == label) ++count;
    return count;
}

size_t TTestUnit::CountFramesStartingWith(const std::string& prefix) const
{
    size_t count = 0;
    for (const TSimFrame& frame : Transcript())
        if (frame.Label.rfind(prefix, 0) == 0) ++count;
    return count;
}

std::string TTestUnit::LastHostFrame() const
{
    const std::vector<TSimFrame> frames = Transcript();
    for (auto it = frames.rbegin(); it != frames.rend(); ++it)
        if (it->Direction == sdHostToUnit) return it->Label;
    return "";
}

std::string TTestUnit::DescribeTail(size_t count) const
{
    const std::vector<TSimFrame> frames = Transcript();
    std::string text;
    for (size_t i = frames.size() > count ? frames.size() - count : 0; i < frames.size(); ++i)
        text += DescribeFrame(frames[i]) + "\n";
    return text;
}

void TTestUnit::WaitForHostToLetGo() const
{
    // The unit handles the bytes it has read before the host's opens and
    // closes that came with them, so once it has recorded as many closes as
    // opens, and nothing more arrives for a while, it has heard everything.
    // A hung-up unit hears nothing at all.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    size_t settledSize = 0;
    auto settledSince = std::chrono::steady_clock::now();
    while (State() != usHungUp) {
        const std::vector<TSimFrame> frames = Transcript();
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

void TTestUnit::ExpectPortReleased() const
{
    bool hangingUp = false;
    for (const TSimFrame& frame : Transcript())
        hangingUp |= frame.Direction == sdEvent && frame.Label.rfind("hang-up", 0) == 0;
    const bool hungUp = hangingUp ? WaitForState(usHungUp, 30000) : State() == usHungUp;
    EXPECT_EQ(hungUp, hangingUp) << "the unit's hang-up did not end";
    EXPECT_EQ(DescriptorsOpenOn(FTerminal), hungUp ? 0 : FOwnDescriptors)
        << "a descriptor is still open on " << FTerminal;
    if (!hungUp) {
        EXPECT_EQ(OpenExclusively(FTerminal), "");
    }
}

void TTestUnit::ExpectDemoAreaProgrammed() const
{
    const std::vector<uint8_t>& plain = DemoPlainImage();
    const std::vector<uint8_t> flash = Flash();
    const std::vector<uint8_t> old = OldFirmware();
    ASSERT_GE(flash.size(), plain.size());
    EXPECT_TRUE(std::equal(plain.begin() + kDemoAreaStart, plain.end(), flash.begin() + kDemoAreaStart)) << "the area";
    EXPECT_TRUE(std::equal(old.begin(), old.begin() + kDemoAreaStart, flash.begin())) << "below the area";
}

void TTestUnit::ExpectFlashUntouched() const
{
    EXPECT_EQ(CountFrames("erase command"), 0u);
    EXPECT_TRUE(Flash() == OldFirmware());
}
