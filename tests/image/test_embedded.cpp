// The record compiled into the program: its fields, its pass phrase, that
// it deciphers to exactly the plain image it was built from, and the digest
// of that image stored beside it.
#include "image/encryptedstream.h"
#include "image/imagedigest.h"
#include "image/storedimage.h"
#include "imagetest.h"
#include "tools/mkimage/recordbuilder.h"

#include <gtest/gtest.h>

TEST(EmbeddedImage, CarriesTheConfiguredNameAndUnitType)
{
    EXPECT_EQ(GetImageName(), MORVEX_IMAGE_NAME);
    EXPECT_EQ(UnitType(), static_cast<uint32_t>(MORVEX_IMAGE_UNIT_TYPE));
    EXPECT_TRUE(IsImageValid());
}

TEST(EmbeddedImage, PassPhraseIsTheConfiguredEightBytes)
{
    const std::string phrase = GetPassPhrase();
    EXPECT_EQ(phrase.size(), 8u);
    EXPECT_EQ(phrase, PassPhraseFromHex(MORVEX_PASS_PHRASE_HEX));
    EXPECT_EQ(GetPassPhrase(), phrase);
}

TEST(EmbeddedImage, DeciphersToExactlyThePlainImage)
{
    const Bytes plain = ReadFileBytes(MORVEX_PLAIN_IMAGE_FILE);
    ASSERT_FALSE(plain.empty());
    ASSERT_EQ(StoredImage.Length, plain.size());
    EXPECT_EQ(Bytes(StoredImage.Data + plain.size(), StoredImage.Data + MaxImageSize),
              Bytes(MaxImageSize - plain.size(), 0));

    TTwoFishEncryptedMemoryStream stream;
    stream.SetMode(2);
    LoadImage(stream);
    EXPECT_NE(Bytes(stream.Memory(), stream.Memory() + stream.Size()), plain);
    const std::string phrase = GetPassPhrase();
    stream.Decrypt(phrase.data(), 8);
    EXPECT_EQ(Bytes(stream.Memory(), stream.Memory() + stream.Size()), plain);
}

TEST(EmbeddedImage, StoredDigestIsThatOfThePlainImageFile)
{
    const Bytes plain = ReadFileBytes(MORVEX_PLAIN_IMAGE_FILE);
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(StoredImageDigest, ComputeImageDigest(plain.data(), plain.size()));

    // And the program's own record, deciphered, matches it.
    TTwoFishEncryptedMemoryStream stream;
    stream.SetMode(2);
    LoadImage(stream);
    EXPECT_FALSE(MatchesImageDigest(stream, StoredImageDigest)); // still enciphered
    const std::string phrase = GetPassPhrase();
    stream.Decrypt(phrase.data(), 8);
    EXPECT_TRUE(MatchesImageDigest(stream, StoredImageDigest));
}
