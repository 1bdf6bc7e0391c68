#pragma once

#include "PictureWidget.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>

class StyleEngine;

/// Scrolling stacked graph of statement kinds (SELECT, UPDATE, INSERT,
/// DELETE, other) with a value grid and a time grid that moves with the
/// samples. Keeps as many samples as fit the width (one per 10 pixels).
/// GUI thread only.
class PlotterMoved : public PictureWidget
{
    Q_OBJECT
public:
    explicit PlotterMoved(QWidget* parent = nullptr);

    /// Sets the title and, when `otherLabel` is not empty, the label of the
    /// band of other statements.
    void setLabelsGraph(QString title, QString otherLabel);
    void setMaxY(int value);

    const QList<QList<double>>& values() const { return samples; }
    double scaleMax() const { return maxY; }
    /// Value between two labelled lines of the value grid.
    int gridStep() const { return steps.at(stepIndex); }
    int tick() const { return tickCounter; }
    const QStringList& seriesLabels() const { return labels; }
    /// Clock the time grid is labelled from; the current time when invalid.
    void setClock(const QDateTime& now) { clock = now; }

public slots:
    /// One sample: [total, SELECT, UPDATE, INSERT, DELETE, ...]; samples with
    /// fewer than five numbers are ignored.
    void addValues(QList<double> sample);
    void clearGraph();

protected:
    void drawGraph(QPainter* painter) const override;

private:
    void chooseStep();
    QColor themeColor(const char* key, const char* def) const;

    QList<QList<double>> samples;
    double maxY = 100.0;
    qint32 defaultMaxY = 50;
    qint32 margin = 5;
    qint32 topMargin = 20;
    qint32 xStep = 10;
    qint32 legendWidth = 40;
    QString title;
    QList<QColor> colors;
    QStringList labels;
    QList<qint32> steps;
    qint32 stepIndex = 0;
    qint32 tickCounter = -1;
    const StyleEngine* styleEngine = nullptr;
    QDateTime clock;
};
