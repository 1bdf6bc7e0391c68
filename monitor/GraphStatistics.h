#pragma once

#include <QColor>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>

/// Small current-value graph of the statistics page: a title, an area curve
/// of the last 31 values and the newest value in large digits. Paints into a
/// cached pixmap that every change rebuilds. GUI thread only.
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
    /// The pixmap the widget shows (rebuilt on every change).
    const QPixmap& picture() const { return pixmap; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshPixmap();
    void drawGraph(QPainter* painter);

    QPixmap pixmap;
    QList<double> points;
    QString header;
    double maxY = 1.0;
    qint32 maxPoints = 30;
    QString unit;
    QColor gridColor;
    QColor graphColor;
    QColor textColor;
};
