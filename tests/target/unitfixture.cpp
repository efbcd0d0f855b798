#include "unitfixture.h"

#include <cstdio>

std::vector<uint8_t> BuildImage(uint32_t flashStart, uint32_t length, uint16_t seed, uint32_t salt)
{
    std::vector<uint8_t> image(length);
    for (uint32_t i = 0; i < std::min(flashStart, length); ++i) image[i] = static_cast<uint8_t>(0x5A ^ (i & 0x0F));
    uint32_t x = salt * 2654435761u + 12345u;
    for (uint32_t i = flashStart; i < length; ++i) {
        x = x * 1664525u + 1013904223u;
        image[i] = static_cast<uint8_t>(x >> 24);
    }
    if (length >= flashStart + 2) {
        uint16_t sum = seed;
        for (uint32_t i = flashStart; i < length - 2; ++i) sum = static_cast<uint16_t>(sum + image[i]);
        image[length - 2] = static_cast<uint8_t>(sum >> 8);
        image[length - 1] = static_cast<uint8_t>(sum);
    }
    return image;
}

void LoadStream(TMemoryStream& stream, const std::vector<uint8_t>& bytes)
{
    stream.Clear();
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.SetPosition(0);
}

std::vector<uint8_t> StreamBytes(const TMemoryStream& stream)
{
    return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.Size());
}

TUnitFault Fault(TFaultKind kind, TFramePhase phase, int index, std::vector<uint8_t> bytes,
                 std::optional<uint32_t> value)
{
    TUnitFault fault;
    fault.Kind = kind;
    fault.Phase = phase;
    fault.Index = index;
    fault.Bytes = std::move(bytes);
    fault.Value = value;
    return fault;
}

void UnitTest::TearDown()
{
    // What the unit saw explains most failures; the tail is enough.
    if (HasFailure() && Unit) std::fprintf(stderr, "Unit transcript (tail):\n%s", Unit->DescribeTail(60).c_str());
    RunOperator.reset();
    Target.reset();
    Unit.reset();
}

void UnitTest::StartUnit(const TUnitSimOptions& options)
{
    Options = options;
    Unit = std::make_unique<TTestUnit>(options);
}

void UnitTest::StartModel(uint32_t unitType, std::vector<TUnitFault> faults)
{
    TUnitSimOptions options;
    options.UnitType = unitType;
    options.Faults = std::move(faults);
    StartUnit(options);
}

void UnitTest::ConnectModel(uint32_t unitType, std::vector<TUnitFault> faults)
{
    StartModel(unitType, std::move(faults));
    NewTarget(unitType, kUserMethod);
    Target->Connect();
}

void UnitTest::NewTarget(uint32_t unitType, uint8_t method)
{
    CallerConnectPort.SetPort(Unit->PortPath());
    TConnectInfo info;
    info.Method = method;
    info.ConnectPort = &CallerConnectPort;
    info.ProgramPort = &CallerProgramPort;
    Prompt = nullptr;
    CreateFlashTarget(unitType, Target, &Status, &Progress, info);
}

TUserPrompt* UnitTest::CreatePrompt(QObject* owner)
{
    auto* prompt = new TScriptedPrompt(owner);
    prompt->CancelAtQuery = PromptCancelAtQuery;
    Prompt = prompt;
    return prompt;
}

void UnitTest::BackgroundFailure(const std::exception& failure)
{
    BackgroundFailures.push_back(TBackgroundFailure{failure.what(), typeid(failure)});
}

std::vector<uint8_t> UnitTest::ModelImage(uint32_t salt) const
{
    const uint32_t start = ModelFlashStart(Options.UnitType);
    return BuildImage(start, start + ModelFlashSize(Options.UnitType), Options.ChecksumSeed, salt);
}

TScriptedOperator& UnitTest::RunOperatorFor(const std::vector<uint8_t>& image)
{
    RunOperator.reset();
    RunRecord = BuildStoredImageWithDigest(image, "Test run", Options.UnitType, GetPassPhrase());
    RunOperator = std::make_unique<TScriptedOperator>(*RunRecord.Record, RunRecord.Digest);
    RunOperator->Answers.PortPath = Unit->Terminal();
    return *RunOperator;
}
