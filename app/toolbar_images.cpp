#include "app/toolbar_images.h"

#include <QPainter>
#include <QPolygon>
#include <QRadialGradient>

namespace morvel {
namespace {

const QColor kOlive(128, 128, 0);
const QColor kLightOlive(176, 176, 64);
const QColor kDarkOlive(64, 64, 0);

void drawFolder(QPainter& p)
{
    // Back of the folder with its tab, then the front flap slanting forward.
    p.setPen(Qt::NoPen);
    p.setBrush(kDarkOlive);
    p.drawRect(6, 3, 7, 3);
    p.setBrush(kOlive);
    p.drawRect(6, 5, 17, 12);
    p.setBrush(kLightOlive);
    p.drawPolygon(QPolygon({QPoint(9, 9), QPoint(26, 9), QPoint(23, 17), QPoint(6, 17)}));
}

void drawLetterF(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kOlive);
    p.drawRect(10, 3, 3, 14);  // stem
    p.drawRect(10, 3, 11, 3);  // top arm
    p.drawRect(10, 9, 8, 2);   // middle arm
}

void drawBlurredBlob(QPainter& p)
{
    // A light square with a soft dark blob in it: what the blur does to a glyph.
    p.setPen(kOlive);
    p.setBrush(QColor(240, 240, 224));
    p.drawRect(7, 1, 16, 17);
    QRadialGradient blob(QPointF(15.0, 9.5), 7.0);
    blob.setColorAt(0.0, QColor(48, 48, 0, 255));
    blob.setColorAt(0.45, QColor(96, 96, 0, 200));
    blob.setColorAt(1.0, QColor(128, 128, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(blob);
    p.drawRect(8, 2, 15, 16);
}

void drawDash(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kOlive);
    p.drawRect(8, 9, 14, 3);
}

void drawLetterT(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kOlive);
    p.drawRect(8, 3, 14, 3);   // bar
    p.drawRect(13, 3, 4, 14);  // stem
}

}  // namespace

QPixmap toolbarImage(int index)
{
    QPixmap image(kToolImageWidth, kToolImageHeight);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (index) {
    case 0:
        drawFolder(p);
        break;
    case 1:
        drawLetterF(p);
        break;
    case 2:
        drawBlurredBlob(p);
        break;
    case 3:
        drawDash(p);
        break;
    case 4:
        drawLetterT(p);
        break;
    default:
        break;
    }
    return image;
}

}  // namespace morvel
