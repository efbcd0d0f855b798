// The digest stored beside a record, and what it catches: a record
// deciphered under another pass phrase, or from damaged stored bytes,
// no longer matches the digest of the image it was built from.
#include "image/encryptedstream.h"
#include "image/imagedigest.h"
#include "image/storedimage.h"
#include "imagetest.h"
#include "tools/mkimage/demofirmware.h"
#include "tools/mkimage/recordbuilder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string_view>

namespace {
TImageDigest DigestOf(std::string_view text)
{
    return ComputeImageDigest(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TImageDigest DigestFromHex(std::string_view hex)
{
    const Bytes bytes = FromHex(hex);
    TImageDigest digest{};
    std::copy(bytes.begin(), bytes.end(), digest.begin());
    return digest;
}

void Fill(TMemoryStream& stream, const Bytes& bytes)
{
    stream.Clear();
    stream.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
}

Bytes Contents(const TMemoryStream& stream) { return Bytes(stream.Memory(), stream.Memory() + stream.Size()); }

const std::string kPassPhrase("\x3C\x91\x07\xE2\x5A\x00\xD4\x68", 8);
const std::string kOtherPassPhrase("\x3C\x91\x07\xE2\x5A\x00\xD4\x69", 8); // last bit differs
} // namespace

TEST(ImageDigest, IsSha256OfTheBytes)
{
    // The FIPS 180-2 examples, and the empty message.
    EXPECT_EQ(DigestOf(""), DigestFromHex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    EXPECT_EQ(DigestOf("abc"), DigestFromHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(DigestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              DigestFromHex("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"));
    EXPECT_EQ(DigestOf(std::string(1000000, 'a')),
              DigestFromHex("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"));
}

TEST(ImageDigest, MatchesOnlyTheSameWholeContents)
{
    const Bytes image = Pattern(40000, 3);
    const TImageDigest digest = ComputeImageDigest(image.data(), image.size());
    TMemoryStream stream;

    Fill(stream, image);
    stream.SetPosition(12345); // the whole contents count, not what follows the position
    EXPECT_TRUE(MatchesImageDigest(stream, digest));
    EXPECT_EQ(stream.Position(), 12345);
    EXPECT_EQ(Contents(stream), image);

    for (size_t at : {size_t{0}, size_t{20000}, image.size() - 1}) {
        Bytes changed = image;
        changed[at] ^= 0x01;
        Fill(stream, changed);
        EXPECT_FALSE(MatchesImageDigest(stream, digest)) << at;
    }

    // Every byte of the digest counts, the last as much as the first.
    Fill(stream, image);
    for (size_t at : {size_t{0}, digest.size() - 1}) {
        TImageDigest other = digest;
        other[at] ^= 0x01;
        EXPECT_FALSE(MatchesImageDigest(stream, other)) << "digest byte " << at;
    }

    Fill(stream, Bytes(image.begin(), image.end() - 1));
    EXPECT_FALSE(MatchesImageDigest(stream, digest)) << "one byte shorter";
    Bytes longer = image;
    longer.push_back(0x00);
    Fill(stream, longer);
    EXPECT_FALSE(MatchesImageDigest(stream, digest)) << "one zero byte longer";
    stream.Clear();
    EXPECT_FALSE(MatchesImageDigest(stream, digest)) << "empty";
    EXPECT_TRUE(MatchesImageDigest(stream, DigestOf("")));
}

TEST(RecordBuilder, RecordComesWithItsPlainImagesDigest)
{
    const Bytes plain = Pattern(5000, 8);
    const TBuiltRecord built = BuildStoredImageWithDigest(plain, "7100 V1.0", 9, kPassPhrase);
    EXPECT_EQ(built.Digest, ComputeImageDigest(plain.data(), plain.size()));
    // The same record as the builder without the digest makes.
    const auto record = BuildStoredImage(plain, "7100 V1.0", 9, kPassPhrase);
    EXPECT_EQ(Bytes(reinterpret_cast<const uint8_t*>(built.Record.get()),
                    reinterpret_cast<const uint8_t*>(built.Record.get()) + sizeof(TStoredImage)),
              Bytes(reinterpret_cast<const uint8_t*>(record.get()),
                    reinterpret_cast<const uint8_t*>(record.get()) + sizeof(TStoredImage)));
}

// A programmer image (type 0: any size, no checksum of its own) and the
// 4620 demo firmware (type 3).
class DecipheredRecordDigest : public ::testing::TestWithParam<uint32_t> {
protected:
    Bytes Plain() const { return GetParam() == 0 ? Pattern(70001, 0) : MakeDemoFirmware(); }

    // Deciphers the record as the programming run does.
    static void Decipher(TTwoFishEncryptedMemoryStream& stream, const TStoredImage& record,
                         const std::string& passPhrase)
    {
        stream.SetMode(2);
        LoadImage(stream, record);
        stream.Decrypt(passPhrase.data(), static_cast<uint32_t>(passPhrase.size()));
    }
};

TEST_P(DecipheredRecordDigest, MatchesUnderTheRightPassPhraseOnly)
{
    const Bytes plain = Plain();
    const TBuiltRecord built = BuildStoredImageWithDigest(plain, "Image", GetParam(), kPassPhrase);

    TTwoFishEncryptedMemoryStream stream;
    Decipher(stream, *built.Record, kPassPhrase);
    ASSERT_EQ(Contents(stream), plain);
    EXPECT_TRUE(MatchesImageDigest(stream, built.Digest));

    Decipher(stream, *built.Record, kOtherPassPhrase);
    ASSERT_EQ(stream.Size(), static_cast<int64_t>(plain.size()));
    EXPECT_FALSE(MatchesImageDigest(stream, built.Digest));
}

TEST_P(DecipheredRecordDigest, DamagedStoredByteNoLongerMatches)
{
    const Bytes plain = Plain();
    const TBuiltRecord built = BuildStoredImageWithDigest(plain, "Image", GetParam(), kPassPhrase);
    // In Cipher Feedback a damaged byte in the last block changes only
    // its own plain byte: the digest still has to notice.
    for (size_t at : {size_t{0}, plain.size() / 2, plain.size() - 1}) {
        const auto damaged = std::make_unique<TStoredImage>(*built.Record);
        damaged->Data[at] ^= 0x80;
        TTwoFishEncryptedMemoryStream stream;
        Decipher(stream, *damaged, kPassPhrase);
        ASSERT_EQ(stream.Size(), static_cast<int64_t>(plain.size()));
        EXPECT_FALSE(MatchesImageDigest(stream, built.Digest)) << at;
    }
}

INSTANTIATE_TEST_SUITE_P(ProgrammerAnd4620, DecipheredRecordDigest, ::testing::Values(0u, 3u));
