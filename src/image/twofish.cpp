#include "image/twofish.h"

#include "core/memstream.h"
#include "core/exceptions.h"
#include "core/format.h"

#include <cstring>

namespace {
constexpr int kMaxKeyBytes = 32;

void XorBlock(uint8_t* out, const uint8_t* a, const uint8_t* b, int count)
{
    for (int i = 0; i < count; ++i) out[i] = a[i] ^ b[i];
}

// Fills a block temporary with 0xFF when it goes out of scope, so chained
// or key-stream bytes never outlive the call that used them.
struct TBlockTemp {
    uint8_t Bytes[TTwofishCipher::kBlockBytes];
    ~TBlockTemp() { SecureFill(Bytes, 0xFF, sizeof Bytes); }
};
} // namespace

TTwofishCipher::TTwofishCipher(QObject* owner) : TBlockCipher(owner)
{
    FAlgorithm = "Twofish";
    FBlockSize = 128;
    FMaxKeySize = 256;
    FAlgorithmNumber = 6;
    WipeKey();
}

TTwofishCipher::~TTwofishCipher() { WipeKey(); }

void TTwofishCipher::Init(const void* Key, int32_t Size, const void* IV)
{
    if (FInitialized) WipeKey();
    if (Size > FMaxKeySize || Size <= 0 || Size % 8 != 0)
        throw Exception(Format("Twofish: Invalid key size - %d", Size));

    // Keys shorter than a Twofish key length are extended with zero bytes
    // to the next length, as the Twofish definition does.
    uint8_t key[kMaxKeyBytes] = {};
    std::memcpy(key, Key, static_cast<size_t>(Size / 8));
    FKeyLength = Size <= 128 ? 128 : Size <= 192 ? 192 : 256;
    auto* enc = new (FKey.Encryption) TEncryption;
    auto* dec = new (FKey.Decryption) TDecryption;
    enc->SetKey(key, static_cast<size_t>(FKeyLength / 8));
    dec->SetKey(key, static_cast<size_t>(FKeyLength / 8));
    SecureZero(key, sizeof key);

    if (IV) {
        std::memcpy(FKey.IV, IV, kBlockBytes);
    } else {
        std::memset(FKey.IV, 0xFF, kBlockBytes);
        enc->ProcessBlock(FKey.IV);
    }
    std::memcpy(FKey.CV, FKey.IV, kBlockBytes);
    FInitialized = true;
}

void TTwofishCipher::WipeKey()
{
    if (FInitialized) {
        // The schedules exist exactly while the cipher is initialised.
        Enc().~TEncryption();
        Dec().~TDecryption();
    }
    SecureFill(&FKey, 0xFF, sizeof FKey);
    FInitialized = false;
}

void TTwofishCipher::ResetChain()
{
    CheckInitialized();
    std::memcpy(FKey.CV, FKey.IV, kBlockBytes);
}

void TTwofishCipher::CheckInitialized() const
{
    if (!FInitialized) throw Exception("Twofish: Not initialized");
}

void TTwofishCipher::EncryptECB(const void* In, void* Out)
{
    CheckInitialized();
    Enc().ProcessBlock(static_cast<const uint8_t*>(In), static_cast<uint8_t*>(Out));
}

void TTwofishCipher::DecryptECB(const void* In, void* Out)
{
    CheckInitialized();
    Dec().ProcessBlock(static_cast<const uint8_t*>(In), static_cast<uint8_t*>(Out));
}

void TTwofishCipher::EncryptCBC(const void* In, void* Out, uint32_t Size)
{
    CheckInitialized();
    auto* in = static_cast<const uint8_t*>(In);
    auto* out = static_cast<uint8_t*>(Out);
    TBlockTemp temp;
    uint32_t done = 0;
    for (; Size - done >= kBlockBytes; done += kBlockBytes) {
        XorBlock(temp.Bytes, in + done, FKey.CV, kBlockBytes);
        Enc().ProcessBlock(temp.Bytes, FKey.CV);
        std::memcpy(out + done, FKey.CV, kBlockBytes);
    }
    if (done < Size) CipherTail(in + done, out + done, Size - done);
}

void TTwofishCipher::CipherTail(const uint8_t* in, uint8_t* out, uint32_t count)
{
    TBlockTemp key;
    Enc().ProcessBlock(FKey.CV, key.Bytes);
    XorBlock(out, in, key.Bytes, static_cast<int>(count));
}

void TTwofishCipher::DecryptCBC(const void* In, void* Out, uint32_t Size)
{
    CheckInitialized();
    auto* in = static_cast<const uint8_t*>(In);
    auto* out = static_cast<uint8_t*>(Out);
    TBlockTemp cipherBlock, plain;
    uint32_t done = 0;
    for (; Size - done >= kBlockBytes; done += kBlockBytes) {
        // Keep the enciphered block: in place, the output overwrites it.
        std::memcpy(cipherBlock.Bytes, in + done, kBlockBytes);
        Dec().ProcessBlock(cipherBlock.Bytes, plain.Bytes);
        XorBlock(out + done, plain.Bytes, FKey.CV, kBlockBytes);
        std::memcpy(FKey.CV, cipherBlock.Bytes, kBlockBytes);
    }
    if (done < Size) CipherTail(in + done, out + done, Size - done);
}

void TTwofishCipher::EncryptCFB(const void* In, void* Out, uint32_t Size)
{
    CheckInitialized();
    auto* in = static_cast<const uint8_t*>(In);
    auto* out = static_cast<uint8_t*>(Out);
    TEncryption& enc = Enc();
    TBlockTemp stream;
    for (uint32_t i = 0; i < Size; ++i) {
        enc.ProcessBlock(FKey.CV, stream.Bytes);
        const uint8_t c = in[i] ^ stream.Bytes[0];
        out[i] = c;
        std::memmove(FKey.CV, FKey.CV + 1, kBlockBytes - 1);
        FKey.CV[kBlockBytes - 1] = c;
    }
}

void TTwofishCipher::DecryptCFB(const void* In, void* Out, uint32_t Size)
{
    CheckInitialized();
    auto* in = static_cast<const uint8_t*>(In);
    auto* out = static_cast<uint8_t*>(Out);
    TEncryption& enc = Enc();
    TBlockTemp stream;
    for (uint32_t i = 0; i < Size; ++i) {
        enc.ProcessBlock(FKey.CV, stream.Bytes);
        const uint8_t c = in[i]; // taken before an in-place output replaces it
        out[i] = c ^ stream.Bytes[0];
        std::memmove(FKey.CV, FKey.CV + 1, kBlockBytes - 1);
        FKey.CV[kBlockBytes - 1] = c;
    }
}
