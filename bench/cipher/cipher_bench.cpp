// Deciphering cost of a full stored image: Cipher Feedback spends one
// Twofish block encryption per byte, so a 131,072-byte image is compared
// with 131,072 raw Crypto++ block encryptions timed in the same run. The
// ratio shows what the stream and the chaining add to the block transform.
#include "image/encryptedstream.h"
#include "image/storedimage.h"
#include "tools/mkimage/recordbuilder.h"

#include <crypto++/twofish.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kRounds = 9;
volatile uint8_t gSink; // keeps the raw loop's result alive

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::vector<uint8_t> PlainImage()
{
    std::vector<uint8_t> bytes(MaxImageSize);
    uint32_t state = 0x12345678;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

// One full decipher of the record in place; returns the time of Decrypt.
double TimeStreamDecipher(const TStoredImage& record, const std::string& phrase, const std::vector<uint8_t>& plain)
{
    TTwoFishEncryptedMemoryStream stream;
    stream.SetMode(2);
    LoadImage(stream, record);
    const auto start = Clock::now();
    stream.Decrypt(phrase.data(), static_cast<uint32_t>(phrase.size()));
    const double seconds = Seconds(Clock::now() - start);
    if (std::memcmp(stream.Memory(), plain.data(), plain.size()) != 0) {
        std::fprintf(stderr, "deciphered image differs from the plain image\n");
        std::exit(1);
    }
    return seconds;
}

// The same count of raw block encryptions, each depending on the last so
// none can be skipped.
double TimeRawBlocks(const std::string& phrase, uint32_t count)
{
    uint8_t key[16] = {};
    std::memcpy(key, phrase.data(), phrase.size());
    CryptoPP::Twofish::Encryption cipher(key, sizeof key);
    uint8_t block[16];
    std::memset(block, 0xFF, sizeof block);
    const auto start = Clock::now();
    for (uint32_t i = 0; i < count; ++i) cipher.ProcessBlock(block);
    const double seconds = Seconds(Clock::now() - start);
    gSink = block[0];
    return seconds;
}
} // namespace

int main()
{
    const std::string phrase("\x5A\x13\xC4\x00\x9E\x27\xB1\x68", 8);
    const std::vector<uint8_t> plain = PlainImage();
    const auto record = BuildStoredImage(plain, "bench", 3, phrase);

    std::vector<double> stream, raw;
    for (int round = 0; round < kRounds; ++round) { // interleaved, so both see the same machine load
        stream.push_back(TimeStreamDecipher(*record, phrase, plain));
        raw.push_back(TimeRawBlocks(phrase, MaxImageSize));
    }
    const double bestStream = *std::min_element(stream.begin(), stream.end());
    const double bestRaw = *std::min_element(raw.begin(), raw.end());
    std::sort(stream.begin(), stream.end());
    std::sort(raw.begin(), raw.end());

    std::printf("Cipher Feedback decipher of a %u-byte stored image (best of %d, median):\n", MaxImageSize, kRounds);
    std::printf("  stream Decrypt        %8.3f ms  %8.3f ms  (%.1f ns/byte)\n", bestStream * 1e3,
                stream[kRounds / 2] * 1e3, bestStream * 1e9 / MaxImageSize);
    std::printf("  raw Twofish blocks    %8.3f ms  %8.3f ms  (%.1f ns/block)\n", bestRaw * 1e3, raw[kRounds / 2] * 1e3,
                bestRaw * 1e9 / MaxImageSize);
    std::printf("  ratio stream/raw      %8.3f     %8.3f     (goal: at most 1.2)\n", bestStream / bestRaw,
                stream[kRounds / 2] / raw[kRounds / 2]);
    return 0;
}
