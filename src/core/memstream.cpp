#include "core/memstream.h"

#include "core/exceptions.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
std::atomic<TMemoryStream::TReleaseObserver> releaseObserver{nullptr};
constexpr int64_t kBlockGranularity = 8192;
}

void SecureFill(void* memory, uint8_t value, size_t count)
{
    volatile uint8_t* bytes = static_cast<volatile uint8_t*>(memory);
    for (size_t i = 0; i < count; ++i) bytes[i] = value;
}

void SecureZero(void* memory, size_t count) { SecureFill(memory, 0, count); }

void TMemoryStream::SetReleaseObserver(TReleaseObserver observer) { releaseObserver = observer; }

void TMemoryStream::ReleaseBlock(uint8_t* block, int64_t capacity)
{
    if (!block) return;
    SecureZero(block, static_cast<size_t>(capacity));
    if (auto observer = releaseObserver.load()) observer(block, static_cast<size_t>(capacity));
    std::free(block);
}

TMemoryStream::~TMemoryStream() { ReleaseBlock(FMemory, FCapacity); }

void TMemoryStream::SetCapacity(int64_t capacity)
{
    if (capacity == FCapacity) return;
    if (capacity == 0) {
        ReleaseBlock(FMemory, FCapacity);
        FMemory = nullptr;
        FCapacity = 0;
        return;
    }
    // Never realloc: the old block must be wiped before it is freed.
    auto* block = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(capacity), 1));
    if (!block) throw std::bad_alloc();
    if (FMemory) std::memcpy(block, FMemory, static_cast<size_t>(std::min(FSize, capacity)));
    ReleaseBlock(FMemory, FCapacity);
    FMemory = block;
    FCapacity = capacity;
}

void TMemoryStream::SetSize(int64_t size)
{
    if (size < 0) size = 0;
    if (size > FCapacity) {
        SetCapacity((size + kBlockGranularity - 1) / kBlockGranularity * kBlockGranularity);
    } else if (size == 0) {
        SetCapacity(0);
    } else if (size < FSize) {
        // Bytes cut off stay inside the block: zero them so that the block
        // only ever holds the stream's current contents beyond its size.
        SecureZero(FMemory + size, static_cast<size_t>(FSize - size));
    }
    FSize = size;
    if (FPosition > FSize) FPosition = FSize;
}

void TMemoryStream::Clear()
{
    SetCapacity(0);
    FSize = 0;
    FPosition = 0;
}

void TMemoryStream::SetPosition(int64_t position) { FPosition = std::max<int64_t>(0, position); }

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin)
{
    switch (origin) {
    case TSeekOrigin::soBeginning: SetPosition(offset); break;
    case TSeekOrigin::soCurrent: SetPosition(FPosition + offset); break;
    case TSeekOrigin::soEnd: SetPosition(FSize + offset); break;
    }
    return FPosition;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count)
{
    if (count <= 0 || FPosition >= FSize) return 0;
    const int64_t n = std::min(count, FSize - FPosition);
    std::memcpy(buffer, FMemory + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

void TMemoryStream::ReadBuffer(void* buffer, int64_t count)
{
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count)
{
    if (count <= 0) return 0;
    const int64_t end = FPosition + count;
    if (end > FSize) SetSize(end);
    std::memcpy(FMemory + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    return count;
}

int64_t TMemoryStream::CopyFrom(TMemoryStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    if (count <= 0) return 0;
    if (source.Position() + count > source.Size()) throw EReadError("Stream read error");
    // Copy straight from the source block: no third copy of the bytes.
    Write(source.Memory() + source.Position(), count);
    source.SetPosition(source.Position() + count);
    return count;
}
