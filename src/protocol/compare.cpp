#include "protocol/compare.h"
#include "core/format.h"

#include <algorithm>
#include <cstring>

namespace {

uint8_t ReadByte(TMemoryStream& stream)
{
    uint8_t value = 0;
    stream.ReadBuffer(&value, 1);
    return value;
}

std::string SizeHeader(const TMemoryStream& file, const TMemoryStream& flash)
{
    return Format("File Size: %d, Flash Size: %d", static_cast<int>(file.Size()), static_cast<int>(flash.Size()));
}

} // namespace

void FillStream(TMemoryStream& stream, int32_t offset, int32_t count, uint8_t value)
{
    if (offset < 0) throw Exception(Format("FillStream: negative offset %d", offset));
    if (count <= 0) return;
    const int64_t end = static_cast<int64_t>(offset) + count;
    if (stream.Size() < end) {
        const int64_t position = stream.Position();
        stream.SetSize(end);
        stream.SetPosition(position);
    }
    std::memset(stream.Memory() + offset, value, static_cast<size_t>(count));
}

void PadStream(TMemoryStream& stream, int32_t newSize, uint8_t value)
{
    const int64_t oldSize = stream.Size();
    if (oldSize >= newSize) return;
    FillStream(stream, static_cast<int32_t>(oldSize), static_cast<int32_t>(newSize - oldSize), value);
}

void CompareBuffers(TMemoryStream& file, TMemoryStream& flash, TMessageDialogs& dialogs)
{
    bool showEach = true;
    bool cancelled = false;
    int count = 0;
    int64_t cancelAddress = 0;
    const int64_t n = std::min(file.Size(), flash.Size());
    const std::string header = SizeHeader(file, flash);

    if (n == 0) dialogs.MessageDlg("File or Buffer Empty (or both). " + header, mtWarning, mbOK);

    file.SetPosition(0);
    flash.SetPosition(0);
    for (int64_t address = 0; address < n; ++address) {
        const uint8_t f = ReadByte(file);
        const uint8_t b = ReadByte(flash);
        if (f == b) continue;
        ++count;
        if (!showEach) continue;
        const std::string text = Format("No Match at %d (0x%X). File: %0.2x, Buf: %0.2x. ", static_cast<int>(address),
                                        static_cast<unsigned>(address), f, b) +
                                 "Show future discrepencies (Yes/No) or cancel now?";
        const TModalResult answer = dialogs.MessageDlg(text, mtWarning, mbYesNoCancel);
        if (answer == mrCancel) {
            cancelAddress = address;
            cancelled = true;
            break;
        }
        if (answer == mrNo) showEach = false;
    }

    if (count == 0) {
        dialogs.MessageDlg("No discrepencies found." + header + "   ", mtInformation, mbOK);
        return;
    }
    std::string text = Format("Found %d discrepencies. ", count);
    if (cancelled) text += Format("Cancelled at address %d. ", static_cast<int>(cancelAddress));
    dialogs.MessageDlg(text + header + "   ", mtWarning, mbOK);
}

TDifferences FindDifferences(const TMemoryStream& file, const TMemoryStream& flash, size_t firstCount)
{
    TDifferences differences;
    const int64_t n = std::min(file.Size(), flash.Size());
    for (int64_t offset = 0; offset < n; ++offset) {
        if (file.Memory()[offset] == flash.Memory()[offset]) continue;
        ++differences.Count;
        if (differences.First.size() < firstCount) differences.First.push_back(offset);
    }
    return differences;
}

void VerifyBuffers(TMemoryStream& file, TMemoryStream& flash)
{
    const int64_t n = std::min(file.Size(), flash.Size());
    int count = 0;
    int64_t first = 0;
    file.SetPosition(0);
    flash.SetPosition(0);
    if (n == 0) throw ECompareException("Verify: File, Flash (or Both) buffers are empty.");

    for (int64_t address = 0; address < n; ++address) {
        if (ReadByte(file) == ReadByte(flash)) continue;
        if (count == 0) first = address;
        ++count;
    }

    std::string message = "Verify:\r";
    bool failed = false;
    if (file.Size() != flash.Size()) {
        message += Format("File size (%d) does not match Flash size (%d).", static_cast<int>(file.Size()),
                          static_cast<int>(flash.Size())) +
                   "\r";
        failed = true;
    }
    if (count > 0) {
        message += Format("Found %d discrepencies starting at address 0x%x.", count, static_cast<unsigned>(first));
        failed = true;
    }
    if (failed) throw ECompareException(message);
}
