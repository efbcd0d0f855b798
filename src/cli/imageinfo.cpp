#include "cli/imageinfo.h"

#include "target/unitmodels.h"

std::string UnitModelName(uint32_t unitType)
{
    return unitType < UnitModelNames.size() ? UnitModelNames[unitType] : "unknown";
}

std::string ImageInfoText(const TStoredImage& image)
{
    const uint32_t type = UnitType(image);
    return "Image:     " + GetImageName(image) + "\n" + "Unit type: " + std::to_string(type) + "\n" +
           "Model:     " + UnitModelName(type) + "\n" + "Size:      " + std::to_string(image.Length) + " bytes\n";
}
