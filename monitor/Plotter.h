#pragma once

#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>

/// Duration graph of one session: one point per captured statement, a marker
/// on the statement chosen in the table, a dashed line following the mouse,
/// and a click that chooses the statement under the mouse. Paints into a
/// cached pixmap that every change rebuilds. GUI thread only.
class Plotter : public QWidget
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
    /// The graph as painted (rebuilt first when stale).
    const QPixmap& picture() const;
    /// How often the pixmap was rebuilt.
    int redrawCount() const { return redraws; }

public slots:
    void addPoint(double point);
    void clearGraph();

signals:
    /// The user clicked the slot of the statement at `index` (0-based).
    void setIndexQuery(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    /// Marks the pixmap stale and schedules a paint.
    void refreshPixmap();
    void rebuild() const;
    void drawGraph(QPainter* painter) const;
    void updateHover();
    double slotWidth() const;

    mutable QPixmap pixmap;
    mutable bool stale = true;
    mutable int redraws = 0;
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
