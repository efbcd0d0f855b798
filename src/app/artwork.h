// The program's pictures. They are drawn for this program as SVG files in
// the resources (artwork/*.svg) and rendered at the size a window needs.
#pragma once

#include <QPixmap>
#include <QSize>

// Renders ":/artwork/<name>.svg" into a pixmap of the given size with a
// transparent background. A missing picture gives a null pixmap.
QPixmap ArtworkPixmap(const char* name, QSize size);
