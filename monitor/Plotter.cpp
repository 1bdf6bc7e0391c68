#include "Plotter.h"

#include "StyleEngine.h"
#include "WidgetEnv.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
QColor sessionColor(const char* key, const char* def)
{
    return WidgetEnv::color(&StyleEngine::sessionTab, QLatin1String(key), QLatin1String(def));
}
QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}
} // namespace

Plotter::Plotter(QWidget* parent)
    : PictureWidget(Qt::white, parent)
{
    QPalette p = palette();
    p.setColor(QPalette::All, QPalette::Window, Qt::white);
    setPalette(p);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setMinimumSize(300, 100);
    refreshPixmap();
}

void Plotter::addPoint(double point)
{
    points.append(point);
    if (point > maxY)
        maxY = point;
    refreshPixmap();
}

void Plotter::addPoints(QList<double> list)
{
    for (double v : qAsConst(list)) {
        points.append(v);
        if (v > maxY)
            maxY = v;
    }
    refreshPixmap();
}

void Plotter::clearGraph()
{
    points.clear();
    maxY = defaultMaxY;
    refreshPixmap();
}

void Plotter::setMaxY(int value)
{
    defaultMaxY = value;
    maxY = value;
    refreshPixmap();
}

void Plotter::setDrawLinePosition(int index)
{
    linePosition = index;
    refreshPixmap();
}

void Plotter::setLabelGraph(QString text)
{
    label = text;
    refreshPixmap();
}

double Plotter::slotWidth() const
{
    // Plot area (6, 21)-(W - 6, H - 6).
    const int plotWidth = (width() - 6) - 6 + 1;
    return points.isEmpty() ? 0.0 : double(plotWidth) / points.size();
}

double Plotter::pointX(int index) const
{
    if (index < 0 || index >= points.size())
        return 0.0;
    return (index + 1) * slotWidth() + 6;
}

void Plotter::updateHover()
{
    hoverIndex = -1;
    const QRect plot(QPoint(6, 21), QPoint(width() - 6, height() - 6));
    if (!points.isEmpty() && !plot.isEmpty() && plot.contains(mouseX, mouseY))
        hoverIndex = int(std::floor((mouseX - 6) / slotWidth() + 0.5));
}

void Plotter::mouseMoveEvent(QMouseEvent* event)
{
    mouseX = event->pos().x();
    mouseY = event->pos().y();
    refreshPixmap();
}

void Plotter::mouseReleaseEvent(QMouseEvent* event)
{
    mouseX = event->pos().x();
    mouseY = event->pos().y();
    refreshPixmap();
    if (hoverIndex > 0 && hoverIndex <= points.size())
        emit setIndexQuery(hoverIndex - 1);
}

void Plotter::leaveEvent(QEvent*)
{
    mouseX = -1;
    mouseY = -1;
    refreshPixmap();
}

void Plotter::refreshPixmap()
{
    updateHover();
    PictureWidget::refreshPixmap();
}

void Plotter::drawGraph(QPainter* painter) const
{
    const int W = width();
    const int H = height();

    const QRect frame(QPoint(margin, topMargin), QPoint(W - 6, H - 6));
    if (frame.isEmpty())
        return;
    painter->setPen(sessionColor("border_graph_clr", "#808080"));
    painter->drawText(QRect(QPoint(margin, margin), QPoint(W - 6, 24)), Qt::AlignLeft | Qt::AlignVCenter, label);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRect(frame.left(), frame.top(), frame.width() - 1, frame.height() - 1));

    const QRect plot(QPoint(6, 21), QPoint(W - 6, H - 6));
    if (plot.isEmpty())
        return;
    painter->setClipRect(plot);
    painter->setRenderHint(QPainter::Antialiasing, true);

    const double dx = slotWidth();
    const int h = plot.height();
    const int B = H - 6;

    const QColor graph = sessionColor("graph_clr", "#2485fd");
    if (!points.isEmpty()) {
        // Points that fall into the same pixel column make one vertex with
        // their largest value, so the outline costs at most one vertex per
        // pixel however long the session is.
        QPolygonF area;
        area.reserve(std::min(int(points.size()), W) + 2);
        area << QPointF(6, B + 1);
        const double k = (h + 1) / maxY;
        int column = std::numeric_limits<int>::min();
        for (int i = 0; i < points.size(); ++i) {
            const double x = (i + 1) * dx + 6;
            const double y = B - k * points.at(i);
            const int c = int(std::floor(x));
            if (c == column && dx < 1.0) {
                if (y < area.last().y())
                    area.last().setY(y);
                continue;
            }
            column = c;
            area << QPointF(x, y);
        }
        area << QPointF(W - 5, B + 1);
        // A vertex in every pixel column: smoothing would only cost time.
        painter->setRenderHint(QPainter::Antialiasing, dx >= 1.0);
        painter->setPen(QPen(graph, 2));
        painter->setBrush(withAlpha(graph, 150));
        painter->drawPolygon(area);
    }

    painter->setRenderHint(QPainter::Antialiasing, true);
    const double markerX = pointX(linePosition);
    painter->setPen(QPen(withAlpha(sessionColor("line_graph_cur_clr", "#ff0000"), 150), 3));
    painter->drawLine(QPointF(markerX, plot.top()), QPointF(markerX, plot.bottom()));

    if (hoverIndex >= 0) {
        const double x = std::floor(hoverIndex * dx + 6 + 0.5);
        painter->setPen(QPen(withAlpha(sessionColor("mouse_line_graph_clr", "grey"), 150), 2));
        for (int y = plot.top(); y < plot.bottom(); y += 10)
            painter->drawLine(QPointF(x, y), QPointF(x, qMin(y + 5, plot.bottom())));
    }
    painter->setClipping(false);
}

void Plotter::resizeEvent(QResizeEvent*)
{
    refreshPixmap();
}
