#include "image/storedimage.h"

namespace {
constexpr size_t kNameSize = sizeof(TStoredImage::Name);

bool LengthFits(const TStoredImage& image) { return image.Length <= MaxImageSize; }
} // namespace

std::string GetImageName(const TStoredImage& image)
{
    std::string name;
    for (size_t i = 0; i < kNameSize && image.Name[i] != 0; ++i) name += static_cast<char>(image.Name[i]);
    return name;
}

uint32_t UnitType(const TStoredImage& image) { return image.UnitType; }

bool IsImageValid(const TStoredImage& image)
{
    // A Length beyond Data would make the loader read outside the record.
    return !GetImageName(image).empty() && image.Length > 0 && LengthFits(image);
}

void LoadImage(TMemoryStream& stream, const TStoredImage& image)
{
    stream.Clear();
    if (LengthFits(image)) stream.Write(image.Data, image.Length);
}
