// The fonts of the program's fixed-size windows. Their layouts were drawn
// for a narrow 11-pixel system font; texts that would not fit the space
// they were given in this toolkit's fonts are set smaller rather than cut.
#pragma once

#include <QFont>
#include <QStringList>

// The application's family at 11 pixels.
QFont FormFont();

// The font, made narrower and then smaller step by step (not below
// minimumPixelSize), until every text fits the width.
QFont FontFittingWidth(QFont font, const QStringList& texts, int width, int minimumPixelSize = 8);
