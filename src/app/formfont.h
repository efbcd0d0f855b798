// The font of the program's fixed-size windows: the application's family
// at 11 pixels, the size their layouts were drawn for.
#pragma once

#include <QApplication>
#include <QFont>

inline QFont FormFont()
{
    QFont font = QApplication::font();
    font.setPixelSize(11);
    return font;
}
