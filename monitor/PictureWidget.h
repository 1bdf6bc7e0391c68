#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>

/// A widget that shows a picture drawn by drawGraph(): every change marks it
/// stale (refreshPixmap()) and the next paint, or picture(), draws it once,
/// so that several changes between two paints, or changes while the widget
/// is hidden, cost one drawing. GUI thread only.
class PictureWidget : public QWidget
{
public:
    /// The picture as painted (drawn first when stale).
    const QPixmap& picture() const;
    /// How often the picture was drawn.
    int redrawCount() const { return redraws; }

protected:
    /// `background` fills the picture before drawGraph() draws on it.
    PictureWidget(const QColor& background, QWidget* parent);
    /// Marks the picture stale and schedules a paint.
    void refreshPixmap();
    /// Draws the whole picture, the size of the widget, with the widget's
    /// font and text colour set.
    virtual void drawGraph(QPainter* painter) const = 0;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QColor background;
    mutable QPixmap pixmap;
    mutable bool stale = true;
    mutable int redraws = 0;
};
