// The enciphered memory stream: modes over the whole contents, size rules,
// key handling and the wiping of key material and contents.
#include "core/exceptions.h"
#include "image/encryptedstream.h"
#include "image/twofish.h"
#include "imagetest.h"

#include <crypto++/twofish.h>

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

namespace {
const std::string kPassPhrase("\x01\x9C\x00\x7F\xFF\x20\x41\xE3", 8);

std::unique_ptr<TTwoFishEncryptedMemoryStream> StreamWith(const Bytes& bytes, uint8_t mode)
{
    auto stream = std::make_unique<TTwoFishEncryptedMemoryStream>();
    stream->SetMode(mode);
    stream->Write(bytes.data(), static_cast<int64_t>(bytes.size()));
    return stream;
}

Bytes Contents(const TMemoryStream& stream) { return {stream.Memory(), stream.Memory() + stream.Size()}; }

std::span<const std::byte> KeyStorageOf(const TEncryptedMemoryStream& stream)
{
    return dynamic_cast<const TTwofishCipher&>(stream.Cipher()).KeyStorage();
}

Bytes RawEncrypt(const std::string& key16, const Bytes& block)
{
    CryptoPP::Twofish::Encryption e(reinterpret_cast<const uint8_t*>(key16.data()), key16.size());
    Bytes out(16);
    e.ProcessBlock(block.data(), out.data());
    return out;
}

const std::string kEcbMessage =
    "For Electronic Codebook mode Data Size must be an exact multiple of the Cipher Block Size";
} // namespace

class CryptStreamRoundTrip : public testing::TestWithParam<std::tuple<uint8_t, size_t>> {};

TEST_P(CryptStreamRoundTrip, EncipherThenDecipherRestoresInPlace)
{
    const auto [mode, size] = GetParam();
    const Bytes plain = Pattern(size, static_cast<uint32_t>(size));
    auto stream = StreamWith(plain, mode);
    const uint8_t* memory = stream->Memory();
    stream->SetPosition(static_cast<int64_t>(size / 2));

    stream->Encrypt(kPassPhrase.data(), 8);
    if (size > 0) {
        EXPECT_NE(Contents(*stream), plain);
    }
    stream->Decrypt(kPassPhrase.data(), 8);

    EXPECT_EQ(Contents(*stream), plain);
    EXPECT_EQ(stream->Size(), static_cast<int64_t>(size));
    EXPECT_EQ(stream->Position(), static_cast<int64_t>(size / 2));
    EXPECT_EQ(stream->Memory(), memory); // in place, no second copy
    EXPECT_TRUE(AllFF(KeyStorageOf(*stream)));
}

INSTANTIATE_TEST_SUITE_P(CipherFeedbackAndBlockChaining, CryptStreamRoundTrip,
                         testing::Combine(testing::Values<uint8_t>(1, 2),
                                          testing::Values<size_t>(0, 1, 15, 16, 17, 100, 32768)));
INSTANTIATE_TEST_SUITE_P(ElectronicCodebook, CryptStreamRoundTrip,
                         testing::Combine(testing::Values<uint8_t>(0), testing::Values<size_t>(0, 16, 32, 32768)));

TEST(CryptStream, StartsInCipherFeedbackAndEachCallStartsAfresh)
{
    TTwoFishEncryptedMemoryStream fresh;
    EXPECT_EQ(fresh.Mode(), 2);
    EXPECT_EQ(fresh.BlockBytes(), 16);

    const Bytes plain = Pattern(50, 4);
    auto stream = StreamWith(plain, 2);
    stream->Encrypt(kPassPhrase.data(), 8);
    const Bytes once = Contents(*stream);
    stream->Decrypt(kPassPhrase.data(), 8);
    stream->Encrypt(kPassPhrase.data(), 8);
    EXPECT_EQ(Contents(*stream), once);
}

TEST(CryptStream, FirstDecipheredFeedbackByteUsesTheEncipheredAllFFBlock)
{
    // The chain starts at IV = E(16 x 0xFF), so the first key-stream byte is E(IV)[0].
    const std::string key = kPassPhrase + std::string(8, '\0');
    const Bytes keyStream = RawEncrypt(key, RawEncrypt(key, Bytes(16, 0xFF)));
    const Bytes enciphered = Pattern(10, 8);
    auto stream = StreamWith(enciphered, 2);
    stream->Decrypt(kPassPhrase.data(), 8);
    EXPECT_EQ(stream->Memory()[0], enciphered[0] ^ keyStream[0]);
}

