// Paints the program's icon as a PNG of the given size, for the desktop's
// icon theme (hicolor). Run at build time: quarvel-icon SIZE OUTPUT.PNG
// A blue tile with three rising bars and a pulse line across them: statements
// measured as they pass. Drawn in a 256-unit square and scaled, so every size
// is sharp.

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    const int size = argc == 3 ? std::atoi(argv[1]) : 0;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: quarvel-icon SIZE(16..1024) OUTPUT.PNG\n");
        return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    QLinearGradient tile(0, 0, 0, 256);
    tile.setColorAt(0, QColor(0x3b, 0x7d, 0xd8));
    tile.setColorAt(1, QColor(0x1a, 0x3f, 0x7a));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

    p.setBrush(QColor(255, 255, 255, 235));
    const qreal bars[][2] = {{44, 150}, {104, 104}, {164, 62}};   // left edge, top
    for (const auto& bar : bars)
        p.drawRoundedRect(QRectF(bar[0], bar[1], 48, 206 - bar[1]), 8, 8);

    QPainterPath pulse;
    pulse.moveTo(28, 132);
    pulse.lineTo(82, 132);
    pulse.lineTo(104, 70);
    pulse.lineTo(136, 180);
    pulse.lineTo(160, 112);
    pulse.lineTo(228, 112);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xff, 0x9f, 0x1c), 18, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(pulse);
    p.end();
    return image.save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}
