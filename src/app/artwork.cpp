#include "app/artwork.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

namespace {
QString ArtworkPath(const char* name) { return QStringLiteral(":/artwork/%1.svg").arg(QLatin1String(name)); }
}

QPixmap ArtworkPixmap(const char* name, QSize size, qreal ratio)
{
    QSvgRenderer renderer(ArtworkPath(name));
    if (!renderer.isValid()) return QPixmap();
    QPixmap pixmap(size * ratio);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QPixmap ArtworkPixmap(const char* name, QSize size) { return ArtworkPixmap(name, size, qApp->devicePixelRatio()); }

QSize ArtworkSize(const char* name)
{
    QSvgRenderer renderer(ArtworkPath(name));
    return renderer.isValid() ? renderer.defaultSize() : QSize();
}

QIcon ArtworkIcon(const char* name)
{
    QIcon icon;
    for (int side : {16, 20, 24, 32, 40, 48, 64, 128, 256}) icon.addPixmap(ArtworkPixmap(name, QSize(side, side), 1.0));
    return icon;
}
