#pragma once

#include "PictureWidget.h"

#include <QColor>
#include <QList>
#include <QPixmap>
#include <QString>

/// Small current-value graph of the statistics page: a title, an area curve
/// of the last 31 values and the newest value in large digits. GUI thread
/// only.
class GraphStatistics : public PictureWidget
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

protected:
    void drawGraph(QPainter* painter) const override;

private:
    QList<double> points;
    QString header;
    double maxY = 1.0;
    qint32 maxPoints = 30;
    QString unit;
    QColor gridColor;
    QColor graphColor;
    QColor textColor;
};
