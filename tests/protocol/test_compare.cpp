// Image comparison and stream padding.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "protocol/compare.h"

namespace {

void Load(TMemoryStream& stream, const std::vector<uint8_t>& bytes)
{
    stream.Clear();
    if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

std::vector<uint8_t> Contents(const TMemoryStream& stream)
{
    return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.Size());
}

// Records every box and answers from a script (Yes when the script runs out).
class TScriptedDialogs : public TMessageDialogs {
public:
    struct TBox {
        std::string Text;
        TMsgDlgType Type;
        TMsgDlgButtons Buttons;
    };
    explicit TScriptedDialogs(std::deque<TModalResult> answers = {}) : FAnswers(std::move(answers)) {}

    TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) override
    {
        Boxes.push_back({text, type, buttons});
        if (buttons == mbOK) return mrOk;
        if (FAnswers.empty()) return mrYes;
        const TModalResult answer = FAnswers.front();
        FAnswers.pop_front();
        return answer;
    }

    std::vector<TBox> Boxes;

private:
    std::deque<TModalResult> FAnswers;
};

std::string VerifyMessage(const std::vector<uint8_t>& file, const std::vector<uint8_t>& flash)
{
    TMemoryStream f, b;
    Load(f, file);
    Load(b, flash);
    try {
        VerifyBuffers(f, b);
    } catch (const ECompareException& e) {
        return e.Message();
    }
    return "(no exception)";
}

TEST(PadStream, AddsFillBytesUpToTheNewSize)
{
    TMemoryStream s;
    Load(s, std::vector<uint8_t>(200, 0x11));
    PadStream(s, 256, 0xFF);
    ASSERT_EQ(s.Size(), 256);
    const std::vector<uint8_t> bytes = Contents(s);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 200), std::vector<uint8_t>(200, 0x11));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 200, bytes.end()), std::vector<uint8_t>(56, 0xFF));
}

TEST(PadStream, LeavesALongEnoughStreamUnchanged)
{
    TMemoryStream s;
    Load(s, std::vector<uint8_t>(200, 0x11));
    PadStream(s, 100, 0xFF);
    PadStream(s, 200, 0xFF);
    EXPECT_EQ(Contents(s), std::vector<uint8_t>(200, 0x11));
}

TEST(PadStream, PadsAnEmptyStream)
{
    TMemoryStream s;
    PadStream(s, 3, 0xA5);
    EXPECT_EQ(Contents(s), (std::vector<uint8_t>{0xA5, 0xA5, 0xA5}));
}

TEST(FillStream, OverwritesInsideAndGrowsPastTheEnd)
{
    TMemoryStream s;
    Load(s, {1, 2, 3, 4});
    FillStream(s, 1, 2, 0xEE);
    EXPECT_EQ(Contents(s), (std::vector<uint8_t>{1, 0xEE, 0xEE, 4}));
    FillStream(s, 3, 3, 0x77);
    EXPECT_EQ(Contents(s), (std::vector<uint8_t>{1, 0xEE, 0xEE, 0x77, 0x77, 0x77}));
    FillStream(s, 8, 1, 0x55); // the gap gets the stream's own new bytes, the target the value
    ASSERT_EQ(s.Size(), 9);
    EXPECT_EQ(s.Memory()[8], 0x55);
}

TEST(FillStream, RefusesANegativeOffsetAndIgnoresAnEmptyCount)
{
    TMemoryStream s;
    Load(s, {1, 2});
    FillStream(s, 1, 0, 0xEE);
    FillStream(s, 5, -3, 0xEE);
    EXPECT_EQ(Contents(s), (std::vector<uint8_t>{1, 2}));
    EXPECT_THROW(FillStream(s, -1, 2, 0xEE), Exception);
    EXPECT_EQ(Contents(s), (std::vector<uint8_t>{1, 2}));
}

