// The flash operations on the line: the erase, program and read frames
// byte by byte, and every failure of those operations with its text and
// class.
#include "unitfixture.h"

#include <QTimer>
#include <algorithm>

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }
std::vector<uint8_t> Field(uint32_t value)
{
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

class FlashOpsTest : public UnitTest {
protected:
    // The host and unit frames from the first one with this label on,
    // leaving out the unit's own events.
    std::vector<TSimFrame> FramesFrom(const std::string& label) const
    {
        std::vector<TSimFrame> frames;
        bool found = false;
        for (TSimFrame& frame : Unit->Transcript()) {
            found = found || frame.Label == label;
            if (found && frame.Direction != sdEvent) frames.push_back(std::move(frame));
        }
        return frames;
    }

    static std::vector<std::string> Labels(const std::vector<TSimFrame>& frames, size_t count)
    {
        std::vector<std::string> labels;
        for (size_t i = 0; i < std::min(count, frames.size()); ++i) labels.push_back(frames[i].Label);
        return labels;
    }

    int32_t ReplyTimeout() { return Device().Channel()->Timeouts().ReadTotalConstant(); }
};

TEST_F(FlashOpsTest, EraseFrameCoversTheModelsAreaAndEndsWithAPing)
{
    ConnectModel(3);
    Unit->LoadFlash(0, std::vector<uint8_t>(kSimFlashBytes, 0x00));
    Target->Erase();

    const std::vector<TSimFrame> frames = FramesFrom("erase command");
    ASSERT_EQ(Labels(frames, 5), (std::vector<std::string>{"erase command", "erase start", "erase length",
                                                           "erase status", "identity query"}));
    EXPECT_EQ(frames[0].Plain, Bytes("ERAS"));
    EXPECT_EQ(frames[1].Plain, Field(0x800));
    EXPECT_EQ(frames[2].Plain, Field(0x7800));
    EXPECT_EQ(frames[3].Plain, Bytes("$"));

    const std::vector<uint8_t> flash = Unit->Flash();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 0x800, [](uint8_t b) { return b == 0x00; }));
    EXPECT_TRUE(std::all_of(flash.begin() + 0x800, flash.begin() + 0x8000, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::all_of(flash.begin() + 0x8000, flash.end(), [](uint8_t b) { return b == 0x00; }));
    EXPECT_EQ(Status.Texts.back(), "Erasing FLASH...");
    EXPECT_EQ(Progress.Maximum, 1);
    EXPECT_EQ(Progress.CurrentPosition, 1);
    EXPECT_EQ(ReplyTimeout(), 500);
    EXPECT_FALSE(Device().InOperation());
}

// An erase status may take seconds. Meanwhile the application handles its
// events (a window keeps painting, a Cancel is seen), yet the keep-alive,
// whose 1-second timer fires in that time, sends nothing into the exchange.
TEST_F(FlashOpsTest, ASlowEraseKeepsEventsFlowingWithoutASecondExchange)
{
    ConnectModel(3, {Fault(fkSlowReply, fpErase, 0, {}, 2500)});
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    Target->Erase();
    timer.stop();
    // 2.5 s of 20 ms ticks; none at all while a read waits without events.
    EXPECT_GE(ticks, 25);
    EXPECT_EQ(Labels(FramesFrom("erase command"), 5),
              (std::vector<std::string>{"erase command", "erase start", "erase length",
                                        "erase status (slow@erase#0=2500)", "identity query"}));
    EXPECT_FALSE(Device().InOperation());
}

