#include "tools/mkimage/demofirmware.h"

#include "tools/common/demounit.h"

#include <string>

namespace {
constexpr uint8_t kErased = 0xFF; // erased flash reads as 0xFF

// Small deterministic generator (xorshift32).
class TRandom {
public:
    uint32_t Next()
    {
        FState ^= FState << 13;
        FState ^= FState >> 17;
        FState ^= FState << 5;
        return FState;
    }
    uint32_t Below(uint32_t n) { return Next() % n; }

private:
    uint32_t FState = 0x4620A25u;
};

class TImageWriter {
public:
    TImageWriter(std::vector<uint8_t>& image, uint32_t at) : FImage(image), FAt(at) {}
    uint32_t At() const { return FAt; }
    void Byte(uint32_t b) { FImage[FAt++] = static_cast<uint8_t>(b); }
    void Word(uint32_t w)
    {
        Byte(w >> 8);
        Byte(w);
    } // H8 is big-endian
    void Text(const std::string& text)
    {
        for (char c : text) Byte(static_cast<uint8_t>(c));
        Byte(0);
    }
    void Align(uint32_t n)
    {
        while (FAt % n) Byte(kErased);
    }

private:
    std::vector<uint8_t>& FImage;
    uint32_t FAt;
};

// One subroutine of H8/300H-style instructions: register loads and
// stores, moves, adds, compares, short branches, calls, then rts.
void WriteRoutine(TImageWriter& out, TRandom& random, uint32_t codeStart, uint32_t codeEnd)
{
    out.Word(0x6DF6); // push r6
    const uint32_t count = 6 + random.Below(30);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t r = random.Below(7);
        const uint32_t s = random.Below(7);
        switch (random.Below(9)) {
        case 0:
            out.Word(0x7900 | r);
            out.Word(random.Below(0x10000));
            break; // mov.w #imm,r
        case 1:
            out.Word(0x6B80 | r);
            out.Word(0xF700 + 2 * random.Below(0x80));
            break; // mov.w r,@aa:16
        case 2:
            out.Word(0x6B00 | r);
            out.Word(0xF700 + 2 * random.Below(0x80));
            break;                                                      // mov.w @aa:16,r
        case 3: out.Word(0x0D00 | s << 4 | r); break;                   // mov.w rs,rd
        case 4: out.Word(0x0900 | s << 4 | r); break;                   // add.w rs,rd
        case 5: out.Word(0xA000 | r << 8 | random.Below(0x100)); break; // cmp.b #imm,r
        case 6: out.Word(0x4600 | (2 * random.Below(16))); break;       // bne d:8
        case 7:
            out.Word(0x5E00);
            out.Word(codeStart + 2 * random.Below((codeEnd - codeStart) / 2));
            break;                                     // jsr
        default: out.Word(0x1900 | s << 4 | r); break; // sub.w rs,rd
        }
    }
    out.Word(0x6D76); // pop r6
    out.Word(0x5470); // rts
}

void WriteVectors(std::vector<uint8_t>& image)
{
    TImageWriter out(image, 0);
    out.Word(0x0100); // reset: the boot stub
    for (int i = 1; i < 26; ++i) out.Word(i < 7 ? 0x0100 : kDemoAreaStart + 0x20 + 4 * i);
}

void WriteBootStub(std::vector<uint8_t>& image, TRandom& random)
{
    TImageWriter out(image, 0x100);
    out.Word(0x7A07);
    out.Word(0x0000);
    out.Word(0xFF80); // mov.l #0xFF80,er7 (stack)
    while (out.At() < 0x300) WriteRoutine(out, random, 0x100, 0x300);
    out.Word(0x5A00);
    out.Word(kDemoAreaStart + 0x20); // jmp into the application
}

void WriteApplication(std::vector<uint8_t>& image, TRandom& random)
{
    TImageWriter out(image, kDemoAreaStart);
    out.Text("MORVEX 4620 V2.5");
    out.Text("4620-511");
    out.Align(0x20);
    // Interrupt entry points, then the routines.
    for (int i = 0; i < 26; ++i) {
        out.Word(0x5A00);
        out.Word(0x0C00 + 0x40 * i);
    }
    constexpr uint32_t kCodeEnd = 0x5C00;
    while (out.At() < kCodeEnd - 80) WriteRoutine(out, random, kDemoAreaStart + 0x100, kCodeEnd);
    out.Align(0x100);

    const char* texts[] = {"Morvex Instruments",
                           "Self test",
                           "Calibrating...",
                           "Cal OK",
                           "Cal Error %d",
                           "Span",
                           "Zero",
                           "Setpoint",
                           "Alarm 1",
                           "Alarm 2",
                           "Relay",
                           "Input type",
                           "Thermocouple K",
                           "Thermocouple J",
                           "Pt100",
                           "4-20 mA",
                           "0-10 V",
                           "Baud rate",
                           "Address",
                           "Parity",
                           "Password",
                           "Factory reset?",
                           "Firmware V2.5"};
    for (const char* text : texts) out.Text(text);
    out.Align(0x100);

    // A linearisation table: rising 16-bit values with a slight curve.
    for (uint32_t i = 0; i < 512; ++i) out.Word(i * 96 + (i * i) / 40 + random.Below(4));
    // Everything up to the checksum word stays erased.
}

void WriteChecksum(std::vector<uint8_t>& image)
{
    uint32_t sum = kDemoChecksumSeed;
    for (uint32_t i = kDemoAreaStart; i < kDemoImageSize - 2; ++i) sum += image[i];
    image[kDemoImageSize - 2] = static_cast<uint8_t>(sum >> 8);
    image[kDemoImageSize - 1] = static_cast<uint8_t>(sum);
}
} // namespace

std::vector<uint8_t> MakeDemoFirmware()
{
    std::vector<uint8_t> image(kDemoImageSize, kErased);
    TRandom random;
    WriteVectors(image);
    WriteBootStub(image, random);
    WriteApplication(image, random);
    WriteChecksum(image);
    return image;
}