TEST(VerifyBuffers, AcceptsEqualBuffersAndLeavesThemUnchanged)
{
    TMemoryStream f, b;
    Load(f, {1, 2, 3});
    Load(b, {1, 2, 3});
    EXPECT_NO_THROW(VerifyBuffers(f, b));
    EXPECT_EQ(Contents(f), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Contents(b), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(f.Position(), 3);
    EXPECT_EQ(b.Position(), 3);
}

TEST(VerifyBuffers, ReportsSizeAndFirstDifferenceOnCarriageReturnLines)
{
    EXPECT_EQ(VerifyMessage({1, 2, 3, 4}, {1, 2, 0, 0, 0}),
              "Verify:\rFile size (4) does not match Flash size (5).\rFound 2 discrepencies starting at address 0x2.");
}

TEST(VerifyBuffers, ReportsASizeDifferenceAlone)
{
    EXPECT_EQ(VerifyMessage({1, 2, 3}, {1, 2, 3, 4}), "Verify:\rFile size (3) does not match Flash size (4).\r");
}

TEST(VerifyBuffers, ReportsDifferencesAloneWithUpperCaseHexAddress)
{
    std::vector<uint8_t> file(0x40, 0), flash(0x40, 0);
    flash[0x2B] = 1;
    flash[0x3F] = 1;
    EXPECT_EQ(VerifyMessage(file, flash), "Verify:\rFound 2 discrepencies starting at address 0x2B.");
}

TEST(VerifyBuffers, RefusesEmptyBuffers)
{
    const std::string empty = "Verify: File, Flash (or Both) buffers are empty.";
    EXPECT_EQ(VerifyMessage({1, 2}, {}), empty);
    EXPECT_EQ(VerifyMessage({}, {1, 2}), empty);
    EXPECT_EQ(VerifyMessage({}, {}), empty);
}

TEST(CompareBuffers, ShowsEachDifferenceThenTheSummary)
{
    TMemoryStream f, b;
    Load(f, {1, 2, 3});
    Load(b, {1, 0xFF, 3, 0});
    TScriptedDialogs dialogs({mrYes});
    CompareBuffers(f, b, dialogs);
    ASSERT_EQ(dialogs.Boxes.size(), 2u);
    EXPECT_EQ(dialogs.Boxes[0].Text,
              "No Match at 1 (0x1). File: 02, Buf: FF. Show future discrepencies (Yes/No) or cancel now?");
    EXPECT_EQ(dialogs.Boxes[0].Type, mtWarning);
    EXPECT_EQ(dialogs.Boxes[0].Buttons, mbYesNoCancel);
    EXPECT_EQ(dialogs.Boxes[1].Text, "Found 1 discrepencies. File Size: 3, Flash Size: 4   ");
    EXPECT_EQ(dialogs.Boxes[1].Type, mtWarning);
    EXPECT_EQ(dialogs.Boxes[1].Buttons, mbOK);
    EXPECT_EQ(Contents(b), (std::vector<uint8_t>{1, 0xFF, 3, 0}));
}

TEST(CompareBuffers, FormatsAddressesAndBytesInHex)
{
    std::vector<uint8_t> file(300, 0x0A), flash(300, 0x0A);
    flash[0x11F] = 0x0B;
    TMemoryStream f, b;
    Load(f, file);
    Load(b, flash);
    TScriptedDialogs dialogs;
    CompareBuffers(f, b, dialogs);
    ASSERT_EQ(dialogs.Boxes.size(), 2u);
    EXPECT_EQ(dialogs.Boxes[0].Text,
              "No Match at 287 (0x11F). File: 0A, Buf: 0B. Show future discrepencies (Yes/No) or cancel now?");
}

TEST(CompareBuffers, NoStopsTheBoxesButKeepsCounting)
{
    TMemoryStream f, b;
    Load(f, {0, 0, 0, 0, 0});
    Load(b, {1, 1, 0, 1, 1});
    TScriptedDialogs dialogs({mrNo});
    CompareBuffers(f, b, dialogs);
    ASSERT_EQ(dialogs.Boxes.size(), 2u);
    EXPECT_EQ(dialogs.Boxes[1].Text, "Found 4 discrepencies. File Size: 5, Flash Size: 5   ");
}

TEST(CompareBuffers, YesKeepsShowingEveryDifference)
{
    TMemoryStream f, b;
    Load(f, {0, 0, 0});
    Load(b, {1, 1, 1});
    TScriptedDialogs dialogs({mrYes, mrYes, mrYes});
    CompareBuffers(f, b, dialogs);
    ASSERT_EQ(dialogs.Boxes.size(), 4u);
    EXPECT_EQ(dialogs.Boxes[2].Text.substr(0, 20), "No Match at 2 (0x2).");
    EXPECT_EQ(dialogs.Boxes[3].Text, "Found 3 discrepencies. File Size: 3, Flash Size: 3   ");
}

TEST(CompareBuffers, CancelCountsTheDifferenceAndNamesTheAddress)
{
    TMemoryStream f, b;
    Load(f, {0, 0, 0, 0, 0, 0});
    Load(b, {1, 0, 1, 0, 1, 1});
    TScriptedDialogs dialogs({mrYes, mrCancel});
    CompareBuffers(f, b, dialogs);
    ASSERT_EQ(dialogs.Boxes.size(), 3u);
    EXPECT_EQ(dialogs.Boxes[2].Text, "Found 2 discrepencies. Cancelled at address 2. File Size: 6, Flash Size: 6   ");
    EXPECT_EQ(f.Position(), 3); // stopped just past the cancelled byte
}

TEST(CompareBuffers, EqualBuffersGiveTheInformationBox)
{
    TMemoryStream f, b;
    Load(f, {5, 6});
    Load(b, {5, 6, 7});
    TScriptedDialogs dialogs;
    CompareBuffers(f, b, dialogs);
    ASSERT_EQ(dialogs.Boxes.size(), 1u);
    EXPECT_EQ(dialogs.Boxes[0].Text, "No discrepencies found.File Size: 2, Flash Size: 3   ");
    EXPECT_EQ(dialogs.Boxes[0].Type, mtInformation);
    EXPECT_EQ(dialogs.Boxes[0].Buttons, mbOK);
}

TEST(CompareBuffers, EmptyBuffersWarnThenFindNothing)
{
    TMemoryStream f, b;
    TScriptedDialogs dialogs;
    CompareBuffers(f, b, dialogs);
    ASSERT_EQ(dialogs.Boxes.size(), 2u);
    EXPECT_EQ(dialogs.Boxes[0].Text, "File or Buffer Empty (or both). File Size: 0, Flash Size: 0");
    EXPECT_EQ(dialogs.Boxes[0].Type, mtWarning);
    EXPECT_EQ(dialogs.Boxes[0].Buttons, mbOK);
    EXPECT_EQ(dialogs.Boxes[1].Text, "No discrepencies found.File Size: 0, Flash Size: 0   ");
    EXPECT_EQ(dialogs.Boxes[1].Type, mtInformation);
}

TEST(CompareBuffers, OneEmptyBufferStillWarns)
{
    TMemoryStream f, b;
    Load(f, {1, 2, 3});
    TScriptedDialogs dialogs;
    CompareBuffers(f, b, dialogs);
    ASSERT_EQ(dialogs.Boxes.size(), 2u);
    EXPECT_EQ(dialogs.Boxes[0].Text, "File or Buffer Empty (or both). File Size: 3, Flash Size: 0");
}

} // namespace

