// Whole programming runs against the simulated unit for each family and
// both connection methods, the target's own checks before anything is
// erased, the programmer's any-length images, the verify comparison and
// the keep-alive between steps.
#include "unitfixture.h"

#include "protocol/compare.h"
#include "core/format.h"

#include <QTimer>
#include <algorithm>

namespace {

std::vector<uint8_t> Field(uint32_t value)
{
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

struct TRunCase {
    uint32_t UnitType;
    uint8_t Method;
};

void PrintTo(const TRunCase& c, std::ostream* os)
{
    *os << "type " << c.UnitType << (c.Method == kUserMethod ? ", user method" : ", boot method");
}

std::string RunName(const ::testing::TestParamInfo<TRunCase>& info)
{
    return "Type" + std::to_string(info.param.UnitType) + (info.param.Method == kUserMethod ? "User" : "Boot");
}

class WholeRunTest : public UnitTest, public ::testing::WithParamInterface<TRunCase> {};

// The programming run itself, answered by the scripted operator, with a
// record of the family's image: the boot method after the user method has
// failed, as an operator who says Yes to the question gets it.
TEST_P(WholeRunTest, FlashHoldsTheImagesAreaAndNothingBelowItChanges)
{
    const TRunCase& c = GetParam();
    TUnitSimOptions options;
    options.UnitType = c.UnitType;
    if (c.Method == kBootMethod) {
        options.FirmwareAnswersUserCommand = false;
        options.AutoResetAfterConnectWords = 1;
    }
    StartUnit(options);
    const std::vector<uint8_t> old = OldFirmware();
    Unit->LoadFlash(0, old);
    const std::vector<uint8_t> image = ModelImage(c.UnitType + 11);
    TScriptedOperator& runOperator = RunOperatorFor(image);
    runOperator.Answers.BootYes = true;

    const TRunOutcome outcome = runOperator.Execute();

    ASSERT_TRUE(outcome.Succeeded) << outcome.FailureClass << ": " << outcome.Message;
    EXPECT_EQ(outcome.Question.empty(), c.Method == kUserMethod) << outcome.Question;
    const uint32_t start = ModelFlashStart(c.UnitType);
    const uint32_t size = ModelFlashSize(c.UnitType);
    const uint32_t end = start + size;
    ASSERT_EQ(end, image.size());
    const std::vector<uint8_t> flash = Unit->Flash();
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + start, old.begin())) << "below the area";
    EXPECT_TRUE(std::equal(flash.begin() + start, flash.begin() + end, image.begin() + start)) << "the area";
    EXPECT_TRUE(std::equal(flash.begin() + end, flash.end(), old.begin() + end)) << "above the area";

    EXPECT_EQ(Unit->Frame("erase start")->Plain, Field(start));
    EXPECT_EQ(Unit->Frame("erase length")->Plain, Field(size));
    EXPECT_EQ(Unit->Frame("program start")->Plain, Field(start));
    EXPECT_EQ(Unit->Frame("program size")->Plain, Field(size));
    EXPECT_EQ(Unit->CountFramesStartingWith("program block "), (size + 127) / 128);
    EXPECT_EQ(Unit->CountFramesStartingWith("complaint"), 0u);

    std::vector<std::string> steps;
    for (const std::string& text : outcome.StatusTexts)
        if (steps.empty() || steps.back() != text) steps.push_back(text);
    EXPECT_EQ(steps, (std::vector<std::string>{"Connecting...", "Erasing FLASH...", "Programming FLASH...",
                                               "Reading contents of FLASH..."}));
    Unit->ExpectPortReleased();
    EXPECT_TRUE(Unit->WaitForState(usFirmware, 2000));
}

INSTANTIATE_TEST_SUITE_P(Families, WholeRunTest,
                         ::testing::Values(TRunCase{1, kUserMethod}, TRunCase{1, kBootMethod}, TRunCase{3, kUserMethod},
                                           TRunCase{3, kBootMethod}, TRunCase{5, kUserMethod}, TRunCase{5, kBootMethod},
                                           TRunCase{0, kUserMethod}, TRunCase{0, kBootMethod}),
                         RunName);

// ------------------------------------------------- checks before the erase