TEST(CryptStream, ElectronicCodebookEnciphersIndependentBlocks)
{
    const std::string key = kPassPhrase + std::string(8, '\0');
    Bytes plain = Pattern(16, 3);
    plain.insert(plain.end(), plain.begin(), plain.end()); // two equal blocks
    auto stream = StreamWith(plain, 0);
    stream->Encrypt(kPassPhrase.data(), 8);
    const Bytes expected = RawEncrypt(key, Bytes(plain.begin(), plain.begin() + 16));
    EXPECT_EQ(Bytes(stream->Memory(), stream->Memory() + 16), expected);
    EXPECT_EQ(Bytes(stream->Memory() + 16, stream->Memory() + 32), expected);
}

TEST(CryptStream, ElectronicCodebookRejectsAPartialBlockUnchanged)
{
    const Bytes plain = Pattern(33, 2);
    auto stream = StreamWith(plain, 0);
    try {
        stream->Encrypt(kPassPhrase.data(), 8);
        FAIL() << "no exception";
    } catch (const ECryptException& e) {
        EXPECT_EQ(e.Message(), kEcbMessage);
    }
    EXPECT_EQ(MessageOf([&] { stream->Decrypt(kPassPhrase.data(), 8); }), kEcbMessage);
    EXPECT_EQ(Contents(*stream), plain);
    EXPECT_TRUE(AllFF(KeyStorageOf(*stream)));
    // The other modes take any size.
    stream->SetMode(1);
    EXPECT_NO_THROW(stream->Encrypt(kPassPhrase.data(), 8));
}

TEST(CryptStream, BadKeyLeavesContentsUnchangedEvenWhenEmpty)
{
    const Bytes plain = Pattern(40, 6);
    for (uint8_t mode : {0, 1, 2}) {
        auto stream = StreamWith(Bytes(plain.begin(), plain.begin() + 32), mode);
        EXPECT_EQ(MessageOf([&] { stream->Decrypt("", 0); }), "Twofish: Invalid key size - 0");
        EXPECT_EQ(MessageOf([&] { stream->Encrypt(plain.data(), 33); }), "Twofish: Invalid key size - 264");
        EXPECT_EQ(Contents(*stream), Bytes(plain.begin(), plain.begin() + 32));
        EXPECT_TRUE(AllFF(KeyStorageOf(*stream)));
    }
    TTwoFishEncryptedMemoryStream empty;
    EXPECT_EQ(MessageOf([&] { empty.Decrypt("", 0); }), "Twofish: Invalid key size - 0");
    // A length whose bit count overflows 32 bits must not wrap to a valid size.
    EXPECT_EQ(MessageOf([&] { empty.Decrypt(plain.data(), 0x20000002u); }), "Twofish: Invalid key size - 2147483647");
}

TEST(CryptStream, UnknownModeChangesNothing)
{
    const Bytes plain = Pattern(33, 12);
    auto stream = StreamWith(plain, 3);
    EXPECT_NO_THROW(stream->Encrypt(kPassPhrase.data(), 8));
    EXPECT_NO_THROW(stream->Decrypt(kPassPhrase.data(), 8));
    EXPECT_EQ(Contents(*stream), plain);
    EXPECT_TRUE(AllFF(KeyStorageOf(*stream)));
}

TEST(CryptStream, WipeContentsZeroesAndKeepsTheSize)
{
    auto stream = StreamWith(Pattern(300, 13), 2);
    stream->SetPosition(5);
    stream->WipeContents();
    EXPECT_EQ(Contents(*stream), Bytes(300, 0));
    EXPECT_EQ(stream->Size(), 300);
    EXPECT_EQ(stream->Position(), 300);
}

namespace {
std::vector<Bytes> released;
void RecordRelease(const uint8_t* block, size_t capacity) { released.emplace_back(block, block + capacity); }
} // namespace

TEST(CryptStream, EveryReleasedBlockIsZero)
{
    released.clear();
    TMemoryStream::SetReleaseObserver(RecordRelease);
    {
        const Bytes plain = Pattern(5000, 14);
        auto stream = StreamWith(plain, 2);
        stream->Encrypt(kPassPhrase.data(), 8);
        stream->Decrypt(kPassPhrase.data(), 8);
        stream->SetPosition(stream->Size());
        const Bytes more = Pattern(20000, 15);
        stream->Write(more.data(), static_cast<int64_t>(more.size())); // grows into a new block
    }
    TMemoryStream::SetReleaseObserver(nullptr);
    ASSERT_EQ(released.size(), 2u);
    for (const Bytes& block : released) EXPECT_EQ(block, Bytes(block.size(), 0));
}
