// The EXPLAIN table (warning colours, tool tips, icons, Extra lines) on the
// real server and on the twelve-column shape, and the JSON plan tree.
#include "ResponseExplainWidget.h"
#include "ResponseVExplainWidget.h"
#include "TableButtonDelegate.h"
#include "TableWarningDelegate.h"
#include "TestSql.h"
#include "TestTexts.h"
#include "TextHelpers.h"
#include "WidgetEnv.h"

#include <QtSql>
#include <QtTest>
#include <QtWidgets>

using W = TableWarningDelegate;

namespace {

const QColor kWarningColor("#fde9d9");

/// Column index by field name, -1 when absent.
int col(QTableWidget* t, const QString& name)
{
    for (int c = 0; c < t->columnCount(); ++c)
        if (t->horizontalHeaderItem(c)->text().compare(name, Qt::CaseInsensitive) == 0)
            return c;
    return -1;
}

/// Dominant colour of the 16x16 icon square at `at` in `image`: 'r' red, 'y' yellow, '-' neither.
char iconColour(const QImage& image, const QPoint& at)
{
    int red = 0, yellow = 0;
    for (int i = 0; i < 256; ++i) {
        const QColor c = image.pixelColor(at + QPoint(i % 16, i / 16));
        red += c.red() > 180 && c.green() < 120 && c.blue() < 120;
        yellow += c.red() > 200 && c.green() > 150 && c.blue() < 110;
    }
    return red > 20 && red > yellow ? 'r' : yellow > 20 ? 'y' : '-';
}

/// Every item text of the plan tree, depth-first.
QStringList treeTexts(const ResponseVExplainWidget& w)
{
    QStringList texts;
    for (QTreeWidgetItemIterator it(w.tree()); *it; ++it)
        texts << (*it)->text(0);
    return texts;
}

} // namespace

class TestExplain : public QObject
{
    Q_OBJECT

    EnglishTexts texts;
    languageEngine* const lang = texts.lang.get();
    QSqlDatabase server;

    /// Per row, the columns that warn (field name -> tool tip key): the warning
    /// background and tool tip exactly there, the text's own tool tip elsewhere,
    /// the delegate agreeing cell by cell. The warning delegate draws the warning
    /// columns, the table itself possible_keys, the "..." button delegate the rest.
    void checkTable(QTableWidget* t, const QList<QMap<QString, QString>>& warned)
    {
        QCOMPARE(t->rowCount(), warned.size());
        for (int c = 0; c < t->columnCount(); ++c) {
            const QString name = t->horizontalHeaderItem(c)->text();
            QAbstractItemDelegate* d = t->itemDelegateForColumn(c);
            QVERIFY2(W::columnOf(name) == W::Other          ? bool(qobject_cast<TableButtonDelegate*>(d))
                     : W::columnOf(name) == W::PossibleKeys ? !d
                                                             : bool(qobject_cast<W*>(d)),
                     qPrintable(name));
            for (int r = 0; r < t->rowCount(); ++r) {
                const QTableWidgetItem* item = t->item(r, c);
                const QString key = warned.at(r).value(name);
                QCOMPARE(item->background().color() == kWarningColor, !key.isEmpty());
                QCOMPARE(item->toolTip(), key.isEmpty() ? TextHelpers::toTooltipStr(item->text()) : lang->sql(key));
                QCOMPARE(W::warning(t->model()->index(r, c)),
                         key.isEmpty() ? W::NoWarning : name == "type" && item->text() == "index" ? W::Caution : W::Serious);
            }
        }
    }

private slots:
    void initTestCase()
    {
        WidgetEnv::setLanguage(lang);   // for the widgets made from a query
        const TestDb db = TestDb::load();
        if (!db.valid)
            return;
        QVERIFY((server = openTestDb(db, "server")).isOpen());
        QSqlQuery q(server);
        for (const char* sql :
             {"CREATE OR REPLACE TABLE ex_scan (id INT PRIMARY KEY, a INT, b INT, c VARCHAR(20), KEY ka(a), KEY kb(b))",
              "INSERT INTO ex_scan SELECT seq, seq % 10, seq % 7, CONCAT('v', seq % 50) FROM seq_1_to_1000",
              "CREATE OR REPLACE TABLE ex_other (id INT PRIMARY KEY, name VARCHAR(20))",
              "INSERT INTO ex_other SELECT seq, CONCAT('n', seq) FROM seq_0_to_9", "ANALYZE TABLE ex_scan, ex_other"})
            QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
    }

