// The code editor, the highlighter and the statement text helpers; the shared
// list and graph widgets: cell painters with bars, colours and buttons,
// sortable items, the tab widget with closable run-time tabs, the duration
// graph of a session, the moving statements graph and the small statistics
// graphs.
#include "CloseButton.h"
#include "CodeEditor.h"
#include "GraphStatistics.h"
#include "HighlightEngine.h"
#include "Plotter.h"
#include "PlotterMoved.h"
#include "TabWidget.h"
#include "TableButtonDelegate.h"
#include "TableQueryDelegate.h"
#include "TableStatusDelegate.h"
#include "TableWidgetDate.h"
#include "TableWidgetDouble.h"
#include "TableWidgetInt.h"
#include "TextHelpers.h"

#include <QtTest>
#include <QtWidgets>

namespace {

/// Editor with the test's own style sheet, so colours can be checked
/// whatever theme is installed.
struct Editor : CodeEditor
{
    using QPlainTextEdit::blockBoundingRect;
    Editor()
    {
        document()->setDefaultStyleSheet(QStringLiteral(".hljs-keyword { color: #0000ff; } "
                                                        ".hljs-comment { color: #008000; }"));
        resize(400, 300);
        setFocus();
    }
    /// Foreground colour of the character at `position`: 'k' keyword blue,
    /// 'c' comment green, '-' anything else.
    char colourAt(int position)
    {
        QTextCursor cursor(document());
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        const QColor c = cursor.charFormat().foreground().color();
        return c == QColor(0, 0, 255) ? 'k' : c == QColor(0, 128, 0) ? 'c' : '-';
    }
    QString colours(const QStringList& words)
    {
        QString out;
        for (const QString& w : words)
            out += colourAt(toPlainText().indexOf(w));
        return out;
    }
};

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
    void initTestCase() { QVERIFY2(HighlightEngine::shared()->isLoaded(), qPrintable(HighlightEngine::bundlePath())); }

