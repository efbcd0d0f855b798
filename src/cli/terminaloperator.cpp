#include "cli/terminaloperator.h"

#include "cli/interrupts.h"
#include "core/text.h"
#include "run/programmingrun.h"
#include "serial/devicechannel.h"
#include "serial/portnames.h"
#include "serial/serialtext.h"

namespace {
const char* const NoTerminalNote = "(no terminal to ask: pass --yes to allow the boot method)";

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}
}

std::string TerminalText(const std::string& text) { return WithLfLineEnds(text); }

// ------------------------------------------------------------------ prompt

TTerminalPrompt::TTerminalPrompt(TTerminalOperator& runOperator, QObject* owner)
    : TUserPrompt(owner), FOperator(runOperator)
{
}

TTerminalPrompt::~TTerminalPrompt()
{
    if (FOperator.FShownPrompt == this) FOperator.FShownPrompt = nullptr;
}

void TTerminalPrompt::ShowPrompt(const std::string& text)
{
    FCancelled = false;
    FOperator.FShownPrompt = this;
    // Quiet leaves out only what nobody has to act on.
    if (FOperator.FOptions.Quiet && !FOperator.FTerminal.Interactive) return;
    FOperator.Say(text + (FOperator.FTerminal.Interactive ? " (waiting for the unit; Ctrl-C cancels)" : ""));
}

void TTerminalPrompt::HidePrompt()
{
    if (FOperator.FShownPrompt == this) FOperator.FShownPrompt = nullptr;
}

// ---------------------------------------------------------------- operator

TTerminalOperator::TTerminalOperator(const TTerminal& terminal, TInterruptWatch& interrupts)
    : FTerminal(terminal), FInterrupts(interrupts), FProgress(terminal.Out, terminal.OutputIsTerminal, false)
{
    FProgress.SetClearsLines(terminal.ClearsLines);
}

void TTerminalOperator::Say(const std::string& text)
{
    if (FProbe != TProbe::None) return;
    FProgress.Interject();
    std::fprintf(FTerminal.Out, "%s\n", TerminalText(text).c_str());
    std::fflush(FTerminal.Out);
}

void TTerminalOperator::Interrupt()
{
    FProgress.Interject();
    if (FShownPrompt) {
        FShownPrompt->Cancel();
        std::fprintf(FTerminal.Err, "Interrupted: cancelling the boot method\n");
    } else if (FRun) {
        FRun->RequestStop();
        std::fprintf(FTerminal.Err, "Interrupted: stopping at the next safe point\n");
    }
}

void TTerminalOperator::SetProbe(TProbe probe)
{
    FProbe = probe;
    FProgress.SetQuiet(FOptions.Quiet || probe != TProbe::None);
}

void TTerminalOperator::StepStarted(TRunStep step)
{
    // The unit answered: past the connection a probe has its answer.
    if (FProbe != TProbe::None && step == TRunStep::Decipher) {
        if (FProbe == TProbe::Presence && FRun) FRun->RequestStop();
        if (FProbe == TProbe::Arrival) SetProbe(TProbe::None);
    }
    FProgress.BeginStep(step);
}

bool TTerminalOperator::WaitForEnter(const std::string& prompt)
{
    FProgress.Interject();
    std::fprintf(FTerminal.Out, "%s", prompt.c_str());
    std::fflush(FTerminal.Out);
    std::string line;
    const TTyped typed = ReadLine(line);
    if (typed != TTyped::Line) std::fputc('\n', FTerminal.Out);
    return typed == TTyped::Line;
}

bool TTerminalOperator::ShowWizardPage(const TWizardPage& page)
{
    // Nobody to press Enter, or told not to wait: the cable is taken as it is.
    if (!FTerminal.Interactive || FOptions.AssumeYes) return true;
    FProgress.Interject();
    for (const std::string& line : page.Lines) std::fprintf(FTerminal.Out, "%s\n", line.c_str());
    std::fprintf(FTerminal.Out, "Press Enter to go on (Ctrl-C cancels): ");
    std::fflush(FTerminal.Out);
    std::string line;
    const TTyped typed = ReadLine(line);
    if (typed != TTyped::Line) std::fputc('\n', FTerminal.Out);
    return typed == TTyped::Line;
}

bool TTerminalOperator::EditPortSettings(TMorvexComPort& port)
{
    port.SuspendApply();
    port.SetPort(FOptions.Port);
    port.SetBaudRate(FOptions.BaudRate);
    port.SetDataBits(FOptions.DataBits);
    port.SetStopBits(FOptions.StopBits);
    port.Parity().SetBits(FOptions.Parity);
    port.ResumeApply();
    if (FOptions.Quiet) return true;
    const std::string device = PortDevicePath(port.Port());
    Say("Port " + port.Port() + (device != port.Port() ? " (" + device + ")" : "") + ": " +
        BaudRateToText(port.BaudRate()) + " bit/s, " + DataBitsToText(port.DataBits()) + " data bits, " +
        StopBitsToText(port.StopBits()) + " stop bit, parity " + ParityToText(port.Parity().Bits()));
    return true;
}

bool TTerminalOperator::AskBootMethod(const std::string& question)
{
    // A probe is the user method alone: only the unit's own answer counts.
    if (FProbe != TProbe::None) return false;
    if (FOptions.AssumeYes) {
        if (!FOptions.Quiet) Say(question + " yes (--yes)");
        return true;
    }
    if (!FTerminal.Interactive) {
        FBootRefusedWithoutTerminal = true;
        if (!FOptions.Quiet) {
            FProgress.Interject();
            std::fprintf(FTerminal.Err, "%s no\n", TerminalText(question).c_str());
        }
        return false;
    }
    FProgress.Interject();
    for (;;) {
        std::fprintf(FTerminal.Out, "%s [y/N] ", TerminalText(question).c_str());
        std::fflush(FTerminal.Out);
        std::string line;
        const TTyped typed = ReadLine(line);
        if (typed != TTyped::Line) {
            std::fputc('\n', FTerminal.Out);
            return false;
        }
        const std::string answer = LowerAscii(Trimmed(line));
        if (answer == "y" || answer == "yes") return true;
        if (answer.empty() || answer == "n" || answer == "no") return false;
        std::fprintf(FTerminal.Out, "Please answer y or n.\n");
    }
}

void TTerminalOperator::ShowSuccess(const std::string& text)
{
    FProgress.Finish();
    std::fprintf(FTerminal.Out, "%s\n", TerminalText(text).c_str());
    std::fflush(FTerminal.Out);
}

void TTerminalOperator::SayFailure(const std::string& text)
{
    if (FProbe != TProbe::None) return;
    FProgress.Interject();
    std::fflush(FTerminal.Out);
    std::fprintf(FTerminal.Err, "%s\n", TerminalText(text).c_str());
    std::fflush(FTerminal.Err);
}

void TTerminalOperator::BackgroundFailure(const std::exception& failure) { SayFailure(failure.what()); }

void TTerminalOperator::ShowFailure(const std::exception& failure, TFailureKind kind)
{
    SayFailure(failure.what());
    if (kind == TFailureKind::Cancelled && FBootRefusedWithoutTerminal) SayFailure(NoTerminalNote);
}
