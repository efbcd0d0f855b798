// Record accessors on records the tests build, and the record builder.
#include "image/encryptedstream.h"
#include "image/storedimage.h"
#include "imagetest.h"
#include "tools/mkimage/recordbuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {
std::unique_ptr<TStoredImage> Record(const std::string& nameBytes, uint32_t length)
{
    auto record = std::make_unique<TStoredImage>();
    std::memcpy(record->Name, nameBytes.data(), std::min(nameBytes.size(), sizeof record->Name));
    record->UnitType = 7;
    record->Length = length;
    const Bytes data = Pattern(MaxImageSize, 77);
    std::memcpy(record->Data, data.data(), data.size());
    return record;
}

const std::string kPassPhrase("\xB1\x02\x00\x9D\x44\xFE\x10\x6A", 8);
} // namespace

TEST(StoredImage, NameEndsAtTheFirstZeroOrAfterFortyBytes)
{
    EXPECT_EQ(GetImageName(*Record(std::string("4620 V2.5\0junk", 14), 1)), "4620 V2.5");
    const std::string forty(40, 'N');
    EXPECT_EQ(GetImageName(*Record(forty, 1)), forty);
    auto full = Record(forty, 1);
    full->UnitType = 0x4E4E4E4E; // bytes after the name field are not part of it
    EXPECT_EQ(GetImageName(*full).size(), 40u);
    EXPECT_EQ(GetImageName(*Record(std::string("\0Hidden", 7), 100)), "");
    EXPECT_EQ(GetImageName(*Record(std::string("\xE9t\xE9", 3), 1)), "\xE9t\xE9"); // 8-bit characters
}

TEST(StoredImage, ValidNeedsANameAndALengthThatFitsTheRecord)
{
    EXPECT_TRUE(IsImageValid(*Record("X", 1)));
    EXPECT_TRUE(IsImageValid(*Record("X", MaxImageSize)));
    EXPECT_FALSE(IsImageValid(*Record("X", 0)));
    EXPECT_FALSE(IsImageValid(*Record(std::string("\0X", 2), 100)));
    EXPECT_FALSE(IsImageValid(*Record("X", MaxImageSize + 1)));
    EXPECT_FALSE(IsImageValid(*Record("X", 0xFFFFFFFFu)));
    auto record = Record("X", 1);
    record->UnitType = 0xDEADBEEF; // the unit type is not checked
    EXPECT_TRUE(IsImageValid(*record));
    EXPECT_EQ(UnitType(*record), 0xDEADBEEFu);
}

TEST(StoredImage, LoadImageReplacesTheStreamWithLengthBytes)
{
    auto record = Record("X", 10);
    TMemoryStream stream;
    const Bytes old = Pattern(500, 1);
    stream.Write(old.data(), 500);
    stream.SetPosition(3);
    LoadImage(stream, *record);
    ASSERT_EQ(stream.Size(), 10);
    EXPECT_EQ(stream.Position(), 10);
    EXPECT_EQ(0, std::memcmp(stream.Memory(), record->Data, 10));

    record->Length = MaxImageSize;
    LoadImage(stream, *record);
    ASSERT_EQ(stream.Size(), MaxImageSize);
    EXPECT_EQ(0, std::memcmp(stream.Memory(), record->Data, MaxImageSize));

    for (uint32_t length : {0u, MaxImageSize + 1, 0xFFFFFFFFu}) {
        record->Length = length;
        LoadImage(stream, *record);
        EXPECT_EQ(stream.Size(), 0) << length;
    }
}

TEST(RecordBuilder, BuildsARecordThatDeciphersToThePlainImage)
{
    const Bytes plain = Pattern(1000, 5);
    const auto record = BuildStoredImage(plain, "7100 V1.0", 9, kPassPhrase);
    EXPECT_EQ(GetImageName(*record), "7100 V1.0");
    EXPECT_EQ(UnitType(*record), 9u);
    EXPECT_EQ(record->Length, 1000u);
    EXPECT_NE(0, std::memcmp(record->Data, plain.data(), plain.size()));
    EXPECT_EQ(Bytes(record->Data + 1000, record->Data + MaxImageSize), Bytes(MaxImageSize - 1000, 0));
    EXPECT_EQ(Bytes(record->Name + 9, record->Name + 40), Bytes(31, 0));

    TTwoFishEncryptedMemoryStream stream;
    LoadImage(stream, *record);
    stream.Decrypt(kPassPhrase.data(), 8);
    EXPECT_EQ(Bytes(stream.Memory(), stream.Memory() + stream.Size()), plain);
}

TEST(RecordBuilder, RejectsWhatDoesNotFitTheRecord)
{
    EXPECT_NO_THROW(BuildStoredImage(Bytes(MaxImageSize, 1), std::string(40, 'A'), 0, kPassPhrase));
    EXPECT_EQ(MessageOf([] { BuildStoredImage(Bytes(1), std::string(41, 'A'), 0, kPassPhrase); }),
              "Image name longer than 40 characters: " + std::string(41, 'A'));
    EXPECT_EQ(MessageOf([] { BuildStoredImage(Bytes(MaxImageSize + 1), "A", 0, kPassPhrase); }),
              "Image of 131073 bytes does not fit the record (at most 131072 bytes)");
    EXPECT_EQ(MessageOf([] { BuildStoredImage(Bytes(1), "A", 0, ""); }), "Twofish: Invalid key size - 0");
}

TEST(RecordBuilder, PassPhraseIsSixteenHexDigits)
{
    EXPECT_EQ(PassPhraseFromHex("B102009d44FE106a"), kPassPhrase);
    EXPECT_THROW(PassPhraseFromHex("B102009D44FE106"), EConvertError);
    EXPECT_THROW(PassPhraseFromHex("B102009D44FE106A00"), EConvertError);
    EXPECT_THROW(PassPhraseFromHex("B102009D44FE10+6"), EConvertError);
    EXPECT_THROW(PassPhraseFromHex("B102009D44FE106G"), EConvertError);
}
