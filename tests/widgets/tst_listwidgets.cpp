#include "CloseButton.h"
#include "TabWidget.h"
#include "TableButtonDelegate.h"
#include "TableQueryDelegate.h"
#include "TableStatusDelegate.h"
#include "TableWidgetDate.h"
#include "TableWidgetDouble.h"
#include "TableWidgetInt.h"

#include <QHeaderView>
#include <QLabel>
#include <QStandardItemModel>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

namespace {

/// A one-column table view of `texts`, each row 24 pixels high, column
/// `width` pixels wide, painted by `delegate`.
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
        view.setShowGrid(false);
        view.setColumnWidth(0, width);
        for (int r = 0; r < texts.size(); ++r)
            view.setRowHeight(r, 24);
        view.resize(width + 40, 24 * texts.size() + 40);
    }

    QImage render()
    {
        view.show();
        QImage image(view.viewport()->size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        view.viewport()->render(&image);
        return image;
    }
};

/// Pixels of row `y` between x0 and x1 whose colour is `colour` (tolerance 8).
int countColour(const QImage& image, int y, int x0, int x1, const QColor& colour)
{
    int n = 0;
    for (int x = x0; x <= x1 && x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (qAbs(c.red() - colour.red()) <= 8 && qAbs(c.green() - colour.green()) <= 8
            && qAbs(c.blue() - colour.blue()) <= 8)
            ++n;
    }
    return n;
}

int countColourIn(const QImage& image, const QRect& rect, const QColor& colour)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        n += countColour(image, y, rect.left(), rect.right(), colour);
    return n;
}

} // namespace

class TestListWidgets : public QObject
{
    Q_OBJECT
private slots:
    // TableButtonDelegate
    void barWidthFollowsValue();
    void barDrawnToWidth();
    void nullAndUpperCaseColouring();
    void buttonOnlyForLongText();

    // TableStatusDelegate, TableQueryDelegate
    void statusMarks();
    void queryCellUsesStyleSheet();

    // Sortable items
    void sortsByDate();
    void sortsByInt();
    void sortsByDouble();

    // TabWidget
    void closingTabNextToSpacerSelectsFirst();
    void closingOtherTabKeepsCurrent();
    void tabColour();
};

void TestListWidgets::barWidthFollowsValue()
{
    TableButtonDelegate d(nullptr, true);
    d.barFullScale = 100.0;
    QCOMPARE(d.barWidth(50, 104), 50);
    QCOMPARE(d.barWidth(33.3, 104), 33);   // truncated, not rounded
    QCOMPARE(d.barWidth(250, 104), 100);   // never wider than the cell
    QCOMPARE(d.barWidth(0, 104), 0);
    QCOMPARE(d.barWidth(-5, 104), 0);
    d.barFullScale = 0.0;
    QCOMPARE(d.barWidth(7, 104), 100);     // no scale: the whole width
}

void TestListWidgets::barDrawnToWidth()
{
    TableButtonDelegate d(nullptr, false);
    d.barColumn = 0;
    d.barFullScale = 200.0;
    Table t({QStringLiteral("50"), QStringLiteral("200")}, 204, &d);
    const QImage image = t.render();
    const QColor bar("#58b3e3");
    // Row 0: a quarter of 200 pixels; row 1: full scale, 200 pixels.
    const int quarter = countColour(image, 12, 0, 203, bar);
    const int full = countColour(image, 36, 0, 203, bar);
    QVERIFY2(qAbs(quarter - 50) <= 2, qPrintable(QString::number(quarter)));
    QVERIFY2(qAbs(full - 200) <= 2, qPrintable(QString::number(full)));
    // Two pixels of margin on the left.
    QVERIFY(countColour(image, 12, 0, 1, bar) == 0);
    QVERIFY(countColour(image, 12, 2, 4, bar) == 3);
}

void TestListWidgets::nullAndUpperCaseColouring()
{
    const QColor nullColour("#8cc7c3");
    const QColor upperColour("#800000");
    {
        TableButtonDelegate d(nullptr, true);
        d.nullColoring = true;
        Table t({QStringLiteral("(null)"), QStringLiteral("value")}, 150, &d);
        const QImage image = t.render();
        QVERIFY(countColourIn(image, QRect(0, 0, 150, 24), nullColour) > 5);
        QCOMPARE(countColourIn(image, QRect(0, 24, 150, 24), nullColour), 0);
    }
    {
        TableButtonDelegate d(nullptr, true);
        Table t({QStringLiteral("(null)")}, 150, &d);
        QCOMPARE(countColourIn(t.render(), QRect(0, 0, 150, 24), nullColour), 0);
    }
    {
        TableButtonDelegate d(nullptr, true);
        d.upperCaseColumn = 0;
        Table t({QStringLiteral("Sending data"), QStringLiteral("starting")}, 150, &d);
        const QImage image = t.render();
        QVERIFY(countColourIn(image, QRect(0, 0, 150, 24), upperColour) > 5);
        QCOMPARE(countColourIn(image, QRect(0, 24, 150, 24), upperColour), 0);
    }
    {
        TableButtonDelegate d(nullptr, true);
        d.setTextColor(QColor(0, 200, 0));
        Table t({QStringLiteral("green")}, 150, &d);
        QVERIFY(countColourIn(t.render(), QRect(0, 0, 150, 24), QColor(0, 200, 0)) > 5);
    }
}

