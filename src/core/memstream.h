// In-memory byte stream: one memory block with size, position and capacity.
//
// Every block this stream ever owned is overwritten with zeros before it is
// returned to the allocator: when the stream grows into a new block, shrinks
// to nothing, or is destroyed. Images and flash contents pass through these
// streams, and a plain firmware image must not linger in freed memory.
#pragma once

#include <cstddef>
#include <cstdint>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TMemoryStream {
public:
    TMemoryStream() = default;
    virtual ~TMemoryStream();
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    int64_t Size() const { return FSize; }
    int64_t Position() const { return FPosition; }
    void SetPosition(int64_t position);
    int64_t Seek(int64_t offset, TSeekOrigin origin);
    int64_t Capacity() const { return FCapacity; }

    // Grows (new bytes are zero) or shrinks the stream; the position is
    // clamped to the new size.
    void SetSize(int64_t size);
    void Clear();

    // Reads up to count bytes from the position; returns the bytes read.
    int64_t Read(void* buffer, int64_t count);
    // Reads exactly count bytes or raises EReadError "Stream read error".
    void ReadBuffer(void* buffer, int64_t count);
    // Writes count bytes at the position, growing the stream as needed.
    int64_t Write(const void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count) { Write(buffer, count); }
    // Copies count bytes from source's position into this stream; a count
    // of 0 copies the whole source from its start.
    int64_t CopyFrom(TMemoryStream& source, int64_t count);

    uint8_t* Memory() { return FMemory; }
    const uint8_t* Memory() const { return FMemory; }

    // Observer of every block just before it is released (tests look at the
    // released memory through it). Null when nobody observes.
    using TReleaseObserver = void (*)(const uint8_t* block, size_t capacity);
    static void SetReleaseObserver(TReleaseObserver observer);

private:
    void SetCapacity(int64_t capacity);
    static void ReleaseBlock(uint8_t* block, int64_t capacity);

    uint8_t* FMemory = nullptr;
    int64_t FSize = 0;
    int64_t FPosition = 0;
    int64_t FCapacity = 0;
};

// Overwrites memory in a way the optimiser may not remove.
void SecureZero(void* memory, size_t count);
void SecureFill(void* memory, uint8_t value, size_t count);
