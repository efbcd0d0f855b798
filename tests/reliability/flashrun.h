// The programming run without its windows: the flash target's steps in the
// run's order (connect by the user method, on failure the boot question and
// the boot method, decipher the stored record, check, erase, program,
// verify, reset) with the run's clean-up (the channel closed and the target
// freed once a connection succeeded; after a failed connection the target
// stays until the next run). The operator's answer to the boot question is
// given up front.
#pragma once

#include "image/storedimage.h"
#include "target/flashtarget.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// How one run ended.
struct TRunOutcome {
    bool Succeeded = false;
    std::string FailureClass; // ExceptionClassName of the failure
    std::string Message;      // the failure's message
    std::string Question;     // the boot question, when it was asked
    bool KeyWiped = true;     // the cipher's key storage was all 0xFF after deciphering
    bool Deciphered = false;  // the run got as far as deciphering the image
    double Seconds = 0;       // from Start to the end of the clean-up
};

// The failure's message inside the boot question, "" when the text is not
// that question.
std::string FailureInQuestion(const std::string& question);

// The class of a failure by its name in this system ("EFDTException", ...);
// the C++ type name for anything else.
std::string ExceptionClassName(const std::exception& failure);

class TFlashRun {
public:
    explicit TFlashRun(const TStoredImage& record);
    ~TFlashRun();

    bool AnswerBootQuestion = false;
    // Called with every status text the protocol shows (Connecting...,
    // Erasing FLASH..., ...), while the run waits in that step.
    std::function<void(const std::string& text)> OnStatus;

    TRunOutcome Run(const std::string& portPath);

    // The target the last run left behind (after a failed connection), or none.
    THitachiFlash* Flash() const { return FFlash.get(); }
    // Failures the keep-alive reported between steps (it never should).
    const std::vector<std::string>& KeepAliveFailures() const { return FKeepAliveFailures; }

private:
    class TStatus;
    void ConnectUnit(TRunOutcome& outcome);
    void CreateTarget(uint8_t method);
    void ProgramImage(TRunOutcome& outcome);

    const TStoredImage& FRecord;
    std::unique_ptr<TStatus> FStatus;
    std::unique_ptr<TMorvexComPort> FConnectPort;
    std::unique_ptr<TMorvexComPort> FProgramPort;
    uint8_t FMethod = 1;
    std::unique_ptr<THitachiFlash> FFlash;
    std::vector<std::string> FKeepAliveFailures;
};
