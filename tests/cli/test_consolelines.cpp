// What the program prints on a console beside the run: the progress line
// as a console without the line-clearing escape gets it, and the warning
// about an adapter whose latency timer will slow the read-back.
#include "cli/adapterwarning.h"
#include "cli/progressline.h"
#include "image/storedimage.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string Captured(std::FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += char(c);
    return text;
}

TEST(ProgressLineWithoutEscapes, RewritesTheLineWithBlanksOverWhatWasLonger)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    {
        TProgressLine line(out, true, false);
        line.SetClearsLines(false);
        line.BeginStep(TRunStep::Program);
        line.SetRange(0, 30720);
        line.SetPosition(15360); // "... 50% 15360/30720 bytes, ... bit/s, 0:01 left"
        line.SetText("x");       // a shorter line over the longer one
        line.Finish();
    }
    const std::string text = Captured(out);
    std::fclose(out);
    EXPECT_EQ(text.find('\033'), std::string::npos) << "a classic console would show the escape";
    // Each draw starts at the line's beginning and covers what the one
    // before left visible (its text, not the blanks after it).
    size_t previous = 0;
    int draws = 0;
    for (size_t start = text.find('\r'); start != std::string::npos; ++draws) {
        const size_t end = text.find_first_of("\r\n", start + 1);
        const size_t length = (end == std::string::npos ? text.size() : end) - start - 1;
        EXPECT_GE(length, previous) << "draw " << draws << " leaves part of the one before: " << text;
        const std::string drawn = text.substr(start + 1, length);
        previous = drawn.find_last_not_of(' ') + 1;
        if (end == std::string::npos || text[end] == '\n') break;
        start = end;
    }
    EXPECT_GE(draws, 3);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.find("program: x"), std::string::npos) << text;
}

TEST(LatencyWarning, NamesTheAdapterTheDelayAndTheRemedyAboveTwoMilliseconds)
{
    // The embedded image's model: the read-back is its flash area in the
    // protocol's blocks.
    const TReadBack readBack = ReadBackOf(StoredImage);
    ASSERT_GT(readBack.Bytes, 0u);
    EXPECT_EQ(readBack.Blocks, (readBack.Bytes + 31) / 32);

    TSerialPortFacts facts;
    facts.Description = "USB Serial Port (COM5)";
    facts.UsbVendorId = "0403";
    facts.UsbProductId = "6001";
    facts.SerialNumber = "A12345BC";
    EXPECT_EQ(LatencyWarning("COM5", facts, readBack), "") << "timer unknown";
    facts.LatencyTimerMs = 2;
    EXPECT_EQ(LatencyWarning("COM5", facts, readBack), "");
    facts.LatencyTimerMs = 16;
    const std::string warning = LatencyWarning("COM5", facts, readBack);
    const TReadBack area{30720, 960};
    for (const std::string& text :
         {std::string("COM5 (USB Serial Port (COM5), usb 0403:6001, serial A12345BC)"), std::string("16 ms"),
          std::string("Latency Timer (msec): 1"), std::string("Port Settings -> Advanced")})
        EXPECT_NE(warning.find(text), std::string::npos) << text << " in " << warning;
    // Two waits of 15 ms more than at 1 ms for each of 960 blocks: 28.8 s.
    EXPECT_NE(LatencyWarning("COM5", facts, area).find("(30720 bytes in 960 blocks) can take up to 29 s longer"),
              std::string::npos);
}

} // namespace
