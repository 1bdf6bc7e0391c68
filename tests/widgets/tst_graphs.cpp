#include "GraphStatistics.h"
#include "Plotter.h"
#include "PlotterMoved.h"

#include <QMouseEvent>
#include <QtTest>

namespace {

/// Marker colour (#ff0000 at alpha 150) over white or over the frame.
bool isMarker(const QColor& c)
{
    return c.red() > 180 && c.red() - c.green() > 100 && c.red() - c.blue() > 100;
}

/// The dashed hover line: grey at alpha 150 over white.
bool isHoverGrey(const QColor& c)
{
    return c.red() < 220 && qAbs(c.red() - c.green()) < 8 && qAbs(c.green() - c.blue()) < 8;
}

void moveMouse(QWidget* w, QPoint at)
{
    QMouseEvent move(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
}

void release(QWidget* w, QPoint at)
{
    QMouseEvent up(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &up);
}

} // namespace

class TestGraphs : public QObject
{
    Q_OBJECT
private slots:
    // Plotter
    void plotterScale();
    void markerAtChosenStatement();
    void noMarkerForMinusOne();
    void hoverAndClick();

    // PlotterMoved
    void gridSteps_data();
    void gridSteps();
    void valueGridLines();
    void samplesKeptForWidth();
    void tickWrapsEveryTwentySamples();
    void otherLabelAndShortSamples();

    // GraphStatistics
    void statisticsKeeps31Values();
    void statisticsScale();
};

void TestGraphs::plotterScale()
{
    Plotter p;
    QCOMPARE(p.scaleMax(), 100.0);
    p.addPoints({10, 250, 30});
    QCOMPARE(p.scaleMax(), 250.0);
    p.addPoint(5);
    QCOMPARE(p.scaleMax(), 250.0); // never shrinks while adding
    p.clearGraph();
    QVERIFY(p.values().isEmpty());
    QCOMPARE(p.scaleMax(), 50.0);
    p.setMaxY(80);
    p.clearGraph();
    QCOMPARE(p.scaleMax(), 80.0);
}

void TestGraphs::markerAtChosenStatement()
{
    Plotter p;
    p.resize(311, 106); // plot 300 pixels wide: 30 per statement for 10
    QList<double> values;
    for (int i = 0; i < 10; ++i)
        values << 10;
    p.addPoints(values);
    p.setDrawLinePosition(4);
    QCOMPARE(p.pointX(4), 156.0);
    const QImage image = p.picture().toImage();
    QVERIFY(isMarker(image.pixelColor(156, 40)));
    QVERIFY(!isMarker(image.pixelColor(100, 40)));
    QVERIFY(!isMarker(image.pixelColor(186, 40)));

    p.setDrawLinePosition(9);
    // The last point sits on the right edge; the 3-pixel line shows inside it.
    QVERIFY(isMarker(p.picture().toImage().pixelColor(305, 40)));
    QVERIFY(!isMarker(p.picture().toImage().pixelColor(156, 40)));
}

void TestGraphs::noMarkerForMinusOne()
{
    Plotter p;
    p.resize(311, 106);
    p.addPoints({1, 2, 3});
    for (int index : {-1, 3, 100}) {
        p.setDrawLinePosition(index);
        const QImage image = p.picture().toImage();
        int marked = 0;
        for (int x = 0; x < image.width(); ++x)
            marked += isMarker(image.pixelColor(x, 40)) ? 1 : 0;
        QVERIFY2(marked == 0, qPrintable(QString::number(index)));
    }
}

void TestGraphs::hoverAndClick()
{
    Plotter p;
    p.resize(311, 106);
    QList<double> values;
    for (int i = 0; i < 10; ++i)
        values << 5;
    p.addPoints(values);
    QSignalSpy spy(&p, &Plotter::setIndexQuery);

    // x = 6 + 3 × 30: slot 3, the point of statement 2.
    moveMouse(&p, QPoint(96, 50));
    QCOMPARE(p.hoverSlot(), 3);
    QVERIFY(isHoverGrey(p.picture().toImage().pixelColor(96, 23)));
    release(&p, QPoint(96, 50));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 2);

    // Rounded half up: 14 pixels right of slot 3 is still slot 3, 15 is slot 4.
    moveMouse(&p, QPoint(110, 50));
    QCOMPARE(p.hoverSlot(), 3);
    moveMouse(&p, QPoint(111, 50));
    QCOMPARE(p.hoverSlot(), 4);

    // Left of the first slot: slot 0, nothing emitted.
    moveMouse(&p, QPoint(12, 50));
    QCOMPARE(p.hoverSlot(), 0);
    release(&p, QPoint(12, 50));
    QCOMPARE(spy.count(), 1);

    // Above the plot area: no hover line, no click.
    moveMouse(&p, QPoint(96, 10));
    QCOMPARE(p.hoverSlot(), -1);
    QVERIFY(!isHoverGrey(p.picture().toImage().pixelColor(96, 23)));
    release(&p, QPoint(96, 10));
    QCOMPARE(spy.count(), 1);