void TestListWidgets::buttonOnlyForLongText()
{
    TableButtonDelegate d(nullptr, true);
    const QString longText(200, QLatin1Char('x'));
    Table t({longText, QStringLiteral("short")}, 120, &d);
    t.render();
    QVERIFY(TableButtonDelegate::textOverflows(longText, t.view.font(), 120));
    QVERIFY(!TableButtonDelegate::textOverflows(QStringLiteral("short"), t.view.font(), 120));

    QSignalSpy spy(&d, &TableButtonDelegate::buttonClicked);
    const QRect cell0 = t.view.visualRect(t.model.index(0, 0));
    const QRect cell1 = t.view.visualRect(t.model.index(1, 0));
    const QPoint inButton0(cell0.right() - 8, cell0.center().y());
    const QPoint inButton1(cell1.right() - 8, cell1.center().y());

    QTest::mousePress(t.view.viewport(), Qt::LeftButton, {}, inButton0);
    QCOMPARE(d.buttonState, int(QStyle::State_Sunken));
    QTest::mouseRelease(t.view.viewport(), Qt::LeftButton, {}, inButton0);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<QModelIndex>(), t.model.index(0, 0));
    QCOMPARE(d.buttonState, int(QStyle::State_Raised));

    // Left of the button: no click.
    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, QPoint(cell0.left() + 10, cell0.center().y()));
    // The short text has no button.
    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, inButton1);
    QCOMPARE(spy.count(), 1);
}

void TestListWidgets::statusMarks()
{
    TableStatusDelegate d(nullptr);
    QCOMPARE(d.sizeHint(QStyleOptionViewItem(), QModelIndex()), QSize(20, 20));
    Table t({QStringLiteral("yes"), QStringLiteral("no"), QStringLiteral("maybe")}, 22, &d);
    const QImage image = t.render();
    const QRect yes(0, 0, 20, 24), no(0, 24, 20, 24), other(0, 48, 20, 24);
    const QColor white(Qt::white);
    const int blankOther = countColourIn(image, other, white);
    QCOMPARE(blankOther, 20 * 24); // no mark for other texts
    QVERIFY(countColourIn(image, yes, white) < blankOther);
    QVERIFY(countColourIn(image, no, white) < blankOther);
    QVERIFY(image.copy(yes) != image.copy(no));
}

void TestListWidgets::queryCellUsesStyleSheet()
{
    TableQueryDelegate d(QStringLiteral(".hljs-keyword { color: #0000ff; }"), nullptr);
    QCOMPARE(d.styleSheet(), QStringLiteral(".hljs-keyword { color: #0000ff; }"));
    Table t({QStringLiteral("<span class=\"hljs-keyword\">SELECT</span> 1")}, 300, &d);
    QVERIFY(countColourIn(t.render(), QRect(0, 0, 300, 24), QColor(0, 0, 255)) > 5);

    // A long statement is taller than a row when laid out in a narrow cell.
    QStyleOptionViewItem opt;
    opt.rect = QRect(0, 0, 80, 24);
    QStandardItemModel model;
    model.appendRow(new QStandardItem(QString(300, QLatin1Char('w'))));
    QVERIFY(d.sizeHint(opt, model.index(0, 0)).height() > 30);
}

void TestListWidgets::sortsByDate()
{
    QTableWidget table(3, 1);
    table.setItem(0, 0, new TableWidgetDate(QStringLiteral("01.01.15 00:00"), 0));
    table.setItem(1, 0, new TableWidgetDate(QStringLiteral("31.12.14 23:59"), 0));
    table.setItem(2, 0, new TableWidgetDate(QStringLiteral("02.01.15 09:30"), 0));
    table.sortItems(0, Qt::AscendingOrder);
    QCOMPARE(table.item(0, 0)->text(), QStringLiteral("31.12.14 23:59"));
    QCOMPARE(table.item(1, 0)->text(), QStringLiteral("01.01.15 00:00"));
    QCOMPARE(table.item(2, 0)->text(), QStringLiteral("02.01.15 09:30"));
    // Day before month in the text, yet months compare first.
    QVERIFY(TableWidgetDate(QStringLiteral("31.01.24 10:00"), 0) < TableWidgetDate(QStringLiteral("01.02.24 09:00"), 0));
    QVERIFY(!(TableWidgetDate(QStringLiteral("01.02.24 09:00"), 0) < TableWidgetDate(QStringLiteral("31.01.24 10:00"), 0)));
    // A text that is no date sorts first.
    QVERIFY(TableWidgetDate(QString(), 0) < TableWidgetDate(QStringLiteral("01.01.15 00:00"), 0));
}

