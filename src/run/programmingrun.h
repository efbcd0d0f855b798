// One press of Start: show the operator how to cable the unit, let them
// confirm the serial settings, bring the unit into its flash loader (the
// user method, then with the operator's consent the boot method), decipher
// the stored image, check it against the unit, erase, program, read back
// and compare, restart the unit, and report. The run knows no window: it
// reaches the operator only through TRunOperator, so the main window, the
// command line, the tests and the benchmarks all drive this one run.
#pragma once

#include "image/imagedigest.h"
#include "image/storedimage.h"
#include "protocol/loaderprotocol.h"
#include "run/runoperator.h"
#include "run/runoptions.h"
#include "run/runsteps.h"

#include <QObject>
#include <exception>
#include <memory>

class TMemoryStream;
class THitachiFlash;

class TProgrammingRun : public QObject {
    Q_OBJECT
public:
    // The record to program and the digest of its plain image, which the
    // build stored beside it. The connection record's two settings holders
    // are created with the run as their owner; the operator outlives the run.
    TProgrammingRun(TRunOperator& runOperator, const TStoredImage& image, const TImageDigest& digest,
                    QObject* owner = nullptr);
    ~TProgrammingRun() override;

    // The whole run. A failure is never raised to the caller: after the
    // clean-up it goes to the operator's ShowFailure. True on success.
    bool Execute();

    // Asks a run under way to stop at the next step or block boundary; it
    // then ends with ERunInterrupted. Call it from the run's own thread
    // (an event handler), never from a signal handler.
    void RequestStop() { FStopRequested = true; }

    // What the face decided beyond the operator's answers; the defaults are
    // the window's. Set before Execute.
    void SetOptions(const TRunOptions& options) { FOptions = options; }
    const TRunOptions& Options() const { return FOptions; }

    // The connection record: ConnectPort keeps the operator's settings from
    // one run to the next.
    TConnectInfo& ConnectInfo() { return FConnectInfo; }
    const TConnectInfo& ConnectInfo() const { return FConnectInfo; }
    // The current flash target: during a run, and after a run that ended
    // before programming (until the next run frees it).
    THitachiFlash* Flash() const { return FFlash.get(); }
    const TStoredImage& Image() const { return FImage; }
    // The digest of the plain image the record deciphers to.
    const TImageDigest& Digest() const { return FDigest; }
    const TRunReport& Report() const { return FReport; }
    // Why the user method failed in this run, while the operator is asked
    // about the boot method (and after); null before that.
    std::exception_ptr UserMethodFailure() const { return FUserMethodFailure; }

    // The run's parts, in the order Execute calls them.
    void ConnectUnit();
    void ShowConnectWizard(uint32_t unitType);
    void ProgramImage();
    void RunFlashSequence(TMemoryStream& stream);
    // The verify-only sequence: the same checks, the read-back and the
    // comparison, and the restart, with nothing erased or programmed.
    void RunVerifySequence(TMemoryStream& stream);

private:
    class TStoppableProgress;
    class TRunHooks;
    void CreateTarget(uint8_t method);
    void FreeFlash();
    void BeginStep(TRunStep step);
    void EndStep();
    // Keeps what the target's identity replies and its comparison tell the
    // report and the failure's kind, before the target goes.
    void NoteTarget(const THitachiFlash& flash);

    TRunOperator& FOperator;
    const TStoredImage& FImage;
    const TImageDigest FDigest;
    TRunOptions FOptions;
    TConnectInfo FConnectInfo;
    std::unique_ptr<THitachiFlash> FFlash;
    std::unique_ptr<TStoppableProgress> FProgress;
    TRunReport FReport;
    std::exception_ptr FUserMethodFailure;
    TRunStep FStep = TRunStep::Wizard;
    bool FStepOpen = false;
    bool FStopRequested = false;
    bool FUnitChanged = false;     // the erase has begun
    bool FIdentityChanged = false; // the last identity reply differed from the one at connect
};
