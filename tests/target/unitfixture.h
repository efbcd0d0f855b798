// What the end-to-end tests share: a simulated unit on a pseudo-terminal,
// a flash target built by the factory to reach it, images whose checksum
// fits the unit, recorders for the operator's view, and ways to read the
// unit's transcript.
#pragma once

#include "core/memstream.h"
#include "core/progress.h"
#include "core/operatorhooks.h"
#include "core/userprompt.h"
#include "serial/devicechannel.h"
#include "target/unitmodels.h"
#include "tools/mkimage/recordbuilder.h"
#include "tests/support/scriptedoperator.h"
#include "tests/support/testunit.h"
#include "tests/support/waits.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

// A whole-flash image from address 0 up to length: below flashStart a
// pattern that must never reach the unit, then pseudo-random area bytes
// (varied by salt) ending in the area's checksum word for the seed.
std::vector<uint8_t> BuildImage(uint32_t flashStart, uint32_t length, uint16_t seed, uint32_t salt = 1);
void LoadStream(TMemoryStream& stream, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> StreamBytes(const TMemoryStream& stream);

class TRecordingStatus : public TStatusText {
public:
    void SetText(const std::string& text) override { Texts.push_back(text); }
    std::vector<std::string> Texts;
};

class TRecordingProgress : public TProgressView {
public:
    void SetRange(int minimum, int maximum) override
    {
        Minimum = minimum;
        Maximum = maximum;
        Ranges.push_back(maximum);
    }
    void SetStep(int step) override { Step = step; }
    void SetPosition(int position) override { CurrentPosition = position; }
    int Position() const override { return CurrentPosition; }
    int Minimum = -1;
    int Maximum = -1;
    int Step = -1;
    int CurrentPosition = -1;
    std::vector<int> Ranges;
};

// A prompt that remembers what was asked of it and can cancel at a chosen
// query (counted from 1; 0 never cancels).
class TScriptedPrompt : public TUserPrompt {
public:
    using TUserPrompt::TUserPrompt;
    void ShowPrompt(const std::string& text) override
    {
        Shown.push_back(text);
        Visible = true;
    }
    bool PromptCancelled() override { return CancelAtQuery > 0 && ++Queries >= CancelAtQuery; }
    void HidePrompt() override
    {
        ++Hides;
        Visible = false;
    }
    std::vector<std::string> Shown;
    int Hides = 0;
    bool Visible = false;
    int Queries = 0;
    int CancelAtQuery = 0;
};

// A failure the keep-alive reported, with its exact class.
struct TBackgroundFailure {
    std::string Message;
    std::type_index Class;
};

// The test is the operator the targets reach for as long as it runs: every
// target gets a scripted prompt, and background failures are kept.
class UnitTest : public ::testing::Test, private TOperatorHooks {
protected:
    void TearDown() override;

    void StartUnit(const TUnitSimOptions& options);
    // A unit of the model with these faults, and with ConnectModel its
    // target connected by the user method.
    void StartModel(uint32_t unitType, std::vector<TUnitFault> faults = {});
    void ConnectModel(uint32_t unitType, std::vector<TUnitFault> faults = {});
    // Builds the model's target through the factory, with the caller's port
    // set to the unit's pseudo-terminal, and records what it reports.
    void NewTarget(uint32_t unitType, uint8_t method);
    TFlashFDTDevice& Device() { return *Target->Device(); }
    // The image for the running unit's model with the unit's seed.
    std::vector<uint8_t> ModelImage(uint32_t salt = 1) const;
    // The programming run itself, for a record of the image (the running
    // unit's model), its operator answering with the unit's port.
    TScriptedOperator& RunOperatorFor(const std::vector<uint8_t>& image);

    TUnitSimOptions Options;
    std::unique_ptr<TTestUnit> Unit;
    TMorvexComPort CallerConnectPort;
    TMorvexComPort CallerProgramPort;
    TRecordingStatus Status;
    TRecordingProgress Progress;
    TScriptedPrompt* Prompt = nullptr; // the target's own prompt
    int PromptCancelAtQuery = 0;       // for the next target
    std::vector<TBackgroundFailure> BackgroundFailures;
    std::unique_ptr<THitachiFlash> Target;
    TBuiltRecord RunRecord;
    std::unique_ptr<TScriptedOperator> RunOperator;

private:
    TUserPrompt* CreatePrompt(QObject* owner) override;
    void BackgroundFailure(const std::exception& failure) override;

    TOperatorHooksScope FHooks{*this};
};

// Runs f and expects it to fail with exactly class E and this message.
template <class E, class F>
void ExpectFailure(F&& f, const std::string& message)
{
    try {
        f();
        ADD_FAILURE() << "no failure; expected \"" << message << "\"";
    } catch (const E& e) {
        EXPECT_EQ(typeid(e), typeid(E)) << "a subclass of the expected class: " << typeid(e).name();
        EXPECT_EQ(e.Message(), message);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong class " << typeid(e).name() << ": " << e.what() << "; expected \"" << message << "\"";
    }
}

TUnitFault Fault(TFaultKind kind, TFramePhase phase, int index, std::vector<uint8_t> bytes = {},
                 std::optional<uint32_t> value = std::nullopt);
