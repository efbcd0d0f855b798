#include "cli/progressline.h"

#include <QJsonDocument>
#include <QJsonObject>
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
    // A feed's lines are whole lines already.
    if (!FPartialLine || FFeed) return;
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

TProgressLine::TFigures TProgressLine::Figures() const
{
    TFigures figures;
    figures.Span = FMaximum - FMinimum;
    figures.Done = FPosition - FMinimum;
    if (figures.Span <= 0) return figures;
    figures.Percent = int(int64_t(figures.Done) * 100 / figures.Span);
    const double seconds = std::chrono::duration<double>(TClock::now() - FRangeStarted).count();
    if (!FCountsBytes || figures.Done <= 0 || seconds <= 0) return figures;
    figures.BitRate = figures.Done * 8 / seconds;
    if (figures.Done < figures.Span)
        figures.SecondsLeft = int((figures.Span - figures.Done) * seconds / figures.Done + 0.5);
    return figures;
}

std::string TProgressLine::Describe(bool final) const
{
    std::string line = std::string(RunStepName(FStep)) + ": " + FText;
    const TFigures figures = Figures();
    if (figures.Percent >= 0) line += Printf(" %d%%", figures.Percent);
    if (FCountsBytes && figures.Span > 0) {
        line += Printf(" %d/%d bytes", figures.Done, figures.Span);
        if (figures.BitRate >= 0) {
            line += Printf(", %.0f bit/s", figures.BitRate);
            if (!final && figures.SecondsLeft >= 0)
                line += Printf(", %d:%02d left", figures.SecondsLeft / 60, figures.SecondsLeft % 60);
        }
    }
    if (final) line += Printf(" in %.2f s", std::chrono::duration<double>(TClock::now() - FStepStarted).count());
    return line;
}

bool TProgressLine::TooSoon(bool final)
{
    const TClock::time_point now = TClock::now();
    const int percent = Figures().Percent;
    // Rewriting the line for every block would cost more than the block.
    if (!final && FPartialLine && percent == FLastPercent && now - FLastDrawn < RedrawInterval) return true;
    FLastPercent = percent;
    FLastDrawn = now;
    return false;
}

void TProgressLine::Feed(bool final)
{
    if (TooSoon(final)) return;
    const TFigures figures = Figures();
    QJsonObject update{{"feed", "progress"},
                       {"step", RunStepName(FStep)},
                       {"text", QString::fromStdString(FText)},
                       {"percent", figures.Percent},
                       {"rate", figures.BitRate < 0 ? -1 : qint64(figures.BitRate + 0.5)},
                       {"left", final ? -1 : figures.SecondsLeft},
                       {"final", final},
                       {"line", QString::fromStdString(Describe(final))}};
    std::fprintf(FOut, "%s\n", QJsonDocument(update).toJson(QJsonDocument::Compact).constData());
    std::fflush(FOut);
    FPartialLine = !final;
}

void TProgressLine::Draw(bool final)
{
    if (!FActive) return;
    if (FFeed) return Feed(final);
    if (FQuiet) return;
    if (!FOnTerminal) {
        // One plain line per step, once it is over.
        if (!final) return;
        std::fprintf(FOut, "%s\n", Describe(true).c_str());
        std::fflush(FOut);
        return;
    }
    if (TooSoon(final)) return;
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
