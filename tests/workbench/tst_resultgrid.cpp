// The result grid: a large answer of the server shown, sorted, filtered and exported (read back with
// Python's csv module and XML parser); odd values and names; profile mode; failed writes; a 1 MB value.
#include "DataViewerWidget.h"
#include "ExportWriter.h"
#include "ResponseWidget.h"
#include "ResultModel.h"
#include "TableButtonDelegate.h"
#include "TestSql.h"
#include "TestTexts.h"

#include <QtSql>
#include <QtTest>
#include <QtWidgets>

namespace {

/// Reads a CSV file (";" separated) with Python's csv module, or an XML file with its parser; prints JSON.
const char* reader = R"(
import csv, json, sys, xml.etree.ElementTree as ET
path = sys.argv[1]
if path.endswith('.csv'):
    with open(path, newline='', encoding='utf-8') as f:
        out = {'rows': list(csv.reader(f, delimiter=';', strict=True))}
else:
    root = ET.parse(path).getroot()
    data = [[(c.get('name', c.tag), c.text or '') for c in row] for row in root.find('Data')]
    out = {'root': root.tag, 'query': root.findtext('Query'),
           'names': [[n for n, t in r] for r in data], 'rows': [[t for n, t in r] for r in data]}
print(json.dumps(out))
)";

/// An export as a standard reader sees it: for XML the root element, the statement, and per cell the
/// column's original name (its `name` attribute, else the element name).
struct ReadBack
{
    QString root, query;
    QList<QStringList> names, rows;
};

ReadBack readBack(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(reader), path});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        qWarning() << "python:" << p.readAllStandardError();
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    ReadBack back{o["root"].toString(), o["query"].toString(), {}, {}};
    for (const QString key : {"names", "rows"})
        for (const QJsonValue& row : o[key].toArray())
            (key == "rows" ? back.rows : back.names) << row.toVariant().toStringList();
    return back;
}

QStringList column(const QAbstractItemModel* m, int c)
{
    QStringList out;
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->index(r, c).data().toString();
    return out;
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

ResultSet handMade(const QStringList& columns, const QVector<int>& types, const QVector<QVector<QVariant>>& rows)
{
    return {QStringLiteral("SELECT by hand"), columns, types, rows, 1.0, -1, -1, true};
}

} // namespace

#define NEED_DB()                                                                                                    \
    if (!conn.isOpen())                                                                                              \
    QSKIP("the MariaDB test server fixture is not running")

class TestResultGrid : public QObject
{
    Q_OBJECT
    ResultSet select(const QString& sql)
    {
        QSqlQuery q(conn);
        q.setForwardOnly(true);
        q.setNumericalPrecisionPolicy(QSql::HighPrecision);   // DECIMAL as the server's text
        if (!q.exec(sql))
            qWarning() << sql << q.lastError().text();
        return readResultSet(q, 1.0);
    }
    std::unique_ptr<ResponseWidget> grid(const ResultSet& rs, bool profile = false)
    {
        auto w = std::make_unique<ResponseWidget>(rs, QStringLiteral("Result 1"), nullptr, profile, texts.lang.get());
        w->resize(900, 500);
        w->show();
        return w;
    }

