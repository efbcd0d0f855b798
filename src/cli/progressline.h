// The run's status text and progress as lines of text: on a terminal one
// line per step that is rewritten in place (percent, bytes, the bit rate
// achieved, the time left), otherwise one plain line per step once the step
// is over, for logs and bench scripts. Quiet: nothing, but the position is
// kept all the same (the protocol counts on it). Feed: one JSON object per
// line for a gang's parent process instead, quiet or not.
#pragma once

#include "core/progress.h"
#include "run/runsteps.h"

#include <chrono>
#include <cstdio>
#include <string>

class TProgressLine : public TStatusText, public TProgressView {
public:
    TProgressLine(std::FILE* out, bool onTerminal, bool quiet) : FOut(out), FOnTerminal(onTerminal), FQuiet(quiet) {}

    void SetQuiet(bool quiet) { FQuiet = quiet; }
    // The machine-readable feed (--progress-feed): each update as a JSON
    // line {"feed":"progress","step","text","percent","rate","left",
    // "final","line"}; percent, rate and left are -1 where not known.
    void SetFeed(bool feed) { FFeed = feed; }
    // How a line is rewritten on a terminal: true, cleared with "\033[K";
    // false, over-written with blanks where the last one was longer (a
    // console without virtual-terminal processing would show the escape).
    void SetClearsLines(bool clears) { FClearsLines = clears; }

    // Ends the previous step's line and starts the step's own; the steps in
    // which the operator is asked have none.
    void BeginStep(TRunStep step);
    // Ends the current step's line.
    void Finish();
    // On a terminal: leaves the line being rewritten, so that other text
    // (a prompt, a question) starts on a line of its own.
    void Interject();

    void SetText(const std::string& text) override;
    void SetRange(int minimum, int maximum) override;
    void SetStep(int) override {}
    void SetPosition(int position) override;
    int Position() const override { return FPosition; }

    // The line as it stands; final: the step is over.
    std::string Describe(bool final) const;

private:
    using TClock = std::chrono::steady_clock;
    struct TFigures {
        int Percent = -1;     // -1: no range
        int Done = 0, Span = 0;
        double BitRate = -1;  // -1: not a byte count, or nothing done yet
        int SecondsLeft = -1; // -1: not known
    };
    TFigures Figures() const;
    void Draw(bool final);
    void Feed(bool final);
    // A redraw now would repeat what was last shown too soon.
    bool TooSoon(bool final);

    std::FILE* FOut;
    bool FOnTerminal;
    bool FQuiet;
    bool FFeed = false;
    bool FActive = false;
    bool FCountsBytes = false; // the range is the image's bytes (program, verify)
    TRunStep FStep = TRunStep::Wizard;
    std::string FText;
    int FMinimum = 0;
    int FMaximum = 0;
    int FPosition = 0;
    TClock::time_point FStepStarted;
    TClock::time_point FRangeStarted;
    TClock::time_point FLastDrawn;
    int FLastPercent = -1;
    bool FPartialLine = false; // a line being rewritten stands on the terminal
    bool FClearsLines = true;
    size_t FDrawnLength = 0; // of the line being rewritten
};
