// The Twofish cipher component: known answers, key extension, chain start,
// the three modes against Crypto++ as an independent oracle, and wiping.
#include "core/format.h"
#include "image/twofish.h"
#include "imagetest.h"

#include <crypto++/algparam.h>
#include <crypto++/argnames.h>
#include <crypto++/modes.h>
#include <crypto++/twofish.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {
constexpr int kBlock = 16;

// One raw Crypto++ block encryption (key already of a Twofish length).
Bytes RawEncrypt(const Bytes& key, const Bytes& block)
{
    CryptoPP::Twofish::Encryption e(key.data(), key.size());
    Bytes out(kBlock);
    e.ProcessBlock(block.data(), out.data());
    return out;
}

// The key our component should really use: zero-extended to 16, 24 or 32.
Bytes Extended(Bytes key)
{
    key.resize(key.size() <= 16 ? 16 : key.size() <= 24 ? 24 : 32, 0);
    return key;
}

Bytes DefaultIV(const Bytes& key) { return RawEncrypt(Extended(key), Bytes(kBlock, 0xFF)); }

Bytes OracleCfb(bool encipher, const Bytes& key, const Bytes& iv, const Bytes& in)
{
    const auto params = CryptoPP::MakeParameters(CryptoPP::Name::FeedbackSize(), 1)(
        CryptoPP::Name::IV(), CryptoPP::ConstByteArrayParameter(iv.data(), iv.size()));
    Bytes out(in.size());
    if (encipher) {
        CryptoPP::CFB_Mode<CryptoPP::Twofish>::Encryption cfb;
        cfb.SetKey(key.data(), key.size(), params);
        cfb.ProcessData(out.data(), in.data(), in.size());
    } else {
        CryptoPP::CFB_Mode<CryptoPP::Twofish>::Decryption cfb;
        cfb.SetKey(key.data(), key.size(), params);
        cfb.ProcessData(out.data(), in.data(), in.size());
    }
    return out;
}

void Init(TTwofishCipher& cipher, const Bytes& key, const void* iv = nullptr)
{
    cipher.Init(key.data(), static_cast<int32_t>(key.size() * 8), iv);
}
} // namespace

