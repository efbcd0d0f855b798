#include "app/artwork.h"

#include <QPainter>
#include <QSvgRenderer>

QPixmap ArtworkPixmap(const char* name, QSize size)
{
    QSvgRenderer renderer(QStringLiteral(":/artwork/%1.svg").arg(QLatin1String(name)));
    if (!renderer.isValid()) return QPixmap();
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}