    void textSurvivesHighlighting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("backslash, quotes") << QStringLiteral("SELECT 'a\\nb', '\\\\', \"a\", 'b''c', `d`   class");
        QTest::newRow("html special") << QStringLiteral("SELECT '<b>&amp;</b>' FROM t WHERE a < 3 AND b > 2 & 1");
        QTest::newRow("script breaker") << QStringLiteral("SELECT \"\"); hljs = null; (\"\"");
        QTest::newRow("non-ascii, empty lines") << QStringLiteral("SELECT 'Grüße – 日本';\n\n\n  SELECT 2;\n");
    }

    void textSurvivesHighlighting()
    {
        QFETCH(QString, text);
        Editor editor;
        editor.setPlainText(text);
        QCOMPARE(editor.toPlainText(), text);
        QCOMPARE(editor.colourAt(0), 'k');
        // Empty paragraphs keep the height of a line.
        const QTextBlock second = editor.document()->findBlockByNumber(qMin(1, editor.blockCount() - 1));
        QVERIFY(editor.blockBoundingRect(second).height() >= editor.blockBoundingRect(editor.document()->firstBlock()).height() - 1);
    }

    void pastedTabsBecomeSpaces()
    {
        Editor editor;
        editor.insertPlainText(QStringLiteral("SELECT\t1\tx"));
        QCOMPARE(editor.toPlainText(), QStringLiteral("SELECT    1    x"));
        QCOMPARE(editor.textCursor().position(), 16);   // behind the pasted text
        // A tab inserted behind the cursor does not move it.
        QTextCursor c = editor.textCursor();
        c.setPosition(3);
        editor.setTextCursor(c);
        c.setPosition(7);
        c.insertText(QStringLiteral("\t"));
        QCOMPARE(editor.toPlainText(), QStringLiteral("SELECT") + QString(8, ' ') + QStringLiteral("1    x"));
        QCOMPARE(editor.textCursor().position(), 3);
    }

    void undoStepsBackOneHighlightedState()
    {
        Editor editor;
        QTest::keyClicks(&editor, QStringLiteral("select 1"));
        for (int i = 0; i < 3; ++i)
            QTest::keySequence(&editor, QKeySequence::Undo);
        QCOMPARE(editor.toPlainText() + editor.colourAt(0), QStringLiteral("selec-"));
        editor.redo();
        QCOMPARE(editor.toPlainText() + editor.colourAt(0), QStringLiteral("selectk"));
        QCOMPARE(editor.textCursor().position(), 6);
        // A new edit after undo drops the steps that could have been redone.
        editor.undo();
        QTest::keyClicks(&editor, QStringLiteral("x"));
        QTest::keySequence(&editor, QKeySequence::Redo);
        QCOMPARE(editor.toPlainText(), QStringLiteral("selecx"));
    }

    void editInsideScriptRecoloursThatLine()
    {
        Editor editor;
        editor.setPlainText(QStringLiteral("select 1;\nselect 2;\nselect 3;\n/* still\nopen"));
        QTextCursor c = editor.textCursor();
        c.setPosition(editor.toPlainText().indexOf(QLatin1String("2;")) + 1);
        editor.setTextCursor(c);
        QTest::keyClicks(&editor, QStringLiteral(" from\tt"));
        const QString expected = QStringLiteral("select 1;\nselect 2 from    t;\nselect 3;\n/* still\nopen");
        QCOMPARE(editor.toPlainText(), expected);
        QCOMPARE(editor.textCursor().position(), expected.indexOf(QLatin1String("t;\nselect 3")) + 1);
        QCOMPARE(editor.colours({"select 1", "from", "t;", "select 3", "still", "open"}), QStringLiteral("kk-kcc"));
        // Closing the comment on the last line; breaking a line in two.
        editor.moveCursor(QTextCursor::End);
        QTest::keyClicks(&editor, QStringLiteral(" */ select"));
        QCOMPARE(editor.colourAt(editor.toPlainText().lastIndexOf(QLatin1String("select"))), 'k');
        QCOMPARE(editor.colours({"still", "open", "*/"}), QStringLiteral("ccc"));
        c.setPosition(expected.indexOf(QLatin1String("from")));
        editor.setTextCursor(c);
        QTest::keyClick(&editor, Qt::Key_Return);
        QCOMPARE(editor.blockCount(), 6);
        const QTextBlock third = editor.document()->findBlockByNumber(2);
        QCOMPARE(third.text().replace(QChar::Nbsp, QLatin1Char(' ')), QStringLiteral("from    t;"));
        QCOMPARE(editor.colourAt(third.position()), 'k');
    }

    void oneLineForCells_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("trailing comment") << "SELECT a FROM users -- FIXME: all users" << "SELECT a FROM users ";
        QTest::newRow("comment inside") << "SELECT a -- TODO: check\nFROM t\tWHERE x" << "SELECT a FROM t WHERE x";
        QTest::newRow("word ends in s") << "SELECT users-- c\nFROM t" << "SELECT users FROM t";
        QTest::newRow("block comment, special characters")
            << "SELECT /* keep */ '<b>&nbsp;</b>', \"x\\y\" FROM t WHERE a < b & c > 0"
            << "SELECT /* keep */ '<b>&nbsp;</b>', \"x\\y\" FROM t WHERE a < b & c > 0";
    }

    void oneLineForCells()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        Editor editor;
        const QString html = editor.toHighlightText(text);
        QTextDocument cell;   // what a table cell shows; it collapses runs of spaces
        cell.setHtml(html);
        QCOMPARE(cell.toPlainText().trimmed(), shown.trimmed());
        QVERIFY(html.contains(QLatin1String("hljs-keyword")) && !html.contains('\n') && !html.contains('\t'));
        QCOMPARE(html.count(QLatin1String("<span")), html.count(QLatin1String("</span>")));
        QCOMPARE(TextHelpers::toHighlightText(text), html);
        // The helper's answer came from the cache; one too small for the entry answers the same.
        HighlightEngine::shared()->setCacheLimit(1);
        QCOMPARE(HighlightEngine::shared()->oneLine(text), html);
        HighlightEngine::shared()->setCacheLimit(4 * 1024 * 1024);
    }

    void scriptInPiecesEqualsWhole()
    {
        const QString script = QStringLiteral("SELECT 'a;b', \"c;d\", `e;f` FROM t; -- note; here\n"
                                              "UPDATE t SET x = 1 /* ; inside */ WHERE y = 2;\n# hash; comment\n"
                                              "INSERT INTO t VALUES (1);;\nDELETE FROM t WHERE z = 'unterminated; string");
        const QStringList pieces = HighlightEngine::splitStatements(script);
        QCOMPARE(pieces.join(QString()), script);
        QCOMPARE(pieces.size(), 5);
        QCOMPARE(pieces.at(3), QStringLiteral(";"));
        QString whole, inPieces;
        QVERIFY(HighlightEngine::shared()->highlight(script, &whole));
        for (int again = 0; again < 2; ++again) {   // the second time from the remembered pieces
            QVERIFY(HighlightEngine::shared()->highlightScript(script, &inPieces));
            QCOMPARE(inPieces, whole);
        }
    }

    void textHelpers()
    {
        // Line breaks fold into one space; remRN folds runs of spaces too.
        QCOMPARE(TextHelpers::recQuery(QStringLiteral("\nSELECT\r\n\n1 \n  x")), QStringLiteral(" SELECT 1    x"));
        QCOMPARE(TextHelpers::remRN(QStringLiteral("  a  \n b\r\n\t\tc")), QStringLiteral(" a b \t\tc"));
        QString digits;
        for (int i = 0; i < 1000; ++i)
            digits += QChar('0' + i % 10);
        QStringList lines;   // ten lines of 80 at most, then a marker when something was left out
        for (int i = 0; i < 10; ++i)
            lines << digits.mid(i * 80, 80);
        QCOMPARE(TextHelpers::toTooltipStr(digits.left(800)), lines.join('\n'));
        QCOMPARE(TextHelpers::toTooltipStr(digits.left(801)), lines.join('\n') + QStringLiteral("[...]"));
        // Tabs become spaces, one leading line feed goes; inner ones count as characters.
        QCOMPARE(TextHelpers::toTooltipStr(QStringLiteral("\n\nSELECT\t1")), QStringLiteral("\nSELECT 1"));
        QCOMPARE(TextHelpers::toTooltipStr(QString(79, 'x') + QStringLiteral("\ny")), QString(79, 'x') + QStringLiteral("\n\ny"));
    }

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
