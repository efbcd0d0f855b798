#include "flashrun.h"

#include "core/cleanup.h"
#include "core/application.h"
#include "core/memstream.h"
#include "core/progress.h"
#include "image/encryptedstream.h"
#include "image/twofish.h"
#include "protocol/compare.h"
#include "serial/devicechannel.h"
#include "target/unitmodels.h"

#include <algorithm>
#include <chrono>
#include <typeinfo>

namespace {
const char* const ConnectCancelled = "Connect Cancelled by User";
const std::string QuestionBefore = "User Connect Method Failed (";
const std::string QuestionAfter = "). Try Boot Method?";

template <class E>
bool Is(const std::exception& failure)
{
    return typeid(failure) == typeid(E);
}

bool AllBytesAre(std::span<const std::byte> bytes, std::byte value)
{
    return std::all_of(bytes.begin(), bytes.end(), [value](std::byte b) { return b == value; });
}
}

std::string FailureInQuestion(const std::string& question)
{
    if (question.size() < QuestionBefore.size() + QuestionAfter.size() || question.rfind(QuestionBefore, 0) != 0 ||
        question.compare(question.size() - QuestionAfter.size(), QuestionAfter.size(), QuestionAfter) != 0)
        return "";
    return question.substr(QuestionBefore.size(), question.size() - QuestionBefore.size() - QuestionAfter.size());
}

std::string ExceptionClassName(const std::exception& failure)
{
    if (Is<EFDTException>(failure)) return "EFDTException";
    if (Is<EHitachiFlashException>(failure)) return "EHitachiFlashException";
    if (Is<EMorvexComTimeout>(failure)) return "EMorvexComTimeout";
    if (Is<EComPort>(failure)) return "EComPort";
    if (Is<ECompareException>(failure)) return "ECompareException";
    if (Is<ECryptException>(failure)) return "ECryptException";
    if (Is<EConvertError>(failure)) return "EConvertError";
    if (Is<EReadError>(failure)) return "EReadError";
    if (Is<Exception>(failure)) return "Exception";
    return typeid(failure).name();
}

// The status label: hands each text to the run's observer.
class TFlashRun::TStatus : public TStatusText {
public:
    explicit TStatus(TFlashRun& run) : FRun(run) {}
    void SetText(const std::string& text) override
    {
        if (FRun.OnStatus) FRun.OnStatus(text);
    }

private:
    TFlashRun& FRun;
};

TFlashRun::TFlashRun(const TStoredImage& record)
    : FRecord(record), FStatus(std::make_unique<TStatus>(*this)),
      FConnectPort(std::make_unique<TMorvexComPort>(nullptr)), FProgramPort(std::make_unique<TMorvexComPort>(nullptr))
{
    SetExceptionHandler([this](const std::exception& failure) { FKeepAliveFailures.push_back(failure.what()); });
}

TFlashRun::~TFlashRun()
{
    FFlash.reset();
    SetExceptionHandler(nullptr);
}

TRunOutcome TFlashRun::Run(const std::string& portPath)
{
    TRunOutcome outcome;
    const auto started = std::chrono::steady_clock::now();
    FConnectPort->SetPort(portPath);
    try {
        ConnectUnit(outcome);
        RunThenAlways([&] { ProgramImage(outcome); },
                      [&] {
                          if (!FFlash) return;
                          std::unique_ptr<THitachiFlash> flash = std::move(FFlash);
                          flash->ClosePort();
                      });
        outcome.Succeeded = true;
    } catch (const std::exception& failure) {
        outcome.FailureClass = ExceptionClassName(failure);
        outcome.Message = failure.what();
    }
    outcome.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return outcome;
}

void TFlashRun::CreateTarget(uint8_t method)
{
    FMethod = method;
    TConnectInfo info;
    info.Method = method;
    info.ConnectPort = FConnectPort.get();
    info.ProgramPort = FProgramPort.get();
    CreateFlashTarget(UnitType(FRecord), FFlash, FStatus.get(), nullptr, info);
}

void TFlashRun::ConnectUnit(TRunOutcome& outcome)
{
    CreateTarget(kUserMethod);
    try {
        FFlash->Connect();
        return;
    } catch (const std::exception& failure) {
        outcome.Question = QuestionBefore + failure.what() + QuestionAfter;
    }
    if (!AnswerBootQuestion) throw EHitachiFlashException(ConnectCancelled);
    CreateTarget(kBootMethod);
    FFlash->Connect();
}

void TFlashRun::ProgramImage(TRunOutcome& outcome)
{
    TTwoFishEncryptedMemoryStream stream;
    stream.SetMode(2);
    LoadImage(stream, FRecord);
    std::string passPhrase = GetPassPhrase();
    RunThenAlways([&] { stream.Decrypt(passPhrase.data(), uint32_t(passPhrase.size())); },
                  [&] { SecureZero(passPhrase.data(), passPhrase.size()); });
    outcome.Deciphered = true;
    const auto& cipher = dynamic_cast<const TTwofishCipher&>(stream.Cipher());
    outcome.KeyWiped = AllBytesAre(cipher.KeyStorage(), std::byte{0xFF});
    FFlash->Check(stream);
    FFlash->Erase();
    FFlash->Program(stream);
    FFlash->Verify(stream);
    FFlash->Reset();
}