class CheckTest : public UnitTest {
protected:
    // Connects a 4620 and runs the steps up to the erase, as a run would.
    void CheckThenErase(const std::vector<uint8_t>& image, std::vector<TUnitFault> faults = {})
    {
        ConnectModel(3, std::move(faults));
        TMemoryStream stream;
        LoadStream(stream, image);
        Target->Check(stream);
        Target->Erase();
    }
    void ExpectNothingErased()
    {
        EXPECT_FALSE(Unit->HasFrame("erase command"));
        EXPECT_EQ(Unit->Flash(), std::vector<uint8_t>(kSimFlashBytes, 0xFF));
    }
};

TEST_F(CheckTest, ImageThatDoesNotFitTheUnitNeverReachesTheErase)
{
    const uint16_t seed = TUnitSimOptions().ChecksumSeed;
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Image;
        const char* Message;
    };
    std::vector<uint8_t> corrupt = BuildImage(0x800, 0x8000, seed);
    corrupt[0x1234] ^= 0x01;
    const std::vector<TCase> cases = {
        {"one byte longer", BuildImage(0x800, 0x8001, seed), "Flash Size doesn't match Image Size"},
        {"one byte shorter", BuildImage(0x800, 0x7FFF, seed), "Flash Size doesn't match Image Size"},
        {"no area at all", BuildImage(0x800, 0x800, seed), "Flash Size doesn't match Image Size"},
        {"checksum for another seed", BuildImage(0x800, 0x8000, static_cast<uint16_t>(seed + 1)),
         "Flash and Image Checksums don't match"},
        {"one bit changed", corrupt, "Flash and Image Checksums don't match"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ExpectFailure<EFDTException>([&] { CheckThenErase(c.Image); }, c.Message);
        ExpectNothingErased();
    }
}

TEST_F(CheckTest, IdentityFailureDuringTheCheckNeverReachesTheErase)
{
    const std::vector<uint8_t> image = BuildImage(0x800, 0x8000, TUnitSimOptions().ChecksumSeed);
    // Identity replies: 0 the link's ping, 1 the connection's check, 2 the image check.
    ExpectFailure<EMorvexComTimeout>([&] { CheckThenErase(image, {Fault(fkSilence, fpIdentity, 2)}); },
                                     "No Reply Within Time Out Period");
    ExpectNothingErased();

    std::vector<uint8_t> garbage(40, 'x');
    ExpectFailure<EConvertError>([&] { CheckThenErase(image, {Fault(fkWrongReply, fpIdentity, 2, garbage)}); },
                                 "Bad Device Identity String");
    ExpectNothingErased();

    // A unit that now reports another size refuses the image.
    ExpectFailure<EFDTException>([&] { CheckThenErase(image, {Fault(fkWrongSize, fpIdentity, 2)}); },
                                 "Flash Size doesn't match Image Size");
    ExpectNothingErased();
}

// ---------------------------------------------------------------- programmer

class ProgrammerTest : public UnitTest {
protected:
    void SetUp() override { ConnectModel(0); }
};

TEST_F(ProgrammerTest, ShortImageIsPaddedWrittenAndVerifiedByItsOwnLength)
{
    const std::vector<uint8_t> image = BuildImage(0, 100, 0, 5);
    Unit->LoadFlash(0, OldFirmware());
    TMemoryStream stream;
    LoadStream(stream, image);
    Target->Check(stream);
    Target->Erase();
    Target->Program(stream);
    Target->Verify(stream);

    EXPECT_EQ(Unit->Frame("erase length")->Plain, Field(0x20000));
    EXPECT_EQ(Unit->Frame("program size")->Plain, Field(128));
    EXPECT_EQ(Unit->Frame("read length")->Plain, Field(128));
    const std::vector<uint8_t> flash = Unit->Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + 100, flash.end(), [](uint8_t b) { return b == 0xFF; }));
    // The image the caller holds keeps its length.
    EXPECT_EQ(stream.Size(), 100);
}

TEST_F(ProgrammerTest, ImageLongerThanTheFlashIsRefusedBeforeTheErase)
{
    TMemoryStream stream;
    LoadStream(stream, BuildImage(0, 0x20001, 0));
    ExpectFailure<EFDTException>([&] { Target->Check(stream); }, "Image Size too big for Flash");
    ExpectFailure<EFDTException>([&] { Target->Program(stream); }, "Image Size too big for Flash");
    EXPECT_FALSE(Unit->HasFrame("erase command"));
    EXPECT_FALSE(Unit->HasFrame("program command"));
}

class TRecordingDialogs : public TMessageDialogs {
public:
    TModalResult MessageDlg(const std::string& text, TMsgDlgType, TMsgDlgButtons buttons) override
    {
        Texts.push_back(text);
        return buttons == mbYesNoCancel ? mrYes : mrOk;
    }
    std::vector<std::string> Texts;
};

