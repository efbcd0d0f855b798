// The programming run's operator with every answer given up front, for the
// programs that drive the real run without a window: the reliability tests,
// the fuzzer's host runs and the whole-run benchmark. It answers the cabling
// page, the serial settings, the boot question and the reset prompt as told
// (TOperatorAnswers, which the window tests answer the windows by too), and
// keeps what the run showed: the steps, the status texts, the question, the
// closing message, the failure's kind and class.
#pragma once

#include "core/progress.h"
#include "image/imagedigest.h"
#include "image/storedimage.h"
#include "run/programmingrun.h"
#include "run/runoperator.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The class of a failure by its name in this system ("EFDTException", ...);
// the C++ type name for anything else.
std::string ExceptionClassName(const std::exception& failure);

// The failure's message inside the boot question, "" when the text is not
// that question.
std::string FailureInQuestion(const std::string& question);

// How the operator answers each question of a run.
struct TOperatorAnswers {
    bool WizardNext = true;    // false: Cancel on the cabling page
    bool SettingsOk = true;    // false: Cancel in the serial settings
    std::string PortPath;      // the port the operator picks in the settings
    bool BootYes = false;      // the answer to "Try Boot Method?"
    bool CancelPrompt = false; // true: Cancel on "Reset the Unit" at once
};

// What the operator saw of one run, from Start to the last message.
struct TRunOutcome {
    bool Succeeded = false;
    std::string Message;        // the success text, or the failure's message
    std::string FailureClass;   // ExceptionClassName of the failure, "" after success
    bool SystemFailure = false; // the failure is one of the system's own exceptions (Exception)
    TFailureKind Kind = TFailureKind::None;
    std::string Question;                 // the boot question, "" when it was not asked
    int WizardPages = 0;                  // cabling pages shown
    std::vector<TRunStep> Steps;          // as they began
    std::vector<std::string> StatusTexts; // as the protocol showed them
    bool EndedBeforeMessage = false;      // RunEnded came before the failure was shown
    double Seconds = 0;                   // from Start to the last message
};

class TScriptedOperator : public TRunOperator {
public:
    // The operator and the run it answers, built for the record and the
    // digest of its plain image.
    TScriptedOperator(const TStoredImage& image, const TImageDigest& digest);
    TScriptedOperator(const TScriptedOperator&) = delete;
    TScriptedOperator& operator=(const TScriptedOperator&) = delete;

    TOperatorAnswers Answers;
    // Called with every status text as the protocol shows it, while the run
    // waits in that step.
    std::function<void(const std::string& text)> OnStatus;
    // Called as each step begins.
    std::function<void(TRunStep step)> OnStep;

    // One press of Start: the run from the beginning, answered by Answers.
    // The run (its connection record, its left-over target) stays from one
    // press to the next, as it does under the main window.
    TRunOutcome Execute();

    TProgrammingRun& Run() { return *FRun; }
    const TRunReport& Report() const { return FRun->Report(); }
    // The background failures (the keep-alive's) of every run since the
    // operator was built, as the run passed them on.
    const std::vector<std::string>& BackgroundFailures() const { return FBackgroundFailures; }

    bool ShowWizardPage(const TWizardPage& page) override;
    bool EditPortSettings(TMorvexComPort& port) override;
    bool AskBootMethod(const std::string& question) override;
    TUserPrompt* CreatePrompt(QObject* owner) override;
    TStatusText* StatusText() override { return &FStatus; }
    TProgressView* ProgressView() override { return nullptr; }
    void BackgroundFailure(const std::exception& failure) override { FBackgroundFailures.push_back(failure.what()); }
    void StepStarted(TRunStep step) override;
    void ShowSuccess(const std::string& text) override;
    void RunEnded() override { FEnded = true; }
    void ShowFailure(const std::exception& failure, TFailureKind kind) override;

private:
    class TStatus : public TStatusText {
    public:
        explicit TStatus(TScriptedOperator& owner) : FOwner(owner) {}
        void SetText(const std::string& text) override;

    private:
        TScriptedOperator& FOwner;
    };

    TStatus FStatus{*this};
    std::unique_ptr<TProgrammingRun> FRun;
    TRunOutcome FOutcome;
    bool FEnded = false;
    std::vector<std::string> FBackgroundFailures;
};