    // Leaving the widget removes the line.
    moveMouse(&p, QPoint(96, 50));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&p, &leave);
    QCOMPARE(p.hoverSlot(), -1);

    // Without statements nothing can be chosen.
    p.clearGraph();
    moveMouse(&p, QPoint(96, 50));
    release(&p, QPoint(96, 50));
    QCOMPARE(spy.count(), 1);
}

void TestGraphs::gridSteps_data()
{
    QTest::addColumn<double>("total");
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("step");
    QTest::newRow("below 20") << 3.0 << 20 << 5;
    QTest::newRow("20") << 20.0 << 20 << 5;
    QTest::newRow("21") << 21.0 << 21 << 10;
    QTest::newRow("100") << 100.0 << 100 << 50;
    QTest::newRow("4000") << 4000.0 << 4000 << 1000;
    QTest::newRow("4500") << 4500.0 << 4500 << 1000;
}

void TestGraphs::gridSteps()
{
    QFETCH(double, total);
    QFETCH(int, scale);
    QFETCH(int, step);
    PlotterMoved p;
    p.resize(300, 120);
    p.addValues({total, total, 0, 0, 0, 0});
    QCOMPARE(p.scaleMax(), double(scale));
    QCOMPARE(p.gridStep(), step);
}

void TestGraphs::valueGridLines()
{
    PlotterMoved p;
    QCOMPARE(p.gridStep(), 50); // built for a scale of 100
    p.resize(300, 120);
    p.addValues({1, 1, 0, 0, 0});
    // Scale 20, step 5: plot rows 20..94, k = 75 / 20; lines at
    // round(94 - v·k + 1) for v = 0, 5, 10, 15.
    const QImage image = p.picture().toImage();
    const QColor line("#eeeeee");
    for (int v : {5, 10, 15}) {
        const int y = int(std::lround(94 - v * 3.75 + 1));
        QCOMPARE(image.pixelColor(150, y), line);
        QCOMPARE(image.pixelColor(150, y - 1), QColor(Qt::white));
    }
    // No line for 20, the top of the scale.
    QCOMPARE(image.pixelColor(150, 21), QColor(Qt::white));
}

void TestGraphs::samplesKeptForWidth()
{
    PlotterMoved p;
    p.resize(300, 120);
    for (int i = 0; i < 45; ++i)
        p.addValues({double(i), 0, 0, 0, 0});
    QCOMPARE(p.values().size(), 30);
    QCOMPARE(p.values().last().at(0), 44.0);
    QCOMPARE(p.values().first().at(0), 15.0);

    p.resize(500, 120);
    QCOMPARE(p.values().size(), 30); // widening keeps what is there...
    for (int i = 0; i < 30; ++i)
        p.addValues({1, 0, 0, 0, 0});
    QCOMPARE(p.values().size(), 50); // ...and more from then on

    p.clearGraph();
    QVERIFY(p.values().isEmpty());
    QCOMPARE(p.tick(), -1);
    QCOMPARE(p.scaleMax(), 50.0);
}

void TestGraphs::tickWrapsEveryTwentySamples()
{
    PlotterMoved p;
    p.resize(300, 120);
    QCOMPARE(p.tick(), -1);
    p.addValues({1, 0, 0, 0, 0});
    QCOMPARE(p.tick(), 0);
    for (int i = 0; i < 19; ++i)
        p.addValues({1, 0, 0, 0, 0});
    QCOMPARE(p.tick(), 19);
    p.addValues({1, 0, 0, 0, 0});
    QCOMPARE(p.tick(), 0);
}

void TestGraphs::otherLabelAndShortSamples()
{
    PlotterMoved p;
    p.resize(300, 120);
    p.setLabelsGraph(QStringLiteral("Statements"), QString());
    QCOMPARE(p.seriesLabels().at(4), QStringLiteral("Other"));
    p.setLabelsGraph(QStringLiteral("Statements"), QStringLiteral("Sonstige"));
    QCOMPARE(p.seriesLabels().at(4), QStringLiteral("Sonstige"));
    p.addValues({5, 1, 1, 1});
    QVERIFY(p.values().isEmpty());
    p.setMaxY(1000);
    QCOMPARE(p.gridStep(), 500);
}

void TestGraphs::statisticsKeeps31Values()
{
    GraphStatistics g;
    g.resize(200, 100);
    for (int i = 1; i <= 40; ++i)
        g.addPoint(i);
    QCOMPARE(g.values().size(), 31);
    QCOMPARE(g.values().first(), 10.0);
    QCOMPARE(g.values().last(), 40.0);
    g.clearGraph();
    QVERIFY(g.values().isEmpty());
    QCOMPARE(g.scaleMax(), 1.0);
}

void TestGraphs::statisticsScale()
{
    GraphStatistics g;
    g.resize(200, 100);
    g.addPoint(0.25);
    g.addPoint(0.5);
    // At least 1, plus ten pixels of head room.
    QCOMPARE(g.scaleMax(), 1.0 + 10.0 / 100);
    g.addPoint(50);
    QCOMPARE(g.scaleMax(), 50.0 + 500.0 / 100);
}

QTEST_MAIN(TestGraphs)
#include "tst_graphs.moc"
