#include "tests/support/scriptedoperator.h"

#include "core/userprompt.h"
#include "image/encryptedstream.h"
#include "protocol/compare.h"
#include "serial/devicechannel.h"
#include "target/flashtarget.h"

#include <chrono>
#include <typeinfo>

namespace {
const std::string QuestionBefore = "User Connect Method Failed (";
const std::string QuestionAfter = "). Try Boot Method?";

// The exact class, not a base: an EMorvexComTimeout is also an EComPort's
// sibling under Exception, and the tests name the class the failure has.
template <class E>
bool Is(const std::exception& failure)
{
    return typeid(failure) == typeid(E);
}
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
    if (Is<ERunInterrupted>(failure)) return "ERunInterrupted";
    if (Is<Exception>(failure)) return "Exception";
    return typeid(failure).name();
}

std::string FailureInQuestion(const std::string& question)
{
    if (question.size() < QuestionBefore.size() + QuestionAfter.size() || question.rfind(QuestionBefore, 0) != 0 ||
        question.compare(question.size() - QuestionAfter.size(), QuestionAfter.size(), QuestionAfter) != 0)
        return "";
    return question.substr(QuestionBefore.size(), question.size() - QuestionBefore.size() - QuestionAfter.size());
}

void TScriptedOperator::TStatus::SetText(const std::string& text)
{
    FOwner.FOutcome.StatusTexts.push_back(text);
    if (FOwner.OnStatus) FOwner.OnStatus(text);
}

TScriptedOperator::TScriptedOperator(const TStoredImage& image, const TImageDigest& digest)
    : FRun(std::make_unique<TProgrammingRun>(*this, image, digest))
{
}

TRunOutcome TScriptedOperator::Execute()
{
    FOutcome = TRunOutcome{};
    FEnded = false;
    const auto started = std::chrono::steady_clock::now();
    FRun->Execute();
    FOutcome.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return FOutcome;
}

bool TScriptedOperator::ShowWizardPage(const TWizardPage& page)
{
    (void)page;
    ++FOutcome.WizardPages;
    return Answers.WizardNext;
}

bool TScriptedOperator::EditPortSettings(TMorvexComPort& port)
{
    if (!Answers.SettingsOk) return false;
    port.SetPort(Answers.PortPath);
    return true;
}

bool TScriptedOperator::AskBootMethod(const std::string& question)
{
    FOutcome.Question = question;
    return Answers.BootYes;
}

void TScriptedOperator::StepStarted(TRunStep step)
{
    FOutcome.Steps.push_back(step);
    if (OnStep) OnStep(step);
}

void TScriptedOperator::ShowSuccess(const std::string& text)
{
    FOutcome.Succeeded = true;
    FOutcome.Message = text;
}

namespace {
// The prompt of an operator who cancels it as soon as it shows.
class TCancelledPrompt : public TUserPrompt {
public:
    using TUserPrompt::TUserPrompt;
    bool PromptCancelled() override { return true; }
};
}

TUserPrompt* TScriptedOperator::CreatePrompt(QObject* owner)
{
    if (Answers.CancelPrompt) return new TCancelledPrompt(owner);
    return TRunOperator::CreatePrompt(owner);
}

void TScriptedOperator::ShowFailure(const std::exception& failure, TFailureKind kind)
{
    FOutcome.Succeeded = false;
    FOutcome.Message = failure.what();
    FOutcome.FailureClass = ExceptionClassName(failure);
    FOutcome.SystemFailure = dynamic_cast<const Exception*>(&failure) != nullptr;
    FOutcome.Kind = kind;
    FOutcome.EndedBeforeMessage = FEnded;
}
