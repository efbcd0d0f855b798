// The artwork drawn in the screen's own pixels: at a device pixel ratio of
// 1.5 or 2 a picture has that many more pixels, and still counts as its
// size in the windows' layout.
#include "app/artwork.h"

#include <gtest/gtest.h>

namespace {
struct TArtworkCase {
    const char* Name;
    QSize Size;
};

class ArtworkAtRatio : public ::testing::TestWithParam<TArtworkCase> {};

TEST_P(ArtworkAtRatio, HasTheRatiosPixelsAndItsOwnSize)
{
    for (qreal ratio : {1.0, 1.5, 2.0}) {
        const QPixmap pixmap = ArtworkPixmap(GetParam().Name, GetParam().Size, ratio);
        ASSERT_FALSE(pixmap.isNull()) << GetParam().Name;
        EXPECT_EQ(pixmap.size(), GetParam().Size * ratio) << GetParam().Name << " at " << ratio;
        EXPECT_EQ(pixmap.devicePixelRatio(), ratio);
        EXPECT_EQ(pixmap.deviceIndependentSize().toSize(), GetParam().Size);
        EXPECT_FALSE(pixmap.toImage().allGray()) << GetParam().Name << " at " << ratio << " left blank";
    }
}

INSTANTIATE_TEST_SUITE_P(Pictures, ArtworkAtRatio,
                         ::testing::Values(TArtworkCase{"icon4620", QSize(32, 32)}, TArtworkCase{"logo", QSize(32, 32)},
                                           TArtworkCase{"cable4620", QSize(200, 186)},
                                           TArtworkCase{"cable3840", QSize(123, 200)}));

TEST(Artwork, AtTwiceTheRatioIsDrawnNotEnlarged)
{
    // An enlarged 1x picture has its pixels in 2 x 2 blocks of one colour.
    const QImage sharp = ArtworkPixmap("cable4620", QSize(200, 186), 2.0).toImage();
    const QImage enlarged = ArtworkPixmap("cable4620", QSize(200, 186), 1.0).toImage().scaled(sharp.size());
    EXPECT_NE(sharp, enlarged);
    int splitBlocks = 0;
    for (int y = 0; y + 1 < sharp.height(); y += 2)
        for (int x = 0; x + 1 < sharp.width(); x += 2)
            if (sharp.pixel(x, y) != sharp.pixel(x + 1, y + 1)) ++splitBlocks;
    EXPECT_GT(splitBlocks, 100);
}

TEST(Artwork, TheIconHasEverySizeAndItsDoubleSizePixmap)
{
    const QIcon icon = ArtworkIcon("appicon");
    const QList<QSize> sizes = icon.availableSizes();
    for (int side : {16, 20, 24, 32, 40, 48, 64, 256}) EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
    const QPixmap doubled = icon.pixmap(QSize(32, 32), 2.0);
    EXPECT_EQ(doubled.size(), QSize(64, 64));
    EXPECT_EQ(doubled.devicePixelRatio(), 2.0);
}

TEST(Artwork, AMissingPictureIsNull)
{
    EXPECT_TRUE(ArtworkPixmap("no-such-picture", QSize(32, 32), 2.0).isNull());
    EXPECT_TRUE(ArtworkPixmap("no-such-picture", QSize(32, 32)).isNull());
}
}
