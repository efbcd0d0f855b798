// The unit models' artwork as the main window shows it. Which icon and
// which cabling picture a unit type has is named in the product's table of
// unit types (target/unitmodels); this draws each one named there, once,
// so a new model needs its row there and its artwork files, nothing here.
#pragma once

#include <QPixmap>
#include <QSize>
#include <cstdint>
#include <map>
#include <string>

class TModelArtwork {
public:
    // The window's icon place; cabling pictures are drawn at the size their
    // artwork file gives, since each has the shape of its unit.
    static constexpr QSize IconSize{32, 32};

    // Draws every icon and cabling picture the table names, at the
    // application's device pixel ratio.
    TModelArtwork();

    // The icon of a unit type; null for a type without one (or beyond the
    // table), where the window shows the program's own icon.
    const QPixmap* Icon(uint32_t unitType) const;
    // A cabling picture by its artwork name; null for a name no unit type
    // has. A name whose artwork file is missing gives a null pixmap, never
    // another model's picture.
    const QPixmap* Picture(const std::string& name) const;

    // Everything drawn, by artwork name.
    const std::map<std::string, QPixmap>& Icons() const { return FIcons; }
    const std::map<std::string, QPixmap>& Pictures() const { return FPictures; }

private:
    std::map<std::string, QPixmap> FIcons;
    std::map<std::string, QPixmap> FPictures;
};
