// The demo firmware embedded by default: a 4620 whole-flash image whose
// area from 0x800 carries the checksum the simulated unit expects.
#include "imagetest.h"
#include "tools/common/demounit.h"
#include "tools/mkimage/demofirmware.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(DemoFirmware, AreaChecksumFitsTheSimulatedUnitsSeed)
{
    const Bytes image = MakeDemoFirmware();
    ASSERT_EQ(image.size(), 32768u);
    const Bytes area(image.begin() + 0x800, image.end());
    ASSERT_EQ(area.size(), 30720u);
    uint32_t sum = kDemoChecksumSeed;
    for (size_t i = 0; i + 2 < area.size(); ++i) sum += area[i];
    EXPECT_EQ(sum & 0xFFFF, static_cast<uint32_t>(area[area.size() - 2] << 8 | area.back()));
}

TEST(DemoFirmware, LooksLikeFirmwareAndIsTheSameEveryTime)
{
    const Bytes image = MakeDemoFirmware();
    EXPECT_EQ(image, MakeDemoFirmware());
    const auto used = std::count_if(image.begin() + 0x800, image.end(), [](uint8_t b) { return b != 0xFF; });
    EXPECT_GT(used, 10000);        // code, texts and tables, not erased flash
    EXPECT_LT(used, 30720 - 1000); // with erased flash at the end
    const std::string text(image.begin() + 0x800, image.begin() + 0x810);
    EXPECT_EQ(text, "MORVEX 4620 V2.5");
}

TEST(DemoFirmware, BuildWritesItToTheBuildDirectory)
{
    EXPECT_EQ(ReadFileBytes(MORVEX_DEMO_IMAGE_FILE), MakeDemoFirmware());
}
