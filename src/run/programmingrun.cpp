#include "run/programmingrun.h"

#include "core/cleanup.h"
#include "core/memstream.h"
#include "core/operatorhooks.h"
#include "core/progress.h"
#include "image/encryptedstream.h"
#include "run/secretprocess.h"
#include "serial/devicechannel.h"
#include "target/unitmodels.h"

namespace {
const char* const ConnectCancelled = "Connect Cancelled by User";
const char* const SuccessText = "Unit Successfully Programmed!";
const char* const VerifiedText = "Unit Successfully Verified!";
}

// The operator's progress view as the protocol sees it, with the run's stop
// check at every step of the bar: a block that the unit has acknowledged is
// a point at which the run can end without leaving a frame half sent.
class TProgrammingRun::TStoppableProgress : public TProgressView {
public:
    TStoppableProgress(TProgressView* view, const bool& stopRequested, const bool& unitChanged)
        : FView(view), FStopRequested(stopRequested), FUnitChanged(unitChanged)
    {
    }
    void SetRange(int minimum, int maximum) override
    {
        FPosition = minimum;
        if (FView) FView->SetRange(minimum, maximum);
    }
    void SetStep(int step) override
    {
        if (FView) FView->SetStep(step);
    }
    void SetPosition(int position) override
    {
        FPosition = position;
        if (FView) FView->SetPosition(position);
        if (FStopRequested) throw ERunInterrupted(FUnitChanged);
    }
    int Position() const override { return FView ? FView->Position() : FPosition; }

private:
    TProgressView* FView;
    const bool& FStopRequested;
    const bool& FUnitChanged;
    int FPosition = 0;
};

// What the layers below reach while the run is under way: the operator's
// prompt, and the operator for a background failure, which the report
// keeps too so that whoever reports the run (the command line's log) knows
// of it.
class TProgrammingRun::TRunHooks : public TOperatorHooks {
public:
    TRunHooks(TRunOperator& runOperator, TRunReport& report) : FOperator(runOperator), FReport(report) {}
    TUserPrompt* CreatePrompt(QObject* owner) override { return FOperator.CreatePrompt(owner); }
    void BackgroundFailure(const std::exception& failure) override
    {
        FReport.BackgroundFailures.push_back(failure.what());
        FOperator.BackgroundFailure(failure);
    }

private:
    TRunOperator& FOperator;
    TRunReport& FReport;
};

TProgrammingRun::TProgrammingRun(TRunOperator& runOperator, const TStoredImage& image, const TImageDigest& digest,
                                 QObject* owner)
    : QObject(owner), FOperator(runOperator), FImage(image), FDigest(digest)
{
    FConnectInfo.ConnectPort = new TMorvexComPort(this);
    FConnectInfo.ProgramPort = new TMorvexComPort(this);
    FConnectInfo.Prompt = nullptr;
}

TProgrammingRun::~TProgrammingRun() = default;

bool TProgrammingRun::Execute()
{
    // Whatever the last run left is the last unit's: the target a failed
    // connection kept (its identity text would otherwise become this unit's),
    // a stop asked for after that run ended, its step and its report.
    FFlash.reset();
    FReport = TRunReport{};
    FReport.Started = std::chrono::system_clock::now();
    FUserMethodFailure = nullptr;
    FStep = TRunStep::Wizard;
    FStopRequested = false;
    FUnitChanged = false;
    FIdentityChanged = false;
    TRunHooks hooks(FOperator, FReport);
    const TOperatorHooksScope installed(hooks);
    try {
        RunThenAlways(
            [this] {
                ConnectUnit();
                RunThenAlways([this] { ProgramImage(); }, [this] { FreeFlash(); });
                EndStep();
                const char* const text = FOptions.VerifyOnly ? VerifiedText : SuccessText;
                FReport.Succeeded = true;
                FReport.Message = text;
                FOperator.ShowSuccess(text);
            },
            [this] {
                EndStep();
                FReport.Ended = std::chrono::system_clock::now();
                FOperator.RunEnded();
            });
        return true;
    } catch (const std::exception& failure) {
        FReport.Succeeded = false;
        FReport.Failure = ClassifyFailure(FStep, failure, FIdentityChanged);
        FReport.Message = failure.what();
        FOperator.ShowFailure(failure, FReport.Failure);
        return false;
    }
}

void TProgrammingRun::BeginStep(TRunStep step)
{
    EndStep();
    if (FStopRequested) throw ERunInterrupted(FUnitChanged);
    // The erase is the first step that changes the unit, whether or not it
    // gets to its end.
    if (step == TRunStep::Erase) FUnitChanged = true;
    FStep = step;
    FStepOpen = true;
    FReport.Steps.push_back(TStepRecord{step, std::chrono::system_clock::now(), 0});
    FOperator.StepStarted(step);
}

void TProgrammingRun::NoteTarget(const THitachiFlash& flash)
{
    if (!flash.IdentityText().empty()) FReport.IdentityText = flash.IdentityText();
    FIdentityChanged = flash.IdentityChangedSinceConnect();
    FReport.Differences = flash.Differences();
}

