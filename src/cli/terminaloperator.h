// The operator of a command-line run: the options answer the Setup dialog,
// a terminal answers the cabling page and the boot question, and Ctrl-C is
// the operator prompt's Cancel or, elsewhere, a request to stop the run.
// Without a terminal nothing waits for typing: the cabling page is passed,
// and the boot method is tried only when --yes allows it.
#pragma once

#include "cli/options.h"
#include "cli/progressline.h"
#include "core/userprompt.h"
#include "run/runoperator.h"

#include <cstdio>
#include <string>

class TInterruptWatch;
class TProgrammingRun;
class TTerminalOperator;

// The boot method's "Reset the Unit": printed, then cancelled by Ctrl-C.
class TTerminalPrompt : public TUserPrompt {
public:
    TTerminalPrompt(TTerminalOperator& runOperator, QObject* owner);
    ~TTerminalPrompt() override;

    void ShowPrompt(const std::string& text) override;
    bool PromptCancelled() override { return FCancelled; }
    void HidePrompt() override;
    void Cancel() { FCancelled = true; }

private:
    TTerminalOperator& FOperator;
    bool FCancelled = false;
};

// Whether the descriptor (0 input, 1 output) is an interactive terminal.
bool IsTerminal(int descriptor);
// Whether the terminal on the descriptor clears a line on the escape
// "\033[K". A Windows console does once virtual-terminal processing is on,
// which this turns on where the console has it.
bool TerminalClearsLines(int descriptor);

// The terminal's width in columns as it is now; 0 when not known.
int TerminalColumns(int descriptor);

struct TTerminal {
    bool Interactive = false;      // standard input is a terminal: questions can be asked
    bool OutputIsTerminal = false; // standard output is a terminal: progress lines are rewritten
    bool ClearsLines = true;       // ... with the escape that clears a line, else over-written with blanks
    std::FILE* Out = stdout;
    std::FILE* Err = stderr;
    int In = 0;
};

class TTerminalOperator : public TRunOperator {
public:
    // A station without a terminal looks for its next unit with runs that
    // only try the user method, quietly: Presence stops the run once the
    // unit has answered (is the last unit still there?), Arrival lets the
    // run go on once a unit has answered (it is the next unit's run).
    enum class TProbe { None, Presence, Arrival };

    TTerminalOperator(const TTerminal& terminal, TInterruptWatch& interrupts);

    void Configure(const TCliOptions& options)
    {
        FOptions = options;
        FProgress.SetQuiet(options.Quiet || FProbe != TProbe::None);
        FProgress.SetFeed(options.ProgressFeed);
    }
    // The run that Ctrl-C stops; the operator outlives it.
    void SetRun(TProgrammingRun* run) { FRun = run; }
    // Ctrl-C (or SIGTERM) that arrived while no question was waiting.
    void Interrupt();
    void SetProbe(TProbe probe);
    // Prints the line and waits for Enter on the terminal: false on Ctrl-C
    // or the end of input.
    bool WaitForEnter(const std::string& prompt);

    bool ShowWizardPage(const TWizardPage& page) override;
    bool EditPortSettings(TMorvexComPort& port) override;
    bool AskBootMethod(const std::string& question) override;
    TUserPrompt* CreatePrompt(QObject* owner) override { return new TTerminalPrompt(*this, owner); }
    void BackgroundFailure(const std::exception& failure) override;
    TStatusText* StatusText() override { return &FProgress; }
    TProgressView* ProgressView() override { return &FProgress; }
    void StepStarted(TRunStep step) override;
    void ShowSuccess(const std::string& text) override;
    void RunEnded() override { FProgress.Finish(); }
    void ShowFailure(const std::exception& failure, TFailureKind kind) override;

private:
    friend class TTerminalPrompt;
    enum class TTyped { Line, EndOfInput, Interrupted };
    // Waits for one typed line (without its end); Ctrl-C ends the wait.
    TTyped ReadLine(std::string& line);
    void Say(const std::string& text);
    // A failure's text on standard error, below the progress line.
    void SayFailure(const std::string& text);

    TTerminal FTerminal;
    TInterruptWatch& FInterrupts;
    TCliOptions FOptions;
    TProgressLine FProgress;
    TProgrammingRun* FRun = nullptr;
    TTerminalPrompt* FShownPrompt = nullptr;
    TProbe FProbe = TProbe::None;
    bool FBootRefusedWithoutTerminal = false;
};

// The text as lines for a terminal: the system's messages break their
// lines with carriage returns, as the window's boxes do.
std::string TerminalText(const std::string& text);