// The differences a record names: all of them counted over the shared
// length, only the first few by offset, agreeing with VerifyBuffers' count
// and first address.
TEST(FindDifferences, CountsAllAndNamesTheFirstOnesOverTheSharedLength)
{
    std::vector<uint8_t> file(64, 0x5A);
    std::vector<uint8_t> flash(file);
    for (size_t offset : {3u, 9u, 10u, 40u, 63u}) flash[offset] ^= 0x80;
    flash.push_back(0x00); // one byte more: not a differing byte, a size difference
    TMemoryStream f, b;
    Load(f, file);
    Load(b, flash);
    const TDifferences all = FindDifferences(f, b, 8);
    EXPECT_EQ(all.Count, 5);
    EXPECT_EQ(all.First, (std::vector<int64_t>{3, 9, 10, 40, 63}));
    const TDifferences few = FindDifferences(f, b, 2);
    EXPECT_EQ(few.Count, 5);
    EXPECT_EQ(few.First, (std::vector<int64_t>{3, 9}));
    EXPECT_NE(VerifyMessage(file, flash).find("Found 5 discrepencies starting at address 0x3."), std::string::npos);
    Load(b, file);
    EXPECT_EQ(FindDifferences(f, b, 8).Count, 0);
    EXPECT_TRUE(FindDifferences(f, b, 8).First.empty());
}