TEST_F(FlashOpsTest, ProgramFrameOfA256ByteImage)
{
    ConnectModel(0);
    const std::vector<uint8_t> image = BuildImage(0, 256, 0, 7);
    TMemoryStream stream;
    LoadStream(stream, image);
    Target->Program(stream);

    const std::vector<TSimFrame> frames = FramesFrom("program command");
    ASSERT_EQ(Labels(frames, 11),
              (std::vector<std::string>{"program command", "program start", "program size", "program block 0",
                                        "block status", "block acknowledge", "program block 1", "block status",
                                        "closing acknowledge", "program status", "identity query"}));
    EXPECT_EQ(frames[0].Plain, Bytes("PROG"));
    EXPECT_EQ(frames[1].Plain, Field(0));
    EXPECT_EQ(frames[2].Plain, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(frames[3].Plain, std::vector<uint8_t>(image.begin(), image.begin() + 128));
    EXPECT_EQ(frames[4].Plain, std::vector<uint8_t>{0x00});
    EXPECT_EQ(frames[5].Plain, std::vector<uint8_t>{0x00});
    EXPECT_EQ(frames[6].Plain, std::vector<uint8_t>(image.begin() + 128, image.end()));
    EXPECT_EQ(frames[8].Plain, std::vector<uint8_t>{0x00});
    EXPECT_EQ(frames[9].Plain, Bytes("#"));

    const std::vector<uint8_t> flash = Unit->Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_EQ(Status.Texts.back(), "Programming FLASH...");
    EXPECT_EQ(Progress.Maximum, 256);
    EXPECT_EQ(Progress.CurrentPosition, 256);
    // The program status time-out stays in force after programming.
    EXPECT_EQ(ReplyTimeout(), 5000);
}

TEST_F(FlashOpsTest, ReadOf70BytesTakesThreeBlocksAndThreeAcknowledges)
{
    ConnectModel(3);
    std::vector<uint8_t> contents(70);
    for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<uint8_t>(i * 7 + 1);
    Unit->LoadFlash(0x900, contents);
    TMemoryStream stream;
    LoadStream(stream, std::vector<uint8_t>(500, 0xEE));
    Device().ReadRange(stream, 0x900, 0x900 + 70);

    EXPECT_EQ(StreamBytes(stream), contents);
    const std::vector<TSimFrame> frames = FramesFrom("read command");
    ASSERT_EQ(Labels(frames, 10), (std::vector<std::string>{"read command", "read start", "read length", "read block 0",
                                                            "read acknowledge", "read block 1", "read acknowledge",
                                                            "read block 2", "read acknowledge", "identity query"}));
    EXPECT_EQ(frames[0].Plain, Bytes("READ"));
    EXPECT_EQ(frames[1].Plain, Field(0x900));
    EXPECT_EQ(frames[2].Plain, Field(70));
    EXPECT_EQ(frames[3].Plain.size(), 32u);
    EXPECT_EQ(frames[5].Plain.size(), 32u);
    EXPECT_EQ(frames[7].Plain.size(), 6u);
    for (size_t i : {4u, 6u, 8u}) EXPECT_EQ(frames[i].Plain, std::vector<uint8_t>{0x00});
    EXPECT_EQ(Status.Texts.back(), "Reading contents of FLASH...");
    EXPECT_EQ(Progress.Maximum, 70);
    EXPECT_EQ(Progress.CurrentPosition, 70);
}

TEST_F(FlashOpsTest, EmptyReadAndEmptyProgramStillCloseTheirExchange)
{
    ConnectModel(5);
    TMemoryStream stream;
    LoadStream(stream, {1, 2, 3});
    Device().ReadRange(stream, 0x1000, 0x1000);
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(
        Labels(FramesFrom("read command"), 5),
        (std::vector<std::string>{"read command", "read start", "read length", "read acknowledge", "identity query"}));

    TMemoryStream empty;
    Device().WriteFlash(empty, 0x1000);
    EXPECT_EQ(Labels(FramesFrom("program command"), 6),
              (std::vector<std::string>{"program command", "program start", "program size", "closing acknowledge",
                                        "program status", "identity query"}));
}

TEST_F(FlashOpsTest, EraseFailuresAndTheTimeOutRestoredAfterThem)
{
    ConnectModel(3, {Fault(fkWrongReply, fpErase, 0, Bytes("%")), Fault(fkWrongReply, fpErase, 1, Bytes("X")),
                     Fault(fkSilence, fpErase, 2)});
    Device().Timeouts().Transfer = 300;
    ExpectFailure<EFDTException>([&] { Target->Erase(); }, "Erase Failed: Device Failure");
    EXPECT_EQ(ReplyTimeout(), 500);
    EXPECT_FALSE(Device().InOperation());
    ExpectFailure<EFDTException>([&] { Target->Erase(); }, "Erase Failed: Unexpected Reply");
    EXPECT_EQ(ReplyTimeout(), 500);
    ExpectFailure<EMorvexComTimeout>([&] { Target->Erase(); }, "No Reply Within Time Out Period");
    EXPECT_EQ(ReplyTimeout(), 500);
    EXPECT_FALSE(Device().InOperation());
    // The link is still in step after each of them.
    EXPECT_NO_THROW(Target->Erase());
}

TEST_F(FlashOpsTest, ClosingPingWithoutAnswerFailsTheOperation)
{
    // Identity replies: 0 the link's ping, 1 the connection's check, 2 the erase's ping.
    ConnectModel(3, {Fault(fkSilence, fpIdentity, 2)});
    ExpectFailure<EMorvexComTimeout>([&] { Target->Erase(); }, "No Reply Within Time Out Period");
}

TEST_F(FlashOpsTest, PortFailureDuringAnOperationPassesOnUnchanged)
{
    ConnectModel(3, {Fault(fkHangUp, fpErase, 0)});
    try {
        Target->Erase();
        ADD_FAILURE() << "erase succeeded on a line that hung up";
    } catch (const EComPort& e) {
        EXPECT_EQ(typeid(e), typeid(EComPort)) << e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << typeid(e).name() << ": " << e.what();
    }
    EXPECT_FALSE(Device().InOperation());
}

struct TWriteCase {
    const char* Name;
    TUnitFault UnitFault;
    const char* Message; // empty: programming succeeds
};

void PrintTo(const TWriteCase& c, std::ostream* os) { *os << c.Name; }

class WriteFlashTest : public FlashOpsTest, public ::testing::WithParamInterface<TWriteCase> {};

TEST_P(WriteFlashTest, StatusOfBlocksAndClosingExchange)
{
    const TWriteCase& c = GetParam();
    ConnectModel(5, {c.UnitFault});
    Device().Timeouts().Transfer = 300;
    const std::vector<uint8_t> image = BuildImage(0, 384, 0, 3);
    TMemoryStream stream;
    LoadStream(stream, image);
    if (std::string(c.Message).empty()) {
        EXPECT_NO_THROW(Device().WriteFlash(stream, 0x1000));
    } else {
        ExpectFailure<EFDTException>([&] { Device().WriteFlash(stream, 0x1000); }, c.Message);
    }
    EXPECT_FALSE(Device().InOperation());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WriteFlashTest,
    ::testing::Values(TWriteCase{"BlockSilent", Fault(fkSilence, fpProgramBlock, 1), "Write Failed: No reply"},
                      TWriteCase{"BlockHangUp", Fault(fkHangUp, fpProgramBlock, 0), "Write Failed: No reply"},
                      TWriteCase{"BlockStatusWrong", Fault(fkWrongReply, fpProgramBlock, 1, {0x25}),
                                 "Write Failed: Unexpected response"},
                      TWriteCase{"ClosingStatusZero", Fault(fkWrongReply, fpProgramClose, 0, {0x00}),
                                 "Write Failed: Unexpected response"},
                      TWriteCase{"ClosingSilent", Fault(fkSilence, fpProgramClose, 0),
                                 "Write Failed: Unexpected response"},
                      TWriteCase{"ClosingQuote", Fault(fkWrongReply, fpProgramClose, 0, {'"'}), ""}),
    [](const ::testing::TestParamInfo<TWriteCase>& info) { return std::string(info.param.Name); });

TEST_F(FlashOpsTest, EarlyFinishStopsTheTransferWithoutClosingExchange)
{
    ConnectModel(5, {Fault(fkWrongReply, fpProgramBlock, 0, Bytes("#"))});
    TMemoryStream stream;
    LoadStream(stream, BuildImage(0, 384, 0, 3));
    Device().WriteFlash(stream, 0x1000);
    const std::vector<TSimFrame> frames = FramesFrom("program command");
    ASSERT_EQ(Labels(frames, 4),
              (std::vector<std::string>{"program command", "program start", "program size", "program block 0"}));
    ASSERT_GE(frames.size(), 6u);
    EXPECT_EQ(frames[4].Label.rfind("block status", 0), 0u);
    EXPECT_EQ(frames[4].Plain, Bytes("#"));
    EXPECT_EQ(frames[5].Label, "identity query");
    EXPECT_FALSE(Unit->HasFrame("closing acknowledge"));
    EXPECT_EQ(Progress.CurrentPosition, 0);
}

TEST_F(FlashOpsTest, ReadFailuresByBlock)
{
    ConnectModel(3, {Fault(fkSilence, fpReadBlock, 0)});
    TMemoryStream stream;
    LoadStream(stream, {9, 8, 7});
    ExpectFailure<EMorvexComTimeout>([&] { Device().ReadRange(stream, 0x800, 0x800 + 96); },
                                     "No Reply Within Time Out Period");
    EXPECT_EQ(StreamBytes(stream), (std::vector<uint8_t>{9, 8, 7}));

    ConnectModel(3, {Fault(fkSilence, fpReadBlock, 1)});
    ExpectFailure<EFDTException>([&] { Device().ReadRange(stream, 0x800, 0x800 + 96); }, "Read Failed: No reply");

    ConnectModel(3, {Fault(fkShortReply, fpReadBlock, 2)});
    ExpectFailure<EFDTException>([&] { Device().ReadRange(stream, 0x800, 0x800 + 96); }, "Read Failed: No reply");
    EXPECT_FALSE(Device().InOperation());
}

TEST_F(FlashOpsTest, ResetSendsTheWordAloneAndTheUnitRunsItsFirmware)
{
    ConnectModel(3);
    Target->Reset();
    ASSERT_TRUE(Unit->WaitForState(usFirmware, 2000));
    const std::vector<TSimFrame> frames = FramesFrom("reset");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Plain, Bytes("RSET"));
}

} // namespace