void TProgrammingRun::EndStep()
{
    if (FFlash) NoteTarget(*FFlash);
    if (!FStepOpen) return;
    FStepOpen = false;
    TStepRecord& record = FReport.Steps.back();
    record.Seconds = std::chrono::duration<double>(std::chrono::system_clock::now() - record.Started).count();
}

void TProgrammingRun::FreeFlash()
{
    if (!FFlash) return;
    std::unique_ptr<THitachiFlash> flash = std::move(FFlash);
    NoteTarget(*flash);
    flash->ClosePort();
}

void TProgrammingRun::ConnectUnit()
{
    const uint32_t unitType = UnitType(FImage);
    ShowConnectWizard(unitType);
    BeginStep(TRunStep::PortSettings);
    if (!FOperator.EditPortSettings(*FConnectInfo.ConnectPort))
        throw EHitachiFlashException(ConnectCancelled, TFailureCause::Cancelled);
    BeginStep(TRunStep::ConnectUser);
    CreateTarget(kUserMethod);
    std::string failure;
    try {
        FFlash->Connect();
        return;
    } catch (const std::exception& userMethodFailure) {
        failure = userMethodFailure.what();
        FUserMethodFailure = std::current_exception();
        if (FailureCause(userMethodFailure) == TFailureCause::PortError && !FOptions.AskBootAfterPortError) throw;
    }
    BeginStep(TRunStep::BootQuestion);
    if (!FOperator.AskBootMethod("User Connect Method Failed (" + failure + "). Try Boot Method?"))
        throw EHitachiFlashException(ConnectCancelled, TFailureCause::Cancelled);
    BeginStep(TRunStep::ConnectBoot);
    CreateTarget(kBootMethod);
    FFlash->Connect();
}

void TProgrammingRun::CreateTarget(uint8_t method)
{
    FConnectInfo.Method = method;
    // The previous target goes first: it still reports to the progress
    // view that is replaced here.
    FFlash.reset();
    FProgress = std::make_unique<TStoppableProgress>(FOperator.ProgressView(), FStopRequested, FUnitChanged);
    CreateFlashTarget(UnitType(FImage), FFlash, FOperator.StatusText(), FProgress.get(), FConnectInfo);
    FFlash->SetCompareDialogs(FOperator.CompareDialogs());
}

void TProgrammingRun::ShowConnectWizard(uint32_t unitType)
{
    const std::optional<TWizardPage> page = WizardPage(unitType);
    if (!page) return;
    BeginStep(TRunStep::Wizard);
    if (!FOperator.ShowWizardPage(*page)) throw EHitachiFlashException(ConnectCancelled, TFailureCause::Cancelled);
}

void TProgrammingRun::ProgramImage()
{
    BeginStep(TRunStep::Decipher);
    KeepSecretsFromOtherProcesses();
    TTwoFishEncryptedMemoryStream stream;
    stream.SetMode(cmCipherFeedback);
    LoadImage(stream, FImage);
    std::string passPhrase = GetPassPhrase();
    RunThenAlways([&] { stream.Decrypt(passPhrase.data(), uint32_t(passPhrase.size())); },
                  [&] { SecureZero(passPhrase.data(), passPhrase.size()); });
    // Only the unit's own checksum guards the image otherwise, and some
    // models have none: a record deciphered under the wrong pass phrase, or
    // with damaged bytes, must not get as far as an erase.
    if (!MatchesImageDigest(stream, FDigest))
        throw EFDTException("Flash and Image Checksums don't match", TFailureCause::ImageInvalid);
    if (FOptions.VerifyOnly)
        RunVerifySequence(stream);
    else
        RunFlashSequence(stream);
}

void TProgrammingRun::RunFlashSequence(TMemoryStream& stream)
{
    BeginStep(TRunStep::Check);
    FFlash->Check(stream);
    BeginStep(TRunStep::Erase);
    FFlash->Erase();
    BeginStep(TRunStep::Program);
    FFlash->Program(stream);
    BeginStep(TRunStep::Verify);
    FFlash->Verify(stream);
    BeginStep(TRunStep::Reset);
    FFlash->Reset();
}

void TProgrammingRun::RunVerifySequence(TMemoryStream& stream)
{
    BeginStep(TRunStep::Check);
    FFlash->Check(stream);
    BeginStep(TRunStep::Verify);
    std::exception_ptr difference;
    try {
        FFlash->Verify(stream);
    } catch (const ECompareException&) {
        difference = std::current_exception();
    }
    // A unit that holds another image was not changed: it goes back to its
    // firmware all the same, and the difference stays the run's outcome
    // even if the restart fails too.
    BeginStep(TRunStep::Reset);
    if (!difference) {
        FFlash->Reset();
        return;
    }
    try {
        FFlash->Reset();
    } catch (const std::exception&) {
    }
    std::rethrow_exception(difference);
}
