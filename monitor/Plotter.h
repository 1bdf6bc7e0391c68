#pragma once

#include "PictureWidget.h"

#include <QList>
#include <QPixmap>
#include <QString>

/// Duration graph of one session: one point per captured statement, a marker
/// on the statement chosen in the table, a dashed line following the mouse,
/// and a click that chooses the statement under the mouse. GUI thread
/// only.
class Plotter : public PictureWidget
{
    Q_OBJECT
public:
    explicit Plotter(QWidget* parent = nullptr);

    void addPoints(QList<double> list);
    void setLabelGraph(QString text);
    /// Marks the statement at `index` (0-based); -1 marks none.
    void setDrawLinePosition(int index);
    /// Vertical scale, also the scale a cleared graph returns to.
    void setMaxY(int value);

    const QList<double>& values() const { return points; }
    double scaleMax() const { return maxY; }
    int markedIndex() const { return linePosition; }
    /// 1-based slot under the mouse, -1 outside the plot or without points.
    int hoverSlot() const { return hoverIndex; }
    /// x of the point of statement `index` (0-based), or 0 when there is none.
    double pointX(int index) const;

public slots:
    void addPoint(double point);
    void clearGraph();

signals:
    /// The user clicked the slot of the statement at `index` (0-based).
    void setIndexQuery(int index);

protected:
    void drawGraph(QPainter* painter) const override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    /// Follows the mouse, then marks the picture stale.
    void refreshPixmap();
    void updateHover();
    double slotWidth() const;

    QList<double> points;
    double maxY = 100.0;
    qint32 defaultMaxY = 50;
    qint32 margin = 5;
    qint32 topMargin = 20;
    QString label;
    qint32 linePosition = -1;
    qint32 hoverIndex = -1;
    qint32 mouseX = 0;
    qint32 mouseY = 0;
};
