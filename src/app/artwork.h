// The program's pictures. They are drawn for this program as SVG files in
// the resources (artwork/*.svg) and rendered at the size a window needs, in
// the screen's own pixels: crisp at 150 % and 200 % as at 100 %.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

// Renders ":/artwork/<name>.svg" with a transparent background into a
// pixmap of size x ratio device pixels whose device pixel ratio is ratio, so
// that layouts and painters see it as size. A missing picture gives a null
// pixmap.
QPixmap ArtworkPixmap(const char* name, QSize size, qreal ratio);

// The same at the application's device pixel ratio (its screens' highest).
QPixmap ArtworkPixmap(const char* name, QSize size);

// The size the picture is drawn for (its file's width and height); an
// invalid size for a missing picture.
QSize ArtworkSize(const char* name);

// The picture as an icon, drawn at each size a title bar, task bar or
// switcher asks for.
QIcon ArtworkIcon(const char* name);
