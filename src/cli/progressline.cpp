#include "cli/progressline.h"

#include <cstdio>

namespace {
constexpr auto RedrawInterval = std::chrono::milliseconds(250);

// What a step is doing before the protocol says, and for the steps in
// which it says nothing.
const char* StepText(TRunStep step)
{
    switch (step) {
    case TRunStep::ConnectUser:
    case TRunStep::ConnectBoot: return "Connecting...";
    case TRunStep::Decipher: return "Deciphering the image...";
    case TRunStep::Check: return "Checking the image against the unit...";
    case TRunStep::Erase: return "Erasing FLASH...";
    case TRunStep::Program: return "Programming FLASH...";
    case TRunStep::Verify: return "Reading contents of FLASH...";
    case TRunStep::Reset: return "Restarting the unit...";
    case TRunStep::Wizard:
    case TRunStep::PortSettings:
    case TRunStep::BootQuestion: break;
    }
    return nullptr;
}

std::string Printf(const char* format, auto... values)
{
    char text[128];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}
}

void TProgressLine::BeginStep(TRunStep step)
{
    Finish();
    const char* text = StepText(step);
    if (!text) return;
    FActive = true;
    FStep = step;
    FText = text;
    FCountsBytes = step == TRunStep::Program || step == TRunStep::Verify;
    FMinimum = FMaximum = FPosition = 0;
    FStepStarted = FRangeStarted = TClock::now();
    FLastPercent = -1;
    Draw(false);
}

void TProgressLine::Finish()
{
    if (!FActive) return;
    Draw(true);
    FActive = false;
}

void TProgressLine::Interject()
{
    if (!FPartialLine) return;
    std::fputc('\n', FOut);
    std::fflush(FOut);
    FPartialLine = false;
}

void TProgressLine::SetText(const std::string& text)
{
    FText = text;
    FLastPercent = -2; // a new text is always shown
    Draw(false);
}

void TProgressLine::SetRange(int minimum, int maximum)
{
    FMinimum = minimum;
    FMaximum = maximum;
    FPosition = minimum;
    FRangeStarted = TClock::now();
    FLastPercent = -1;
    Draw(false);
}

void TProgressLine::SetPosition(int position)
{
    FPosition = position;
    Draw(false);
}

std::string TProgressLine::Describe(bool final) const
{
    std::string line = std::string(RunStepName(FStep)) + ": " + FText;
    const int span = FMaximum - FMinimum;
    if (span > 0) line += Printf(" %d%%", int(int64_t(FPosition - FMinimum) * 100 / span));
    const double seconds = std::chrono::duration<double>(TClock::now() - FRangeStarted).count();
    const int done = FPosition - FMinimum;
    if (FCountsBytes && span > 0) {
        line += Printf(" %d/%d bytes", done, span);
        if (done > 0 && seconds > 0) {
            line += Printf(", %.0f bit/s", done * 8 / seconds);
            if (!final && done < span) {
                const int left = int((span - done) * seconds / done + 0.5);
                line += Printf(", %d:%02d left", left / 60, left % 60);
            }
        }
    }
    if (final) line += Printf(" in %.2f s", std::chrono::duration<double>(TClock::now() - FStepStarted).count());
    return line;
}

void TProgressLine::Draw(bool final)
{
    if (FQuiet || !FActive) return;
    if (!FOnTerminal) {
        // One plain line per step, once it is over.
        if (!final) return;
        std::fprintf(FOut, "%s\n", Describe(true).c_str());
        std::fflush(FOut);
        return;
    }
    const TClock::time_point now = TClock::now();
    const int span = FMaximum - FMinimum;
    const int percent = span > 0 ? int(int64_t(FPosition - FMinimum) * 100 / span) : -1;
    // Rewriting the line for every block would cost more than the block.
    if (!final && FPartialLine && percent == FLastPercent && now - FLastDrawn < RedrawInterval) return;
    FLastPercent = percent;
    FLastDrawn = now;
    const std::string line = Describe(final);
    if (FClearsLines) {
        std::fprintf(FOut, "\r\033[K%s", line.c_str());
    } else {
        const size_t drawn = FPartialLine ? FDrawnLength : 0;
        std::fprintf(FOut, "\r%s%s", line.c_str(),
                     std::string(drawn > line.size() ? drawn - line.size() : 0, ' ').c_str());
    }
    FDrawnLength = line.size();
    if (final) std::fputc('\n', FOut);
    std::fflush(FOut);
    FPartialLine = !final;
}
