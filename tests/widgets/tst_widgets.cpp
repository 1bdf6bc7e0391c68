// The shared list and graph widgets: cell painters with bars, colours and
// buttons, sortable items, the tab widget with closable run-time tabs, the
// duration graph of a session, the moving statements graph and the small
// statistics graphs.
#include "CloseButton.h"
#include "GraphStatistics.h"
#include "Plotter.h"
#include "PlotterMoved.h"
#include "TabWidget.h"
#include "TableButtonDelegate.h"
#include "TableQueryDelegate.h"
#include "TableStatusDelegate.h"
#include "TableWidgetDate.h"
#include "TableWidgetDouble.h"
#include "TableWidgetInt.h"

#include <QtTest>
#include <QtWidgets>

namespace {

/// A one-column table view of `texts`, rows 24 pixels high, painted by `delegate`.
struct Table
{
    QStandardItemModel model;
    QTableView view;

    Table(const QStringList& texts, int width, QAbstractItemDelegate* delegate)
    {
        for (const QString& t : texts)
            model.appendRow(new QStandardItem(t));
        view.setModel(&model);
        view.setItemDelegate(delegate);
        view.horizontalHeader()->hide();
        view.verticalHeader()->hide();
        view.verticalHeader()->setDefaultSectionSize(24);
        view.setShowGrid(false);
        view.setColumnWidth(0, width);
        view.resize(width + 40, 24 * texts.size() + 40);
        view.show();
    }