void TestListWidgets::sortsByInt()
{
    QTableWidget table(4, 1);
    const QStringList texts{QStringLiteral("10"), QStringLiteral("9"), QStringLiteral("100"), QStringLiteral("-3")};
    for (int i = 0; i < texts.size(); ++i)
        table.setItem(i, 0, new TableWidgetInt(texts.at(i), 0));
    table.sortItems(0, Qt::AscendingOrder);
    QStringList order;
    for (int i = 0; i < 4; ++i)
        order << table.item(i, 0)->text();
    QCOMPARE(order, (QStringList{"-3", "9", "10", "100"}));
}

void TestListWidgets::sortsByDouble()
{
    QTableWidget table(4, 1);
    const QStringList texts{QStringLiteral("2.5"), QStringLiteral("10.25"), QStringLiteral("-1"), QStringLiteral("2.125")};
    for (int i = 0; i < texts.size(); ++i)
        table.setItem(i, 0, new TableWidgetDouble(texts.at(i), 0));
    table.sortItems(0, Qt::DescendingOrder);
    QStringList order;
    for (int i = 0; i < 4; ++i)
        order << table.item(i, 0)->text();
    QCOMPARE(order, (QStringList{"10.25", "2.5", "2.125", "-1"}));
}

namespace {
/// Main-window-like tabs: three fixed pages, the disabled spacer, then
/// run-time tabs with close buttons.
void fillTabs(TabWidget* tabs, int runTimeTabs)
{
    for (const char* name : {"statistics", "flow", "sessions", ""})
        tabs->addTab(new QLabel(QString::fromLatin1(name)), QString::fromLatin1(name));
    tabs->setTabEnabled(TabWidget::spacerIndex, false);
    for (int i = 0; i < runTimeTabs; ++i) {
        const int index = tabs->addTab(new QLabel, QStringLiteral("000000%1").arg(i + 1));
        tabs->setTabClosable(index);
    }
}

QAbstractButton* closeButtonOf(TabWidget* tabs, int index)
{
    const auto side = QTabBar::ButtonPosition(
        tabs->style()->styleHint(QStyle::SH_TabBar_CloseButtonPosition, nullptr, tabs->tabBar()));
    return qobject_cast<QAbstractButton*>(tabs->tabBar()->tabButton(index, side));
}
} // namespace

void TestListWidgets::closingTabNextToSpacerSelectsFirst()
{
    TabWidget tabs;
    fillTabs(&tabs, 1);
    tabs.show();
    tabs.setCurrentIndex(4);
    QAbstractButton* close = closeButtonOf(&tabs, 4);
    QVERIFY(qobject_cast<CloseButton*>(close));
    QVERIFY(!close->sizeHint().isEmpty());
    QPointer<QWidget> page = tabs.widget(4);

    QSignalSpy spy(&tabs, &TabWidget::tabClose);
    close->click();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("0000001"));
    QCOMPARE(tabs.count(), 4);
    QCOMPARE(tabs.currentIndex(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(page.isNull());
}

void TestListWidgets::closingOtherTabKeepsCurrent()
{
    TabWidget tabs;
    fillTabs(&tabs, 3);
    tabs.show();
    tabs.setCurrentIndex(1);
    QSignalSpy spy(&tabs, &TabWidget::tabClose);
    closeButtonOf(&tabs, 5)->click();
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("0000002"));
    QCOMPARE(tabs.count(), 6);
    QCOMPARE(tabs.currentIndex(), 1);
    QCOMPARE(tabs.tabText(5), QStringLiteral("0000003"));

    // A receiver that removes the tab itself: the widget does not remove
    // another one.
    connect(&tabs, &TabWidget::tabClose, &tabs, [&tabs](const QString& header) {
        for (int i = 0; i < tabs.count(); ++i)
            if (tabs.tabText(i) == header)
                tabs.removeTab(i);
    });
    closeButtonOf(&tabs, 4)->click();
    QCOMPARE(tabs.count(), 5);
    QCOMPARE(tabs.tabText(4), QStringLiteral("0000003"));
}

void TestListWidgets::tabColour()
{
    TabWidget tabs;
    fillTabs(&tabs, 1);
    tabs.setTabColor(4, true);
    QCOMPARE(tabs.tabBar()->tabTextColor(4), QColor("#d15257"));
    tabs.setTabColor(4, false);
    QCOMPARE(tabs.tabBar()->tabTextColor(4), tabs.tabBar()->palette().color(QPalette::WindowText));
}

QTEST_MAIN(TestListWidgets)
#include "tst_listwidgets.moc"
