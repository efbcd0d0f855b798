#include "cli/adapterwarning.h"

#include "protocol/loaderprotocol.h"
#include "target/unitmodels.h"

#include <algorithm>
#include <cstdio>

TReadBack ReadBackOf(const TStoredImage& image)
{
    TReadBack readBack;
    const TUnitType* type = FindUnitType(UnitType(image));
    if (!type || !type->NewTarget) return readBack;
    const std::unique_ptr<THitachiFlash> target = type->NewTarget();
    readBack.Bytes = target->FlashSize();
    // The programmer's own image is verified only as far as it goes.
    if (target->FlashStart() == 0 && image.Length < readBack.Bytes) readBack.Bytes = image.Length;
    const auto blockSize = uint32_t(std::max(1, target->Device()->ReadBlockSize()));
    readBack.Blocks = (readBack.Bytes + blockSize - 1) / blockSize;
    return readBack;
}

std::string LatencyWarning(const std::string& port, const TSerialPortFacts& facts, const TReadBack& readBack)
{
    if (facts.LatencyTimerMs <= LatencyTimerWarnAboveMs) return "";
    std::string adapter = facts.Description.empty() ? port : facts.Description;
    if (!facts.UsbVendorId.empty()) adapter += ", usb " + facts.UsbVendorId + ":" + facts.UsbProductId;
    if (!facts.SerialNumber.empty()) adapter += ", serial " + facts.SerialNumber;
    char figures[200];
    std::snprintf(figures, sizeof figures,
                  "the read-back of this image (%u bytes in %u blocks) can take up to %.0f s longer than at 1 ms,\n"
                  "as each block's round trip waits once or twice for the timer.\n",
                  unsigned(readBack.Bytes), unsigned(readBack.Blocks),
                  2.0 * (facts.LatencyTimerMs - 1) * readBack.Blocks / 1000.0);
    return "Warning: " + port + " (" + adapter + ") has its FTDI latency timer at " +
           std::to_string(facts.LatencyTimerMs) + " ms:\n" + figures +
           "To set it to 1 ms: Device Manager -> Ports (COM & LPT) -> " +
           (facts.Description.empty() ? port : facts.Description) +
           " -> Properties -> Port Settings -> Advanced -> Latency Timer (msec): 1.\n";
}