    /// The pixels within `rect` (by default the first row), as "#rrggbb" names.
    QStringList pixels(const QRect& rect = QRect(0, 0, 150, 24))
    {
        QImage image(view.viewport()->size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        view.viewport()->render(&image);
        QStringList names;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                names << image.pixelColor(x, y).name();
        return names;
    }
};

/// Columns of row 40 of the plot's picture showing the marker (#ff0000 at alpha 150).
QList<int> markerColumns(const Plotter& plot)
{
    const QImage image = plot.picture().toImage();
    QList<int> xs;
    for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, 40);
        if (c.red() > 180 && c.red() - c.green() > 100 && c.red() - c.blue() > 100)
            xs << x;
    }
    return xs;
}

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT
private slots:
    void barsFollowValues()
    {
        TableButtonDelegate d(nullptr, false);
        d.barColumn = 0;
        d.barFullScale = 200.0;
        QCOMPARE(QList<int>({d.barWidth(50, 204), d.barWidth(33.3, 204), d.barWidth(250, 204), d.barWidth(-5, 204)}),
                 QList<int>({50, 33, 200, 0}));   // truncated, never wider than the cell
        Table t({QStringLiteral("50"), QStringLiteral("200")}, 204, &d);
        const QStringList quarter = t.pixels(QRect(0, 12, 204, 1));   // after two pixels of margin
        QCOMPARE(quarter.indexOf("#58b3e3"), 2);
        QCOMPARE(quarter.count("#58b3e3"), 50);
        QCOMPARE(t.pixels(QRect(0, 36, 204, 1)).count("#58b3e3"), 200);
    }

    void textColouring()
    {
        const struct { const char* text; int option; const char* colour; bool coloured; } cases[] = {
            // option: 1 null colouring, 2 upper-case column, 3 own text colour
            {"(null)", 1, "#8cc7c3", true}, {"(null)", 0, "#8cc7c3", false}, {"Sending data", 2, "#800000", true},
            {"starting", 2, "#800000", false}, {"green", 3, "#00c800", true}};
        for (const auto& c : cases) {
            TableButtonDelegate d(nullptr, true);
            d.nullColoring = c.option == 1;
            d.upperCaseColumn = c.option == 2 ? 0 : -1;
            if (c.option == 3)
                d.setTextColor(QColor(c.colour));
            Table t({QString::fromLatin1(c.text)}, 150, &d);
            QVERIFY2((t.pixels().count(c.colour) > 5) == c.coloured, c.text);
        }
    }

    void buttonOnlyForLongText()
    {
        TableButtonDelegate d(nullptr, true);
        Table t({QString(200, QLatin1Char('x')), QStringLiteral("short")}, 120, &d);
        QSignalSpy spy(&d, &TableButtonDelegate::buttonClicked);
        // On the button, left of it, and where the short text has none.
        for (const QPoint& at : {QPoint(111, 12), QPoint(10, 12), QPoint(111, 36)})
            QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<QModelIndex>(), t.model.index(0, 0));
    }

    void statusMarksAndQueryCells()
    {
        TableStatusDelegate status(nullptr);
        Table marks({QStringLiteral("yes"), QStringLiteral("no"), QStringLiteral("maybe")}, 22, &status);
        const QStringList yes = marks.pixels(QRect(0, 0, 20, 24)), no = marks.pixels(QRect(0, 24, 20, 24));
        QCOMPARE(marks.pixels(QRect(0, 48, 20, 24)).count("#ffffff"), 20 * 24);   // no mark for other texts
        QVERIFY(yes.count("#ffffff") < 20 * 24 && no.count("#ffffff") < 20 * 24 && yes != no);

        TableQueryDelegate query(QStringLiteral(".hljs-keyword { color: #0000ff; }"), nullptr);
        Table cells({QStringLiteral("<span class=\"hljs-keyword\">SELECT</span> 1")}, 300, &query);
        QVERIFY(cells.pixels().count("#0000ff") > 5);
        // A long statement is taller than a row when laid out in a narrow cell.
        QStyleOptionViewItem opt;
        opt.rect = QRect(0, 0, 80, 24);
        cells.model.item(0)->setText(QString(300, QLatin1Char('w')));
        QVERIFY(query.sizeHint(opt, cells.model.index(0, 0)).height() > 30);
    }

    void itemsSortByValue()
    {
        QTableWidget table(4, 3);
        const QStringList texts{"01.02.24 09:00", "10", "2.5", "31.12.14 23:59", "9", "10.25", "", "100", "-1",
                                "31.01.24 10:00", "-3", "2.125"};
        for (int r = 0; r < 4; ++r) {
            table.setItem(r, 0, new TableWidgetDate(texts.at(3 * r)));
            table.setItem(r, 1, new TableWidgetInt(texts.at(3 * r + 1)));
            table.setItem(r, 2, new TableWidgetDouble(texts.at(3 * r + 2)));
        }
        // Day before month in the date text, yet months compare first; no date sorts first.
        const QList<QStringList> ascending{{"", "31.12.14 23:59", "31.01.24 10:00", "01.02.24 09:00"},
                                           {"-3", "9", "10", "100"}, {"-1", "2.125", "2.5", "10.25"}};
        for (int column = 0; column < 3; ++column) {
            table.sortItems(column, Qt::AscendingOrder);
            QStringList order;
            for (int r = 0; r < 4; ++r)
                order << table.item(r, column)->text();
            QCOMPARE(order, ascending.at(column));
        }
    }

    void closingRunTimeTabs()
    {
        TabWidget tabs;
        for (const char* name : {"statistics", "flow", "sessions", "", "0000001", "0000002", "0000003"})
            tabs.addTab(new QLabel, QString::fromLatin1(name));
        tabs.setTabEnabled(TabWidget::spacerIndex, false);
        for (int i = 4; i < 7; ++i)
            tabs.setTabClosable(i);
        tabs.show();
        const auto close = [&tabs](int i) {
            QWidget* right = tabs.tabBar()->tabButton(i, QTabBar::RightSide);
            qobject_cast<CloseButton*>(right ? right : tabs.tabBar()->tabButton(i, QTabBar::LeftSide))->click();
        };
        QSignalSpy spy(&tabs, &TabWidget::tabClose);
        // Another tab closed: the current one stays.
        tabs.setCurrentIndex(1);
        close(5);
        QCOMPARE(tabs.currentIndex(), 1);
        close(5);
        // The current tab next to the spacer closed: the first page shows, the page is deleted.
        tabs.setCurrentIndex(4);
        QPointer<QWidget> page = tabs.widget(4);
        close(4);
        QCOMPARE(tabs.currentIndex(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(page.isNull());
        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.at(0).at(0).toString() + spy.at(2).at(0).toString(), QStringLiteral("00000020000001"));
    }

    void plotterScaleAndMarker()
    {
        Plotter p;
        p.resize(311, 106);   // plot 300 pixels wide: 30 per statement for 10
        p.addPoints({10, 250, 30});
        p.addPoint(5);
        QCOMPARE(p.scaleMax(), 250.0);   // grows, never shrinks while adding
        p.setDrawLinePosition(4);   // no such statement
        QVERIFY(markerColumns(p).isEmpty());
        p.clearGraph();
        QCOMPARE(p.scaleMax(), 50.0);
        p.addPoints(QVector<double>(10, 10.0).toList());
        p.setDrawLinePosition(4);
        const QList<int> marked = markerColumns(p);
        QVERIFY(marked.contains(156) && marked.size() <= 3);
        // The last point sits on the right edge; the 3-pixel line shows inside it.
        p.setDrawLinePosition(9);
        QVERIFY(markerColumns(p).contains(305));
    }

    void plotterHoverAndClick()
    {
        Plotter p;
        p.resize(311, 106);
        p.addPoints(QVector<double>(10, 5.0).toList());
        QSignalSpy spy(&p, &Plotter::setIndexQuery);
        // x = 6 + 3 × 30: slot 3, the point of statement 2; rounded half up; nothing
        // for slot 0, above the plot or without statements.
        const QList<QPoint> points{{12, 50}, {111, 50}, {96, 10}, {110, 50}, {96, 50}};
        for (int i = 0; i < points.size(); ++i) {
            if (i == 4)
                p.clearGraph();
            QMouseEvent move(QEvent::MouseMove, points[i], Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QMouseEvent up(QEvent::MouseButtonRelease, points[i], Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&p, &move);
            QCOMPARE(p.hoverSlot(), QList<int>({0, 4, -1, 3, -1}).at(i));
            QCoreApplication::sendEvent(&p, &up);
        }
        QCOMPARE(spy.count(), 2);
        QCOMPARE(QList<int>({spy.at(0).at(0).toInt(), spy.at(1).at(0).toInt()}), QList<int>({3, 2}));
    }

    void movedGridFollowsScale()
    {
        for (const double total : {3.0, 21.0, 4500.0}) {
            PlotterMoved p;
            p.resize(300, 120);
            p.addValues({total, total, 0, 0, 0, 0});
            QCOMPARE(p.scaleMax(), qMax(total, 20.0));
            QCOMPARE(p.gridStep(), total < 20 ? 5 : total < 100 ? 10 : 1000);
            // Plot rows 20..94: a line at round(94 - step·75/scale + 1), white above it.
            const int y = int(std::lround(94 - p.gridStep() * 75 / p.scaleMax() + 1));
            QCOMPARE(p.picture().toImage().pixelColor(150, y), QColor("#eeeeee"));
            QCOMPARE(p.picture().toImage().pixelColor(150, y - 1), QColor(Qt::white));
        }
    }

    void movedKeepsSamplesForItsWidth()
    {
        PlotterMoved p;
        p.resize(300, 120);
        p.addValues({5, 1, 1, 1});   // too short: ignored
        QVERIFY(p.values().isEmpty());
        for (int i = 0; i < 45; ++i)
            p.addValues({double(i), 0, 0, 0, 0});
        QCOMPARE(p.values().size(), 30);
        QCOMPARE(p.values().first().at(0) + p.values().last().at(0), 15.0 + 44.0);
        QCOMPARE(p.tick(), 44 % 20);   // wraps every twenty samples
        p.resize(500, 120);
        for (int i = 0; i < 30; ++i)
            p.addValues({1, 0, 0, 0, 0});
        QCOMPARE(p.values().size(), 50);   // widening keeps what is there, and more from then on
    }

    void statisticsKeep31ValuesWithHeadRoom()
    {
        GraphStatistics g;
        g.resize(200, 100);
        for (int i = 1; i <= 40; ++i)
            g.addPoint(i);
        QCOMPARE(g.values().size(), 31);
        QCOMPARE(g.values().first(), 10.0);
        QCOMPARE(g.scaleMax(), 40.0 + 400.0 / 100);   // plus ten pixels of head room
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
