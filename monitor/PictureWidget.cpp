#include "PictureWidget.h"

#include <QPainter>

PictureWidget::PictureWidget(const QColor& background, QWidget* parent) : QWidget(parent), background(background)
{
}

void PictureWidget::refreshPixmap()
{
    stale = true;
    update();
}

const QPixmap& PictureWidget::picture() const
{
    if (stale) {
        stale = false;
        ++redraws;
        pixmap = QPixmap(size());
        pixmap.fill(background);
        QPainter painter(&pixmap);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        drawGraph(&painter);
    }
    return pixmap;
}

void PictureWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture());
}

void PictureWidget::resizeEvent(QResizeEvent*)
{
    refreshPixmap();
}
