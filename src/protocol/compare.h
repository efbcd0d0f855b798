// Comparison of an image with the bytes read back from the unit, and the
// stream filling used to pad an image before programming.
#pragma once

#include <cstdint>
#include <vector>

#include "core/memstream.h"
#include "core/exceptions.h"
#include "protocol/messagedialogs.h"

// A failed silent comparison (the verify step of a programming run).
class ECompareException : public Exception {
public:
    explicit ECompareException(std::string message) : Exception(std::move(message), TFailureCause::Difference) {}
};

// Grows the stream to offset + count when it is shorter, then sets the count
// bytes from offset on to value. A count of 0 or less changes nothing; a
// negative offset raises Exception. The stream position is kept.
void FillStream(TMemoryStream& stream, int32_t offset, int32_t count, uint8_t value);

// Grows the stream to newSize when it is shorter, filling the added bytes
// with value; a stream that is long enough is left as it is.
void PadStream(TMemoryStream& stream, int32_t newSize, uint8_t value);

// Interactive comparison: a box for each difference (until the operator says
// No or Cancel) and a closing summary box. Raises nothing of its own.
void CompareBuffers(TMemoryStream& file, TMemoryStream& flash, TMessageDialogs& dialogs);

// Where two buffers differ over the length they share: how many bytes, and
// the offsets of the first of them (at most firstCount), for a record that
// must say where a unit's flash departs from the image.
struct TDifferences {
    int64_t Count = 0;
    std::vector<int64_t> First;
};
TDifferences FindDifferences(const TMemoryStream& file, const TMemoryStream& flash, size_t firstCount);

// Silent comparison: returns when both buffers are non-empty, of the same
// size and equal; raises ECompareException describing the difference
// otherwise (lines separated by a carriage return alone).
void VerifyBuffers(TMemoryStream& file, TMemoryStream& flash);
