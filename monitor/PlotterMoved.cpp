#include "PlotterMoved.h"

#include "StyleEngine.h"
#include "WidgetEnv.h"

#include <QPainter>
#include <QPolygonF>
#include <cmath>

namespace {
QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}
} // namespace

PlotterMoved::PlotterMoved(QWidget* parent)
    : PictureWidget(Qt::white, parent)
    , styleEngine(WidgetEnv::styleEngine())
{
    QPalette p = palette();
    p.setColor(QPalette::All, QPalette::Window, Qt::white);
    setPalette(p);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    setMinimumSize(300, 120);

    colors << themeColor("select_clr", "#2485fd") << themeColor("update_clr", "#fcc622")
           << themeColor("insert_clr", "#ff6565") << themeColor("delete_clr", "#69d067")
           << themeColor("other_clr", "#a06bac");
    labels << QStringLiteral("SELECT") << QStringLiteral("UPDATE") << QStringLiteral("INSERT")
           << QStringLiteral("DELETE") << QStringLiteral("Other");
    steps << 1 << 2 << 5 << 10 << 20 << 50 << 100 << 200 << 500 << 1000;
    chooseStep();
    refreshPixmap();
}

QColor PlotterMoved::themeColor(const char* key, const char* def) const
{
    if (!styleEngine)
        return QColor(QLatin1String(def));
    return StyleEngine::color(styleEngine->statisticsGraph, QLatin1String(key), QLatin1String(def));
}

void PlotterMoved::chooseStep()
{
    stepIndex = steps.size() - 1;
    for (int i = 0; i < steps.size(); ++i) {
        if (maxY / steps.at(i) <= 4.0) {
            stepIndex = i;
            break;
        }
    }
}

void PlotterMoved::addValues(QList<double> sample)
{
    if (sample.size() < 5)
        return;
    samples.append(sample);
    tickCounter = (tickCounter + 1) % (200 / xStep);
    const int keep = qMax(1, width() / xStep);
    while (samples.size() > keep)
        samples.removeFirst();

    const int previous = int(maxY);
    maxY = 20.0;
    for (const QList<double>& s : qAsConst(samples))
        maxY = qMax(maxY, s.at(0));
    if (maxY != previous)
        chooseStep();
    refreshPixmap();
}

void PlotterMoved::clearGraph()
{
    samples.clear();
    tickCounter = -1;
    maxY = defaultMaxY;
    refreshPixmap();
}

void PlotterMoved::setMaxY(int value)
{
    defaultMaxY = value;
    maxY = value;
    chooseStep();
    refreshPixmap();
}

void PlotterMoved::setLabelsGraph(QString text, QString otherLabel)
{
    title = text;
    if (!otherLabel.isEmpty())
        labels[4] = otherLabel;
    refreshPixmap();
}

void PlotterMoved::drawGraph(QPainter* painter) const
{
    const int W = width();
    const int H = height();
    if (W - 1 - margin < margin + legendWidth)
        return;

    // Legend along the bottom.
    const QFont normal = painter->font();
    QFont bold = normal;
    bold.setBold(true);
    painter->setFont(bold);
    const QFontMetrics fm(bold);
    painter->setPen(themeColor("legend_txt_clr", "gray"));
    int x = 50;
    for (int s = 0; s < 5; ++s) {
        painter->fillRect(QRect(QPoint(x, H - 20), QPoint(x + 14, H - 6)), withAlpha(colors.at(s), 150));
        painter->drawText(QRect(QPoint(x + 20, H - 20), QPoint(x + 20 + W - 50 - 1, H - 6)),
                          Qt::AlignLeft | Qt::AlignVCenter, labels.at(s));
        x += 50 + fm.horizontalAdvance(labels.at(s));
    }
    painter->setFont(normal);

    const int L = margin + legendWidth;
    const int T = topMargin;
    const int R = W - 6;
    const int B = H - 26;
    const QRect plot(QPoint(L, T), QPoint(R, B));
    if (plot.isEmpty())
        return;

    const QColor gridColor = themeColor("grid_clr", "#aaaaaa");
    const QColor lineColor = themeColor("label_grid_clr", "#eeeeee");
    const QColor titleColor = themeColor("title_clr", "#a0a0a4");

    painter->setPen(titleColor);
    painter->drawText(QRect(QPoint(L + 5, 0), QPoint(R + 5, 19)), Qt::AlignLeft | Qt::AlignVCenter, title);

    if (!samples.isEmpty()) {
        const double k = (B - T + 1) / maxY;

        // Value grid: at most four labelled lines above zero.
        const int step = steps.at(stepIndex);
        for (int v = 0; v < maxY; v += step) {
            const int y = int(std::lround(B - v * k + 1));
            painter->setPen(gridColor);
            painter->drawText(QRect(QPoint(5, y - 10), QPoint(42, y + 10)), Qt::AlignRight | Qt::AlignVCenter,
                              QString::number(v));
            painter->setPen(lineColor);
            painter->drawLine(L, y, R, y);
        }

        // Time grid: a line every 20 samples that moves left with its sample,
        // labelled with that sample's clock time.
        const QDateTime now = clock.isValid() ? clock : QDateTime::currentDateTime();
        const int period = WidgetEnv::statusPeriod();
        for (int d = tickCounter * xStep; d < (R - L) - 49; d += 200) {
            const int lx = R - d;
            painter->setPen(lineColor);
            painter->drawLine(lx, T, lx, B);
            painter->setPen(gridColor);
            const QString when = now.addSecs(-qint64(d / xStep) * period).toString(QStringLiteral("HH:mm:ss"));
            painter->drawText(QRect(QPoint(L, T), QPoint(lx - 5, T + painter->fontMetrics().height())),
                              Qt::AlignRight | Qt::AlignTop,
                              when);
        }

        // Stacked bands, each later series painted over the earlier ones.
        painter->setClipRect(plot);
        painter->setRenderHint(QPainter::Antialiasing, true);
        const int n = samples.size();
        QVector<double> top(n);
        for (int i = 0; i < n; ++i)
            top[i] = samples.at(i).at(0);
        for (int s = 0; s < 5; ++s) {
            QPolygonF band;
            band << QPointF(R + 1, B + 1);
            for (int i = n - 1; i >= 0; --i)
                band << QPointF((i - n + 1) * xStep + R + 1, B - k * top[i]);
            band << QPointF(R - n * xStep, B + 1);
            painter->setPen(QPen(colors.at(s), 2));
            painter->setBrush(withAlpha(colors.at(s), 150));
            painter->drawPolygon(band);
            if (s < 4) {
                for (int i = 0; i < n; ++i)
                    top[i] -= samples.at(i).at(s + 1);
            }
        }
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setClipping(false);
    }

    painter->setPen(titleColor);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRect(L, T, R - L, B - T));
}
