#include "image/encryptedstream.h"

#include "image/twofish.h"

#include <algorithm>
#include <climits>
#include <string>

namespace {
// The cipher counts bytes in 32 bits; a larger stream is processed in
// pieces (a multiple of every block size), and the chain runs on across
// them.
constexpr int64_t kMaxPiece = int64_t{1} << 30;

// Wipes the key when the call ends, however it ends.
struct TKeyWipe {
    TBlockCipher& Cipher;
    ~TKeyWipe() { Cipher.WipeKey(); }
};
} // namespace

TEncryptedMemoryStream::TEncryptedMemoryStream(std::unique_ptr<TBlockCipher> cipher) : FCipher(std::move(cipher)) {}

TEncryptedMemoryStream::~TEncryptedMemoryStream() { WipeContents(); }

bool TEncryptedMemoryStream::DataSizeValid() { return FMode != 0 || Size() % BlockBytes() == 0; }

void TEncryptedMemoryStream::Encrypt(const void* Key, uint32_t KeyLength)
{
    Transform(Key, KeyLength, TDirection::Encipher);
}

void TEncryptedMemoryStream::Decrypt(const void* Key, uint32_t KeyLength)
{
    Transform(Key, KeyLength, TDirection::Decipher);
}

void TEncryptedMemoryStream::Transform(const void* Key, uint32_t KeyLength, TDirection direction)
{
    if (!DataSizeValid()) {
        const char* mode = FMode < std::size(CipherModeNames) ? CipherModeNames[FMode] : "";
        throw ECryptException(std::string("For ") + mode + " mode " +
                              "Data Size must be an exact multiple of the Cipher Block Size");
    }
    // Key lengths beyond any cipher's reach are reported, never wrapped.
    const int64_t keyBits = std::min<int64_t>(int64_t{KeyLength} * 8, INT32_MAX);
    TKeyWipe wipe{*FCipher};
    FCipher->Init(Key, static_cast<int32_t>(keyBits), nullptr);

    const bool encipher = direction == TDirection::Encipher;
    uint8_t* bytes = Memory();
    const int64_t size = Size();
    switch (FMode) {
    case cmElectronicCodebook:
        for (int64_t at = 0; at < size; at += BlockBytes()) {
            if (encipher)
                FCipher->EncryptECB(bytes + at, bytes + at);
            else
                FCipher->DecryptECB(bytes + at, bytes + at);
        }
        break;
    case cmCipherBlockChaining:
    case cmCipherFeedback:
        for (int64_t at = 0; at < size; at += kMaxPiece) {
            const auto piece = static_cast<uint32_t>(std::min(size - at, kMaxPiece));
            uint8_t* p = bytes + at;
            if (FMode == cmCipherBlockChaining) {
                if (encipher)
                    FCipher->EncryptCBC(p, p, piece);
                else
                    FCipher->DecryptCBC(p, p, piece);
            } else {
                if (encipher)
                    FCipher->EncryptCFB(p, p, piece);
                else
                    FCipher->DecryptCFB(p, p, piece);
            }
        }
        break;
    default: break;
    }
}

void TEncryptedMemoryStream::WipeContents()
{
    SecureZero(Memory(), static_cast<size_t>(Size()));
    SetPosition(Size());
}

TTwoFishEncryptedMemoryStream::TTwoFishEncryptedMemoryStream()
    : TEncryptedMemoryStream(std::make_unique<TTwofishCipher>())
{
}
