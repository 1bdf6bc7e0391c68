#include "GraphStatistics.h"

#include "StyleEngine.h"
#include "WidgetEnv.h"

#include <QLocale>
#include <QPainter>
#include <QPolygonF>

namespace {
/// Rectangle with both corners inside, as (x1, y1)-(x2, y2).
QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}
/// Outline through the corners (x1, y1)-(x2, y2) for a 1-pixel pen.
QRect outline(int x1, int y1, int x2, int y2)
{
    return QRect(x1, y1, x2 - x1, y2 - y1);
}
} // namespace

GraphStatistics::GraphStatistics(QWidget* parent)
    : PictureWidget(Qt::transparent, parent)
{
    gridColor = WidgetEnv::color(&StyleEngine::statisticsMiniGraph, QStringLiteral("grid_clr"), QStringLiteral("#eeeeee"));
    graphColor = WidgetEnv::color(&StyleEngine::statisticsMiniGraph, QStringLiteral("graph_clr"), QStringLiteral("#2485fd"));
    textColor = WidgetEnv::color(&StyleEngine::statisticsMiniGraph, QStringLiteral("text_clr"), QStringLiteral("grey"));
    refreshPixmap();
}

void GraphStatistics::addPoint(double value)
{
    points.append(value);
    while (points.size() > maxPoints + 1)
        points.removeFirst();
    double top = 1.0;
    for (double v : qAsConst(points))
        top = qMax(top, v);
    // Ten pixels of head room above the largest value.
    const int h = qMax(1, height());
    maxY = top + 10.0 * top / h;
    refreshPixmap();
}

void GraphStatistics::setHeader(QString text)
{
    header = text;
    refreshPixmap();
}

void GraphStatistics::setUnit(QString text)
{
    unit = text;
    refreshPixmap();
}

void GraphStatistics::clearGraph()
{
    points.clear();
    maxY = 1.0;
    refreshPixmap();
}

void GraphStatistics::drawGraph(QPainter* painter) const
{
    const int W = width();
    const int H = height();

    const QFont baseFont = painter->font();
    QFont valueFont = baseFont;
    valueFont.setPixelSize(30);
    valueFont.setWeight(QFont::Normal);
    const int w = QFontMetrics(valueFont).horizontalAdvance(QStringLiteral("9999.99"));

    const int R = W - 1 - w - 10;
    const int B = H - 1;

    if (R > 1 && B - 1 > 20) {
        painter->setPen(QPen(textColor, 1));
        painter->setBrush(Qt::white);
        painter->drawRect(outline(1, 20, R, B - 1));
        painter->setClipRect(corners(0, 20, R, B));

        painter->setPen(gridColor);
        for (int x = R; x >= 0; x -= 5)
            painter->drawLine(x, 20, x, B);
        for (int y = 20; y < B; y += 5)
            painter->drawLine(0, y, R, y);

        QPolygonF curve;
        curve << QPointF(R + 1, B + 1);
        const double dx = (R + 1) / 30.0;
        const double scale = (B - 20 + 1) / maxY;
        double x = R + 1;
        for (int i = 0; i < points.size(); ++i) {
            x = R + 1 - i * dx;
            curve << QPointF(x, B + 1 - scale * points.at(points.size() - 1 - i));
        }
        curve << QPointF(x - dx, B + 1);
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(QPen(graphColor, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter->setBrush(QColor(36, 133, 253, 150));
        if (!points.isEmpty())
            painter->drawPolygon(curve);
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setClipping(false);

        painter->setPen(QPen(textColor, 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(outline(1, 20, R, B - 1));
    }

    painter->setPen(textColor);
    const double latest = points.isEmpty() ? 0.0 : points.last();
    const QString valueText = QLocale().toString(latest, 'f', unit.isEmpty() ? 0 : 2);
    painter->setFont(valueFont);
    const int textLeft = W - w + 10;
    painter->drawText(corners(textLeft, 20, W - 1, unit.isEmpty() ? B : B - 15),
                      Qt::AlignLeft | Qt::AlignVCenter, valueText);

    QFont unitFont = baseFont;
    unitFont.setPointSize(8);
    unitFont.setBold(true);
    painter->setFont(unitFont);
    painter->drawText(corners(textLeft, B - 14, W - 1, B), Qt::AlignLeft | Qt::AlignVCenter, unit);

    QFont headerFont = unitFont;
    headerFont.setPointSize(9);
    painter->setFont(headerFont);
    painter->drawText(corners(0, 0, W - 1, 19), Qt::AlignLeft | Qt::AlignVCenter, header);
}
