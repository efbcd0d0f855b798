// The block-cipher component beneath the enciphered memory stream: the key
// set-up, the chaining register and the three chaining modes over one block
// transform. Concrete ciphers (Twofish) implement every operation.
#pragma once

#include <QObject>

#include <cstdint>
#include <string>

class TBlockCipher : public QObject {
    Q_OBJECT
public:
    explicit TBlockCipher(QObject* owner = nullptr) : QObject(owner) {}
    ~TBlockCipher() override = default;

    // Read-only description of the cipher.
    int32_t AlgorithmNumber() const { return FAlgorithmNumber; }
    const std::string& Algorithm() const { return FAlgorithm; }
    int32_t BlockSize() const { return FBlockSize; }   // bits
    int32_t MaxKeySize() const { return FMaxKeySize; } // bits
    // True between a successful key set-up and the next WipeKey.
    bool Initialized() const { return FInitialized; }

    // Sets up the key (Size in bits) and the chain. Without an IV the chain
    // starts from a cipher-specific vector derived from the key.
    virtual void Init(const void* Key, int32_t Size, const void* IV) = 0;
    // Destroys all key material, the IV and the chaining register.
    virtual void WipeKey() = 0;
    // Restarts the chain from the IV.
    virtual void ResetChain() = 0;

    // One block each; In and Out may be the same buffer.
    virtual void EncryptECB(const void* In, void* Out) = 0;
    virtual void DecryptECB(const void* In, void* Out) = 0;
    // Size bytes each; In and Out may be the same buffer. The chaining
    // register carries over from one call to the next.
    virtual void EncryptCBC(const void* In, void* Out, uint32_t Size) = 0;
    virtual void DecryptCBC(const void* In, void* Out, uint32_t Size) = 0;
    virtual void EncryptCFB(const void* In, void* Out, uint32_t Size) = 0;
    virtual void DecryptCFB(const void* In, void* Out, uint32_t Size) = 0;

protected:
    int32_t FAlgorithmNumber = 0;
    bool FInitialized = false;
    std::string FAlgorithm;
    int32_t FBlockSize = 0;
    int32_t FMaxKeySize = 0;
};
