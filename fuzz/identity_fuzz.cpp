// The identity text the unit reports: "seed:start:size:name", with any bytes
// at all in it. Parsing either refuses the text as a conversion error or
// gives fields that follow from an independent split of the text.
#include "core/exceptions.h"
#include "fuzzcheck.h"
#include "hexreference.h"
#include "protocol/loaderprotocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The text cut at its first three colons (the name keeps any later ones).
std::vector<std::string> SplitAtThreeColons(const std::string& text)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t colon = text.find(':', from);
        parts.push_back(text.substr(from, colon - from));
        from = colon + 1;
    }
    parts.push_back(text.substr(from));
    return parts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string name = "untouched";
    uint16_t seed = 0;
    uint32_t start = 0, flashSize = 0;
    const bool enoughColons = std::count(text.begin(), text.end(), ':') >= 3;
    try {
        TFlashFDTDevice::ParseIdentity(text, name, seed, start, flashSize);
    } catch (const EConvertError& e) {
        FUZZ_CHECK(!enoughColons);
        FUZZ_CHECK(e.Message() == "Bad Device Identity String");
        FUZZ_CHECK(name == "untouched");
        return 0;
    }
    FUZZ_CHECK(enoughColons);

    const std::vector<std::string> parts = SplitAtThreeColons(text);
    FUZZ_CHECK(seed == (hexref::Value32(parts[0]) & 0xFFFF));
    FUZZ_CHECK(start == hexref::Value32(parts[1]));
    FUZZ_CHECK(flashSize == hexref::Value32(parts[2]));

    // Only the name's first line feed goes; everything else stays as sent.
    std::string expectedName = parts[3];
    const size_t lineFeed = expectedName.find('\n');
    if (lineFeed != std::string::npos) expectedName.erase(lineFeed, 1);
    FUZZ_CHECK(name == expectedName);
    FUZZ_CHECK(name.size() + 3 <= text.size());
    return 0;
}