    QSqlDatabase conn;
    EnglishTexts texts;
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        if (const TestDb db = TestDb::load(); db.valid)
            QVERIFY((conn = openTestDb(db, "grid")).isOpen());
    }

    void largeResultShownSortedFilteredExported()
    {
        NEED_DB();
        const ResultSet rs = select(
            "SELECT seq, seq*2 AS doubled, seq*3 AS tripled, seq % 7 AS mod7, seq/4 AS quarter, "
            "CONCAT('r', seq) AS label, -seq AS neg, seq*1.5e0 AS real_, IF(seq % 10 = 0, NULL, seq) AS sparse, "
            "LPAD(seq, 6, '0') AS padded FROM seq_1_to_100000");
        auto w = grid(rs);
        ResultProxy* proxy = w->proxyModel();
        QTableView* table = w->findChild<QTableView*>("table");
        QCOMPARE(proxy->rowCount(), 100000);
        // A sample of cells in the server's order.
        const struct { int row, col; const char* text; } samples[] = {
            {0, 0, "1"}, {0, 4, "0.2500"}, {0, 9, "000001"}, {9, 8, "(null)"}, {99999, 5, "r100000"}, {99999, 6, "-100000"},
            {49999, 1, "100000"}};
        for (const auto& s : samples)
            QCOMPARE(proxy->index(s.row, s.col).data().toString(), QString(s.text));
        // Widths come from the first rows and the last few: the widest number fits.
        QVERIFY(!TableButtonDelegate::textOverflows("25000.0000", table->font(), table->columnWidth(4)));

        // Sorted by value (each type on its own below); typing filters once the typing pauses, in any column,
        // regardless of case.
        table->sortByColumn(0, Qt::DescendingOrder);
        auto* edFilter = w->findChild<QLineEdit*>("edFilter");
        QTest::keyClicks(edFilter, "R9999");
        QVERIFY(w->filterPending());
        QTRY_COMPARE(proxy->rowCount(), 11);   // r9999 and r99990 .. r99999
        QCOMPARE(column(proxy, 0).mid(0, 2), (QStringList{"99999", "99998"}));

        // The exports hold the shown rows in the shown order, and read back.
        const QString csv = dir.filePath("filtered.csv"), xml = dir.filePath("filtered.xml");
        QVERIFY(w->exportCsv(csv) && w->exportXml(xml));
        const QList<QStringList> csvBack = readBack(csv).rows;
        QCOMPARE(csvBack.size(), 12);
        QCOMPARE(csvBack.first(), rs.columns);
        QCOMPARE(csvBack.at(1), (QStringList{"99999", "199998", "299997", "4", "24999.7500", "r99999", "-99999",
                                             "149998.5", "99999", "099999"}));
        const ReadBack xmlBack = readBack(xml);
        QCOMPARE(xmlBack.root + xmlBack.query, "Execution\n" + rs.statement);   // "<Query>", a line feed, the statement
        QCOMPARE(xmlBack.rows, csvBack.mid(1));
        QCOMPARE(xmlBack.names.first(), rs.columns);

        // An export right after typing writes what was typed, not what was shown.
        edFilter->setText("r5000");
        QVERIFY(w->exportCsv(csv));
        QCOMPARE(readBack(csv).rows.size(), 12);   // r5000, r50000 .. r50009

        // Cleared, the whole result goes out.
        edFilter->clear();
        QVERIFY(w->exportCsv(csv) && w->exportXml(xml));
        const QList<QStringList> all = readBack(csv).rows;
        QCOMPARE(all.size(), 100001);
        QCOMPARE(all.at(1).first(), QString("100000"));   // still sorted descending
        QCOMPARE(readBack(xml).rows, all.mid(1));
    }

    void nullsAndNumbersSortByValue()
    {
        NEED_DB();
        QSqlQuery q(conn);
        QVERIFY(q.exec("CREATE OR REPLACE TABLE sorted (id INT, i INT, u BIGINT UNSIGNED, d DECIMAL(10,2), f DOUBLE, "
                       "t VARCHAR(10), dt DATETIME, b VARBINARY(10))"));
        QVERIFY(q.exec("INSERT INTO sorted VALUES (1, 10, 10, 10.25, 10.5, '10', '2024-01-10 00:00:00', 'a'),"
                       "(2, 9, 9, 9.5, 9.25, '9', '2024-01-09 12:00:00', 'b'), (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
                       "(4, -1, 18446744073709551615, -100.75, -1e300, 'a', '1999-12-31 23:59:59', 'aa'),"
                       "(5, 100, 100, 100, 1e-3, 'B', '2024-01-09 11:59:59', 'c')"));
        const ResultSet rs = select("SELECT * FROM sorted");
        auto w = grid(rs);
        // Ids in ascending order, column by column (descending is the reverse): NULL (id 3) first.
        const QStringList ascending{"i 3,4,2,1,5", "u 3,2,1,5,4", "d 3,4,2,1,5", "f 3,4,5,2,1", "t 3,1,2,4,5",
                                    "dt 3,4,5,2,1", "b 3,1,4,2,5"};
        for (int col = 1; col <= ascending.size(); ++col) {
            QString expected = ascending.at(col - 1);
            for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
                w->findChild<QTableView*>("table")->sortByColumn(col, order);
                QCOMPARE(rs.columns.at(col) + ' ' + column(w->proxyModel(), 0).join(','), expected);
                std::reverse(expected.begin() + expected.indexOf(' ') + 1, expected.end());
            }
        }
    }

    void oddValuesAndNamesSurviveExport()
    {
        NEED_DB();
        const ResultSet rs = select(
            "SELECT NULL AS n, 'say \"hi\"; ok' AS q, X'00010203FF' AS bin, "
            "CONCAT('a', CHAR(1), 'b', CHAR(13, 10), 'c') AS ctrl, 1 AS `COUNT(*)`, 2 AS `1st`, 3 AS `a b`, "
            "'M\xC3\xBCller <&> \"x\"' AS `M\xC3\xBCller`, 4 AS `x:y`, 5 AS ``, 6 AS `\xD0\xB8\xD0\xBC\xD1\x8F`, 7 AS `say \"so\"`");
        const QStringList names = {"n", "q", "bin", "ctrl", "COUNT(*)", "1st", "a b", QString::fromUtf8("Müller"),
                                   "x:y", "", QString::fromUtf8("имя"), "say \"so\""};
        QCOMPARE(rs.columns, names);
        auto w = grid(rs);
        QStringList shown;
        for (int c = 0; c < names.size(); ++c)
            shown << w->resultModel()->text(0, c);
        // NULL as "(null)"; bytes of a binary column shown whole, zero bytes included.
        QCOMPARE(shown.mid(0, 3), (QStringList{"(null)", "say \"hi\"; ok",
                                               QString::fromUtf8("\0\1\2\3", 4) + QChar(QChar::ReplacementCharacter)}));

        // CSV: header texts escaped like cells; every cell back as shown.
        const QString csv = dir.filePath("odd.csv"), xml = dir.filePath("odd.xml");
        QVERIFY(w->exportCsv(csv) && w->exportXml(xml));
        QCOMPARE(readBack(csv).rows, (QList<QStringList>{names, shown}));

        // XML: well-formed; every column's original name kept; control
        // characters as control pictures, CR kept, the rest unchanged.
        const ReadBack back = readBack(xml);
        QCOMPARE(back.names, QList<QStringList>{names});
        QStringList expected = shown;
        expected[2] = QString::fromUtf8("\u2400\u2401\u2402\u2403\uFFFD");
        expected[3] = QString::fromUtf8("a\u2401b\r\nc");
        QCOMPARE(back.rows, QList<QStringList>{expected});
        const QByteArray bytes = bytesOf(xml);
        QVERIFY(bytes.contains("<COUNT___ name=\"COUNT(*)\">1</COUNT___>") && bytes.contains("<_1st name=\"1st\">2</_1st>"));

        // Lone surrogates and the two non-characters cannot go into XML either.
        QCOMPARE(ExportWriter::xmlText(QString(QChar(0xD800)) + QChar(0xFFFE) + "x" + QChar(0xDC00)),
                 QString::fromUtf8("\uFFFD\uFFFDx\uFFFD"));
        QCOMPARE(ExportWriter::xmlText(QString::fromUtf8("\U0001F600")), QString::fromUtf8("\U0001F600"));
    }

    void profileMode()
    {
        NEED_DB();
        QVERIFY(QSqlQuery(conn).exec("SET profiling = 1") && QSqlQuery(conn).exec("SELECT COUNT(*) FROM seq_1_to_10000"));
        ResultSet rs = select("SHOW PROFILE");
        QVERIFY(rs.rowCount() > 3);
        rs.rows.append({QStringLiteral("Added by hand"), QVariant(1.5e-05)});   // printed with an exponent by the driver
        auto w = grid(rs, true);
        for (int r = 0; r < rs.rowCount(); ++r)
            QVERIFY2(QRegularExpression("^\\d+\\.\\d{6}$").match(w->resultModel()->text(r, 1)).hasMatch(),
                     qPrintable(w->resultModel()->text(r, 1)));
        QCOMPARE(w->resultModel()->text(rs.rowCount() - 1, 1), QString("0.000015"));
        QCOMPARE(w->delegate()->barColumn, 1);
    }

    void failedWriteIsReportedAndKeepsEverything()
    {
        // A folder in the way fails only when the written file should replace it: reported with the path and
        // the system's reason, no temporary file left, the grid as it was.
        QTemporaryDir base;
        QVERIFY(QDir(base.path()).mkdir("out"));
        const QString path = base.filePath("out");
        auto w = grid(handMade({"a"}, {QMetaType::Int}, {{1}, {2}}));
        QVERIFY(w->findChild<QLabel*>("lbStatus")->text().endsWith("Rows - 2"));   // no size from the driver: counted
        for (const bool csv : {true, false}) {
            QVERIFY(!(csv ? w->exportCsv(path) : w->exportXml(path)));
            std::unique_ptr<QMessageBox> box(w->findChild<QMessageBox*>("exportErrorBox"));
            QVERIFY(box);
            const QStringList lines = box->text().split('\n');   // the path, then the system's reason
            QVERIFY2(lines.size() == 2 && lines.first() == QDir::toNativeSeparators(path) && lines.at(1).size() > 3,
                     qPrintable(box->text()));
        }
        QCOMPARE(QDir(base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"out"});
        QCOMPARE(w->proxyModel()->rowCount(), 2);
    }

    void megabyteValue()
    {
        const QString huge(1 << 20, QLatin1Char('x'));
        auto w = grid(handMade({"id", "value"}, {QMetaType::Int, QMetaType::QString}, {{1, huge}, {2, "short"}}));
        QTableView* table = w->findChild<QTableView*>("table");
        QCOMPARE(table->columnWidth(1), int(ResponseWidget::maxColumnWidth));
        const QModelIndex cell = w->proxyModel()->index(0, 1);
        QVERIFY(cell.data(Qt::ToolTipRole).toString().size() < 900 && cell.data(Qt::ToolTipRole).toString().endsWith("[...]"));

        // Longer than the cell has pixels: overflowing without measuring it,
        // even when its characters have no width at all.
        QVERIFY(TableButtonDelegate::textOverflows(QString(5000, QChar(0x200B)), table->font(), 400));
        QVERIFY(TableButtonDelegate::shownText(huge, table->font(), 400).size() <= 400);

        // The cell's button opens the whole value.
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QRect rect = table->visualRect(cell);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(rect.right() - 5, rect.center().y()));
        auto* viewer = w->findChild<DataViewerWidget*>();
        QVERIFY(viewer && viewer->isModal() && viewer->text() == huge);
        // A word of a megabyte wraps anywhere (at word boundaries it takes minutes).
        QCOMPARE(viewer->findChild<QPlainTextEdit*>("dataViewer")->wordWrapMode(), QTextOption::WrapAnywhere);
        viewer->close();

        // The export button writes where its dialog says.
        const QString path = dir.filePath("button.xml");
        QTimer::singleShot(0, [&] {   // at once: the dialog's folder model must not load first
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        w->findChild<QPushButton*>("btnExport")->click();
        QVERIFY(bytesOf(path).startsWith("<?xml"));
    }
};

QTEST_MAIN(TestResultGrid)
#include "tst_resultgrid.moc"
