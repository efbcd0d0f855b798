#include "image/imagedigest.h"

#include <cryptopp/misc.h>
#include <cryptopp/sha.h>

TImageDigest ComputeImageDigest(const uint8_t* data, size_t size)
{
    static_assert(std::tuple_size_v<TImageDigest> == CryptoPP::SHA256::DIGESTSIZE);
    // The hash keeps the last partial block of the image in its state; that
    // state lives in a SecBlock, which Crypto++ wipes on destruction.
    CryptoPP::SHA256 hash;
    if (size > 0) hash.Update(data, size);
    TImageDigest digest;
    hash.Final(digest.data());
    return digest;
}

bool MatchesImageDigest(TMemoryStream& plain, const TImageDigest& digest)
{
    const TImageDigest actual = ComputeImageDigest(plain.Memory(), static_cast<size_t>(plain.Size()));
    return CryptoPP::VerifyBufsEqual(actual.data(), digest.data(), actual.size());
}