TEST_F(ProgrammerTest, VerifyReportsFlashThatDiffersFromTheImage)
{
    const std::vector<uint8_t> image = BuildImage(0, 256, 0, 9);
    TMemoryStream stream;
    LoadStream(stream, image);
    Target->Erase();
    Target->Program(stream);
    // A cell that did not take its value.
    Unit->LoadFlash(0x10, {0x00});
    const uint8_t expected = image[0x10];
    ASSERT_NE(expected, 0x00);
    ExpectFailure<ECompareException>([&] { Target->Verify(stream); },
                                     "Verify:\rFound 1 discrepencies starting at address 0x10.");

    // The interactive comparison shows its boxes through the dialogs it was given.
    TRecordingDialogs dialogs;
    Target->SetCompareDialogs(&dialogs);
    EXPECT_NO_THROW(Target->VerifyImage(stream, false));
    ASSERT_EQ(dialogs.Texts.size(), 2u);
    EXPECT_EQ(dialogs.Texts[0], Format("No Match at 16 (0x10). File: %0.2x, Buf: 00. ", expected) +
                                    "Show future discrepencies (Yes/No) or cancel now?");
    // Without dialogs it asks nobody and raises nothing.
    Target->SetCompareDialogs(nullptr);
    EXPECT_NO_THROW(Target->VerifyImage(stream, false));
    EXPECT_EQ(dialogs.Texts.size(), 2u);
}

// ---------------------------------------------------------------- keep-alive

using KeepAliveTest = UnitTest;

// The programming run itself, with the keep-alive made far more frequent
// than the steps' own pauses last once the unit is connected: every pause
// and every block gives the timer a chance to fire inside an exchange.
TEST_F(KeepAliveTest, PingsTheIdleLinkButNeverInsideAnExchange)
{
    StartModel(3);
    const std::vector<uint8_t> image = ModelImage();
    TScriptedOperator& runOperator = RunOperatorFor(image);
    bool activeAtTheEnd = false;
    // The target exists from the connection on.
    auto keepAlive = [&runOperator] { return runOperator.Run().Flash()->Device()->KeepAliveTimer(); };
    runOperator.OnStep = [&](TRunStep step) {
        if (step == TRunStep::Decipher) {
            keepAlive()->setInterval(5);
            const size_t afterConnect = Unit->CountFrames("identity query");
            EXPECT_TRUE(WaitUntil([&] { return Unit->CountFrames("identity query") >= afterConnect + 2; }, 2000));
        }
        if (step == TRunStep::Reset) activeAtTheEnd = keepAlive()->isActive();
    };

    const TRunOutcome outcome = runOperator.Execute();

    ASSERT_TRUE(outcome.Succeeded) << outcome.FailureClass << ": " << outcome.Message;
    EXPECT_EQ(Unit->CountFramesStartingWith("complaint"), 0u);
    EXPECT_EQ(Unit->CountFramesStartingWith("unrecognised"), 0u);
    const std::vector<uint8_t> flash = Unit->Flash();
    EXPECT_TRUE(std::equal(flash.begin() + 0x800, flash.begin() + 0x8000, image.begin() + 0x800));
    EXPECT_TRUE(activeAtTheEnd);
}

TEST_F(KeepAliveTest, FailedPingIsReportedOnceAndStopsTheTimer)
{
    TUnitSimOptions options;
    options.UnitType = 5;
    // Identity replies: 0 the link's ping, 1 the connection's check, 2 the first keep-alive.
    options.Faults = {Fault(fkSilence, fpIdentity, 2)};
    StartUnit(options);
    NewTarget(5, kUserMethod);
    Device().KeepAliveTimer()->setInterval(30);
    Target->Connect();

    WaitUntil([&] { return !BackgroundFailures.empty(); }, 2000);
    ASSERT_EQ(BackgroundFailures.size(), 1u);
    EXPECT_EQ(BackgroundFailures[0].Message, "No Reply Within Time Out Period");
    EXPECT_EQ(BackgroundFailures[0].Class, typeid(EMorvexComTimeout));
    EXPECT_FALSE(Device().KeepAliveTimer()->isActive());
    const size_t queries = Unit->CountFrames("identity query");
    EXPECT_EQ(queries, 3u);
    RunEvents(200);
    EXPECT_EQ(Unit->CountFrames("identity query"), queries);
    EXPECT_EQ(BackgroundFailures.size(), 1u);
}

} // namespace
