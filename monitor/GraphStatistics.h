#pragma once

#include <QColor>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>

/// Small current-value graph of the statistics page: a title, an area curve
/// of the last 31 values and the newest value in large digits. Paints from a
/// cached pixmap, rebuilt at the next paint after a change. GUI thread only.
class GraphStatistics : public QWidget
{
    Q_OBJECT
public:
    explicit GraphStatistics(QWidget* parent = nullptr);

    /// Appends a value, keeping the newest `maxPoints` + 1 (31).
    void addPoint(double value);
    void setHeader(QString header);
    void setUnit(QString unit);
    void clearGraph();

    const QList<double>& values() const { return points; }
    double scaleMax() const { return maxY; }
    /// The pixmap the widget shows, rebuilt first when a change made it stale.
    const QPixmap& picture() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    /// Marks the pixmap stale and schedules a paint.
    void refreshPixmap();
    void rebuild() const;
    void drawGraph(QPainter* painter) const;

    mutable QPixmap pixmap;
    mutable bool stale = true;
    QList<double> points;
    QString header;
    double maxY = 1.0;
    qint32 maxPoints = 30;
    QString unit;
    QColor gridColor;
    QColor graphColor;
    QColor textColor;
};