    // MariaDB's ten columns, from the real server.
    void plansOnServer()
    {
        if (!server.isOpen())
            QSKIP("the MariaDB test server fixture is not running");
        QSqlQuery q(server);
        QVERIFY(q.exec("EXPLAIN SELECT * FROM ex_scan WHERE c = 'v1'"));
        QScopedPointer<ResponseExplainWidget> w(new ResponseExplainWidget(readResultSet(q, 1.0), nullptr, lang));
        QCOMPARE(w->table()->columnCount(), 10);
        checkTable(w->table(), {{{"type", "explain_type_all"}, {"key", "explain_key_null"}, {"rows", "explain_rows_100"}}});

        QVERIFY(q.exec("EXPLAIN SELECT c, MAX(a) FROM ex_scan WHERE b > 3 GROUP BY c ORDER BY MAX(a)"));
        w.reset(new ResponseExplainWidget(readResultSet(q, 1.0), nullptr, lang));
        QTableWidget* t = w->table();
        const int extra = col(t, "Extra");
        QCOMPARE(t->item(0, extra)->text(), QString("Using where; Using temporary; Using filesort"));
        w->resize(900, 200);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.data()));
        QCOMPARE(t->rowHeight(0), 57);
        // Drawn: a yellow icon before the second line, a red one before the third,
        // a red one in the type cell, the warning colour behind the type text.
        const QImage image = t->viewport()->grab().toImage();
        const QPoint extraAt = t->visualRect(t->model()->index(0, extra)).topLeft() + QPoint(2, 1);
        QCOMPARE(QString{iconColour(image, extraAt)} + iconColour(image, extraAt + QPoint(0, 19))
                     + iconColour(image, extraAt + QPoint(0, 38)),
                 QString("-yr"));
        const QRect type = t->visualRect(t->model()->index(0, col(t, "type")));
        QCOMPARE(iconColour(image, QPoint(type.left() + 2, type.top() + (type.bottom() - type.top() - 15) / 2)), 'r');
        QCOMPARE(image.pixelColor(type.right() - 2, type.bottom() - 2), kWarningColor);

        // A JSON plan of a join: both tables in the tree.
        QVERIFY(q.exec("EXPLAIN FORMAT=JSON SELECT * FROM ex_scan s JOIN ex_other o ON o.id = s.a WHERE s.c = 'v1'"));
        const QStringList texts = treeTexts(ResponseVExplainWidget(&q, nullptr));
        for (const char* leaf : {"table_name: s", "table_name: o", "access_type: ALL", "access_type: ref"})
            QVERIFY2(texts.contains(leaf), leaf);
    }

    // The twelve columns of other servers, without such a server: the rules
    // must follow the names, not the positions.
    void twelveColumnShape()
    {
        QSqlDatabase lite = QSqlDatabase::addDatabase("QSQLITE", "lite");
        lite.setDatabaseName(":memory:");
        QVERIFY(lite.open());
        QSqlQuery q(lite);
        QVERIFY(q.exec("CREATE TABLE plan (id INTEGER, select_type TEXT, \"table\" TEXT, partitions TEXT, type TEXT, "
                       "possible_keys TEXT, \"key\" TEXT, key_len TEXT, ref TEXT, \"rows\" INTEGER, filtered REAL, Extra TEXT)"));
        QVERIFY(q.exec("INSERT INTO plan VALUES (1, 'SIMPLE', 't1', 'p0', 'ALL', 'ka,kb', NULL, NULL, 'const', 5000, 10.0, "
                       "'Using where; Using temporary; Using filesort'),"
                       "(1, 'SIMPLE', 't2', NULL, 'index', NULL, '', '4', NULL, 100, 100.0, 'Using index'),"
                       "(2, 'SIMPLE', 't3', NULL, 'ref', 'PRIMARY', 'PRIMARY', '4', 't1.id', 101, 50.0, NULL),"
                       // letter case, near misses, NULL as text, unreadable rows
                       "(3, 'SIMPLE', 't4', NULL, 'aLl', NULL, 'NULL', '4', 'ALL', 'many', 1.0, NULL),"
                       "(4, 'SIMPLE', 't5', NULL, 'index_merge', 'k', 'k', '4', NULL, 100, 1.0, 'Using index')"));
        QVERIFY(q.exec("SELECT * FROM plan"));
        ResponseExplainWidget w(&q, nullptr);
        QCOMPARE(w.table()->columnCount(), 12);
        checkTable(w.table(), {{{"type", "explain_type_all"}, {"key", "explain_key_null"}, {"rows", "explain_rows_100"}},
                               {{"type", "explain_type_index"}, {"key", "explain_key_null"}},
                               {{"rows", "explain_rows_100"}}, {{"type", "explain_type_all"}, {"key", "explain_key_null"}}, {}});
        QCOMPARE(w.table()->item(0, col(w.table(), "possible_keys"))->text(), QString("ka,\nkb"));
    }

    void jsonTree_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QStringList>("expected");   // item texts, depth-first
        QTest::newRow("two-table join") << R"({"query_block": {"select_id": 1, "nested_loop": [
            {"table": {"table_name": "o", "access_type": "ALL", "rows": 10}},
            {"table": {"table_name": "s", "access_type": "ref", "possible_keys": ["ka"]}}]}})"
            << QStringList{"query_block", "nested_loop", "1", "table", "access_type: ALL", "rows: 10", "table_name: o",
                           "2", "table", "access_type: ref", "possible_keys", "1: ka", "table_name: s", "select_id: 1"};
        QTest::newRow("numbers and scalars")
            << R"({"cost": 1.2, "big": 1e20, "r": 1000000, "f": 0.5, "t": true, "n": null, "e": {}, "a": []})"
            << QStringList{"a: ", "big: 100000000000000000000", "cost: 1.2", "e: ", "f: 0.5", "n: null", "r: 1000000",
                           "t: true"};
        QTest::newRow("not JSON") << "{\"query_block\": " << QStringList{};
    }
    void jsonTree()
    {
        QFETCH(QString, json);
        QFETCH(QStringList, expected);
        QCOMPARE(treeTexts(ResponseVExplainWidget({{}, {"EXPLAIN"}, {}, {{json}}}, nullptr)), expected);
    }
};

QTEST_MAIN(TestExplain)
#include "tst_explain.moc"