TEST(TwofishCipher, PublishedVectorsForAllKeySizes)
{
    const struct {
        const char* key;
        const char* cipherText;
    } vectors[] = {
        {"00000000000000000000000000000000", "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
        {"0123456789ABCDEFFEDCBA98765432100011223344556677", "CFD1D2E5A9BE9CDF501F13B892BD2248"},
        {"0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF", "37527BE0052334B89F0CFCCAE87CFA20"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.key);
        TTwofishCipher cipher;
        Init(cipher, FromHex(v.key));
        Bytes block(kBlock, 0);
        cipher.EncryptECB(block.data(), block.data());
        EXPECT_EQ(block, FromHex(v.cipherText));
        cipher.DecryptECB(block.data(), block.data());
        EXPECT_EQ(block, Bytes(kBlock, 0));
    }
}

TEST(TwofishCipher, ShortKeysAreZeroExtendedToTheNextKeyLength)
{
    const Bytes plain = Pattern(kBlock, 7);
    for (size_t keyBytes : {1u, 8u, 15u, 17u, 20u, 25u, 31u}) {
        SCOPED_TRACE(keyBytes);
        const Bytes key = Pattern(keyBytes, 3);
        TTwofishCipher shortKey, fullKey;
        Init(shortKey, key);
        Init(fullKey, Extended(key));
        EXPECT_EQ(shortKey.KeyLength(), static_cast<int32_t>(Extended(key).size() * 8));
        Bytes a(kBlock), b(kBlock);
        shortKey.EncryptECB(plain.data(), a.data());
        fullKey.EncryptECB(plain.data(), b.data());
        EXPECT_EQ(a, b);
        EXPECT_EQ(a, RawEncrypt(Extended(key), plain));
    }
}

TEST(TwofishCipher, BadKeySizesAreRejectedAndLeaveNoKey)
{
    TTwofishCipher cipher;
    Init(cipher, Pattern(16));
    const Bytes key = Pattern(40);
    for (int32_t bits : {0, -8, 12, 255, 264, 320}) {
        EXPECT_EQ(MessageOf([&] { cipher.Init(key.data(), bits, nullptr); }),
                  Format("Twofish: Invalid key size - %d", bits));
        EXPECT_FALSE(cipher.Initialized());
    }
    EXPECT_EQ(MessageOf([&] { cipher.Init(key.data(), 0, nullptr); }), "Twofish: Invalid key size - 0");
    for (int32_t bits : {8, 128, 136, 192, 200, 256}) {
        EXPECT_NO_THROW(cipher.Init(key.data(), bits, nullptr)) << bits;
    }
}

TEST(TwofishCipher, EveryOperationNeedsAKey)
{
    TTwofishCipher cipher;
    uint8_t block[kBlock] = {};
    const std::function<void()> operations[] = {
        [&] { cipher.EncryptECB(block, block); },
        [&] { cipher.DecryptECB(block, block); },
        [&] { cipher.EncryptCBC(block, block, 16); },
        [&] { cipher.DecryptCBC(block, block, 16); },
        [&] { cipher.EncryptCFB(block, block, 16); },
        [&] { cipher.DecryptCFB(block, block, 16); },
        [&] { cipher.ResetChain(); },
    };
    for (const auto& operation : operations) EXPECT_EQ(MessageOf(operation), "Twofish: Not initialized");
    Init(cipher, Pattern(16));
    cipher.WipeKey();
    for (const auto& operation : operations) EXPECT_EQ(MessageOf(operation), "Twofish: Not initialized");
}

TEST(TwofishCipher, WipeKeyFillsAllKeyMaterialWithFF)
{
    TTwofishCipher cipher;
    EXPECT_TRUE(AllFF(cipher.KeyStorage()));
    Init(cipher, Pattern(32), Pattern(16).data());
    EXPECT_FALSE(AllFF(cipher.KeyStorage()));
    cipher.WipeKey();
    EXPECT_TRUE(AllFF(cipher.KeyStorage()));
    EXPECT_FALSE(cipher.Initialized());
    EXPECT_EQ(cipher.KeyLength(), 256); // not key material
}

TEST(TwofishCipher, CipherFeedbackEqualsCryptoppOneByteFeedback)
{
    for (size_t keyBytes : {8u, 16u, 24u, 32u}) {
        for (size_t size : {1u, 15u, 16u, 17u, 1000u}) {
            SCOPED_TRACE(testing::Message() << keyBytes << "-byte key, " << size << " bytes");
            const Bytes key = Pattern(keyBytes, 11);
            const Bytes plain = Pattern(size, 12);
            const Bytes iv = DefaultIV(key);
            const Bytes expected = OracleCfb(true, Extended(key), iv, plain);

            TTwofishCipher cipher;
            Init(cipher, key);
            Bytes data = plain;
            cipher.EncryptCFB(data.data(), data.data(), static_cast<uint32_t>(size));
            EXPECT_EQ(data, expected);

            cipher.ResetChain();
            cipher.DecryptCFB(data.data(), data.data(), static_cast<uint32_t>(size));
            EXPECT_EQ(data, plain);
            EXPECT_EQ(OracleCfb(false, Extended(key), iv, expected), plain);
        }
    }
}

TEST(TwofishCipher, ChainCarriesAcrossCallsUntilReset)
{
    const Bytes key = Pattern(16, 5);
    const Bytes plain = Pattern(100, 6);
    const Bytes iv = Pattern(16, 9);
    const Bytes expected = OracleCfb(true, key, iv, plain);
    TTwofishCipher cipher;
    Init(cipher, key, iv.data()); // an explicit IV starts the chain
    Bytes out(plain.size());
    cipher.EncryptCFB(plain.data(), out.data(), 33);
    cipher.EncryptCFB(plain.data() + 33, out.data() + 33, 67);
    EXPECT_EQ(out, expected);

    for (auto encipher : {&TTwofishCipher::EncryptCBC, &TTwofishCipher::EncryptCFB}) {
        Bytes first(48), second(48), third(48);
        cipher.ResetChain();
        (cipher.*encipher)(plain.data(), first.data(), 48);
        (cipher.*encipher)(plain.data(), second.data(), 48);
        cipher.ResetChain();
        (cipher.*encipher)(plain.data(), third.data(), 48);
        EXPECT_NE(first, second);
        EXPECT_EQ(first, third);
    }
}

TEST(TwofishCipher, BlockChainingEqualsCryptoppOnWholeBlocks)
{
    const Bytes key = Pattern(24, 21);
    const Bytes plain = Pattern(64, 22);
    const Bytes iv = DefaultIV(key);
    CryptoPP::CBC_Mode<CryptoPP::Twofish>::Encryption cbc(key.data(), key.size(), iv.data());
    Bytes expected(plain.size());
    cbc.ProcessData(expected.data(), plain.data(), plain.size());

    TTwofishCipher cipher;
    Init(cipher, key);
    Bytes data = plain;
    cipher.EncryptCBC(data.data(), data.data(), 64);
    EXPECT_EQ(data, expected);
    cipher.ResetChain();
    cipher.DecryptCBC(data.data(), data.data(), 64);
    EXPECT_EQ(data, plain);
}

TEST(TwofishCipher, BlockChainingTailIsXoredWithTheNextChainBlock)
{
    // 20 bytes: one chained block C = E(P XOR IV), then 4 bytes XOR E(C).
    const Bytes key = Pattern(16, 31);
    const Bytes plain = Pattern(20, 32);
    const Bytes iv = DefaultIV(key);
    Bytes block(plain.begin(), plain.begin() + 16);
    for (int i = 0; i < kBlock; ++i) block[i] ^= iv[i];
    const Bytes c = RawEncrypt(key, block);
    const Bytes t = RawEncrypt(key, c);
    Bytes expected = c;
    for (int i = 0; i < 4; ++i) expected.push_back(plain[16 + i] ^ t[i]);

    TTwofishCipher cipher;
    Init(cipher, key);
    Bytes data = plain;
    cipher.EncryptCBC(data.data(), data.data(), 20);
    EXPECT_EQ(data, expected);
    cipher.ResetChain();
    cipher.DecryptCBC(data.data(), data.data(), 20);
    EXPECT_EQ(data, plain);
}
