// The product's table of unit types against the artwork files: every icon
// and cabling picture a row names must be there, or the window would show
// an empty place for that model (before, a missing cabling picture quietly
// became the 4620's).
#include "app/artwork.h"
#include "app/modelartwork.h"
#include "run/wizardpage.h"
#include "target/unitmodels.h"

#include <gtest/gtest.h>

namespace {
void ExpectDrawn(const QPixmap* pixmap, QSize size)
{
    ASSERT_NE(pixmap, nullptr);
    ASSERT_FALSE(pixmap->isNull()) << "no artwork file, or not in the resources";
    EXPECT_EQ(pixmap->deviceIndependentSize().toSize(), size);
    EXPECT_FALSE(pixmap->toImage().allGray()) << "left blank";
}

TEST(ModelArtwork, EveryUnitTypeHasTheArtworkItsRowNames)
{
    const TModelArtwork artwork;
    for (uint32_t unitType = 0; unitType < UnitModelNames.size(); ++unitType) {
        SCOPED_TRACE(std::string("unit type ") + std::to_string(unitType) + ", " + UnitModelNames[unitType]);
        const TUnitType& type = *FindUnitType(unitType);
        // Instructions without a picture would drop the cabling page.
        EXPECT_EQ(type.Instructions != TInstructionSet::None, type.CablePicture != nullptr);
        EXPECT_EQ(WizardPage(unitType).has_value(), type.CablePicture != nullptr);
        if (type.Icon)
            ExpectDrawn(artwork.Icon(unitType), TModelArtwork::IconSize);
        else
            EXPECT_EQ(artwork.Icon(unitType), nullptr);
        if (type.CablePicture) {
            const QSize size = ArtworkSize(type.CablePicture);
            EXPECT_TRUE(size.isValid());
            ExpectDrawn(artwork.Picture(type.CablePicture), size);
        }
    }
    EXPECT_EQ(artwork.Icon(UnitModelNames.size()), nullptr);
    EXPECT_EQ(artwork.Picture("no-such-picture"), nullptr);
}
}
