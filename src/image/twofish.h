// Twofish as a block-cipher component. The single-block transform and its
// key schedule come from Crypto++; the key extension, the initialisation
// vector and the chaining modes are ours.
#pragma once

#include "image/blockcipher.h"

#include <crypto++/twofish.h>

#include <cstddef>
#include <new>
#include <span>

class TTwofishCipher : public TBlockCipher {
    Q_OBJECT
public:
    explicit TTwofishCipher(QObject* owner = nullptr);
    ~TTwofishCipher() override;

    void Init(const void* Key, int32_t Size, const void* IV) override;
    void WipeKey() override;
    void ResetChain() override;

    void EncryptECB(const void* In, void* Out) override;
    void DecryptECB(const void* In, void* Out) override;
    void EncryptCBC(const void* In, void* Out, uint32_t Size) override;
    void DecryptCBC(const void* In, void* Out, uint32_t Size) override;
    void EncryptCFB(const void* In, void* Out, uint32_t Size) override;
    void DecryptCFB(const void* In, void* Out, uint32_t Size) override;

    // Effective key length in bits of the last key set up (128, 192, 256).
    int32_t KeyLength() const { return FKeyLength; }

    // The memory that holds every piece of key material (the key schedules,
    // the IV and the chaining register), for inspection: after WipeKey every
    // byte of it is 0xFF.
    std::span<const std::byte> KeyStorage() const { return std::as_bytes(std::span(&FKey, 1)); }

    static constexpr int kBlockBytes = 16;

private:
    using TEncryption = CryptoPP::Twofish::Encryption;
    using TDecryption = CryptoPP::Twofish::Decryption;

    // The Crypto++ key schedules live in this storage, constructed by Init
    // and destroyed by WipeKey, so that wiping reaches the memory itself and
    // not only whatever the library chooses to clear.
    struct TKeyMaterial {
        alignas(TEncryption) unsigned char Encryption[sizeof(TEncryption)];
        alignas(TDecryption) unsigned char Decryption[sizeof(TDecryption)];
        uint8_t IV[kBlockBytes];
        uint8_t CV[kBlockBytes];
    };

    void CheckInitialized() const;
    // A short tail of a chained buffer: XOR with E(CV); the chain stays.
    void CipherTail(const uint8_t* in, uint8_t* out, uint32_t count);
    TEncryption& Enc() { return *std::launder(reinterpret_cast<TEncryption*>(FKey.Encryption)); }
    TDecryption& Dec() { return *std::launder(reinterpret_cast<TDecryption*>(FKey.Decryption)); }

    TKeyMaterial FKey;
    int32_t FKeyLength = 0;
};
