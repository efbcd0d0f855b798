#include "app/modelartwork.h"

#include "app/artwork.h"
#include "target/unitmodels.h"

#include <QtGlobal>

namespace {
// A missing file would show as an empty icon place or cabling picture, so
// say which one at once; the artwork tests fail on it as well.
QPixmap Drawn(const char* name, QSize size)
{
    QPixmap pixmap = ArtworkPixmap(name, size);
    if (pixmap.isNull()) qWarning("The artwork \"%s\" named in the unit types' table is missing", name);
    return pixmap;
}
}

TModelArtwork::TModelArtwork()
{
    for (uint32_t unitType = 0; unitType < UnitModelNames.size(); ++unitType) {
        const TUnitType& type = *FindUnitType(unitType);
        if (type.Icon && !FIcons.contains(type.Icon)) FIcons.emplace(type.Icon, Drawn(type.Icon, IconSize));
        if (type.CablePicture && !FPictures.contains(type.CablePicture))
            FPictures.emplace(type.CablePicture, Drawn(type.CablePicture, ArtworkSize(type.CablePicture)));
    }
}

const QPixmap* TModelArtwork::Icon(uint32_t unitType) const
{
    const TUnitType* type = FindUnitType(unitType);
    if (!type || !type->Icon) return nullptr;
    return &FIcons.at(type->Icon);
}

const QPixmap* TModelArtwork::Picture(const std::string& name) const
{
    const auto picture = FPictures.find(name);
    return picture == FPictures.end() ? nullptr : &picture->second;
}
