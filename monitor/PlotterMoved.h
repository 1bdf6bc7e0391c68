#pragma once

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>

class StyleEngine;

/// Scrolling stacked graph of statement kinds (SELECT, UPDATE, INSERT,
/// DELETE, other) with a value grid and a time grid that moves with the
/// samples. Keeps as many samples as fit the width (one per 10 pixels).
/// Paints from a cached pixmap, rebuilt at the next paint after a change. GUI
/// thread only.
class PlotterMoved : public QWidget
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
    /// The pixmap the widget shows, rebuilt first when a change made it stale.
    const QPixmap& picture() const;
    /// Clock the time grid is labelled from; the current time when invalid.
    void setClock(const QDateTime& now) { clock = now; }

public slots:
    /// One sample: [total, SELECT, UPDATE, INSERT, DELETE, ...]; samples with
    /// fewer than five numbers are ignored.
    void addValues(QList<double> sample);
    void clearGraph();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    /// Marks the pixmap stale and schedules a paint.
    void refreshPixmap();
    void rebuild() const;
    void drawGraph(QPainter* painter) const;
    void chooseStep();
    QColor themeColor(const char* key, const char* def) const;

    mutable QPixmap pixmap;
    mutable bool stale = true;
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
