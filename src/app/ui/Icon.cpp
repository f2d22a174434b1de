#include "app/ui/Icon.h"

#include <QPainter>
#include <QPixmap>

namespace morvane {

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);

    // Film strip.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(32, 40, 56));
    p.drawRoundedRect(QRectF(3, 6, 42, 30), 4, 4);
    p.setBrush(QColor(235, 235, 235));
    for (int i = 0; i < 6; ++i) {
        p.drawRect(QRectF(6 + i * 6.5, 8, 3.5, 3));
        p.drawRect(QRectF(6 + i * 6.5, 31, 3.5, 3));
    }
    // The picture.
    p.setBrush(QColor(80, 150, 220));
    p.drawRect(QRectF(8, 13, 32, 16));
    p.setBrush(QColor(250, 200, 60));
    p.drawEllipse(QRectF(28, 15, 7, 7));

    // The marked range below, in the marker lines' green.
    p.setBrush(QColor(0, 128, 0));
    p.drawRect(QRectF(12, 38, 4, 8));
    p.drawRect(QRectF(32, 38, 4, 8));
    p.drawRect(QRectF(12, 40.5, 24, 3));
    return image;
}

QIcon appIcon()
{
    QIcon icon;
    for (int size : IconSizes)
        icon.addPixmap(QPixmap::fromImage(drawIcon(size)));
    return icon;
}

} // namespace morvane
