#include "app/formfont.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <algorithm>

QFont FormFont()
{
    QFont font = QApplication::font();
    font.setPixelSize(11);
    return font;
}

QFont FontFittingWidth(QFont font, const QStringList& texts, int width, int minimumPixelSize)
{
    auto fits = [&](const QFont& candidate) {
        const QFontMetrics metrics(candidate);
        return std::all_of(texts.begin(), texts.end(),
                           [&](const QString& text) { return metrics.horizontalAdvance(text) <= width; });
    };
    if (fits(font)) return font;
    font.setStretch(QFont::SemiCondensed);
    int pixelSize = QFontInfo(font).pixelSize();
    while (!fits(font) && pixelSize > minimumPixelSize) font.setPixelSize(--pixelSize);
    return font;
}
