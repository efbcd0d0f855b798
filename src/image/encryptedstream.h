// In-memory streams that encipher or decipher their whole contents in place.
// The deciphered firmware image lives only in such a stream; destroying the
// stream overwrites the contents, and the memory stream wipes every block it
// releases.
#pragma once

#include "core/memstream.h"
#include "core/exceptions.h"
#include "image/blockcipher.h"

#include <cstdint>
#include <memory>

class ECryptException : public Exception {
public:
    using Exception::Exception;
};

// The stream's chaining modes.
enum : uint8_t { cmElectronicCodebook = 0, cmCipherBlockChaining = 1, cmCipherFeedback = 2 };

// Chaining modes' names, indexed by the stream's mode.
inline constexpr const char* CipherModeNames[] = {"Electronic Codebook", "Cipher Block Chaining", "Cipher Feedback"};

class TEncryptedMemoryStream : public TMemoryStream {
public:
    ~TEncryptedMemoryStream() override;

    // 0 Electronic Codebook, 1 Cipher Block Chaining, 2 Cipher Feedback;
    // any other value leaves the contents as they are.
    uint8_t Mode() const { return FMode; }
    void SetMode(uint8_t mode) { FMode = mode; }

    int32_t BlockBytes() const { return FCipher->BlockSize() / 8; }
    const TBlockCipher& Cipher() const { return *FCipher; }

    virtual bool DataSizeValid();
    // Encipher or decipher bytes 0 to size - 1 in place under the key
    // (KeyLength bytes); size and position stay as they are. The key
    // material is wiped before either returns.
    virtual void Encrypt(const void* Key, uint32_t KeyLength);
    virtual void Decrypt(const void* Key, uint32_t KeyLength);

    // Overwrites the whole contents with zeros; the position ends at the end.
    void WipeContents();

protected:
    // A stream always has its cipher: the kinds below choose it.
    explicit TEncryptedMemoryStream(std::unique_ptr<TBlockCipher> cipher);

private:
    enum class TDirection { Encipher, Decipher };
    void Transform(const void* Key, uint32_t KeyLength, TDirection direction);

    std::unique_ptr<TBlockCipher> FCipher;
    uint8_t FMode = cmCipherFeedback;
};

class TTwoFishEncryptedMemoryStream : public TEncryptedMemoryStream {
public:
    TTwoFishEncryptedMemoryStream();
};
