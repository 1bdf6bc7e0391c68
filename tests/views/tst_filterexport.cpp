// Filtering of statement lists and their export to CSV and XML.
#include "ExportDialog.h"
#include "SortFilterProxyModel.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <sys/resource.h>

namespace {

// A statement table laid out as the session view's: 0 number, 1 status,
// 2 statement (user role = one-line text, display = markup), 3 ms, 4 share,
// 5 percent of max, 6 rows, 7 received, 8 sent.
QStandardItemModel* sessionLikeModel(QObject* parent, const QString& firstText = "select * from users")
{
    const QList<QPair<QString, double>> statements = {
        {firstText, 0.25},                                   // 1
        {"SELECT1 FROM dual", 1.0},                          // 2
        {"INSERT INTO users VALUES (1, 'a')", 12.7},         // 3
        {"CREATE TABLE logs (id INT)", 3.0},                 // 4
        {"/* init */ CREATE TABLE tmp (id INT)", 2.0},       // 5
        {"SELECT * FROM t WHERE note = 'INSERT INTO x'", 0.5},  // 6
        {"UPDATE users SET name = 'b'", 4.0},                // 7: error
        {"SELECT * FROM missing_users", 0.75},               // 8: error
        {"SHOW TABLES", 0.1},                                // 9
        {"DESCRIBE\tusers", 0.2},                            // 10
    };
    auto* m = new QStandardItemModel(0, 9, parent);
    m->setHorizontalHeaderLabels({"#", "", "Statement", "ms", "% time", "% max", "Rows", "Get", "Sent"});
    for (int n = 1; n <= statements.size(); ++n) {
        const QString text = statements.at(n - 1).first;
        const QVariantList values = {n, n == 7 || n == 8 ? "no" : "yes", "<b>" + text.toHtmlEscaped() + "</b>",
                                     statements.at(n - 1).second, 12.5, 40, n * 10, 1.5, 0.125};
        QList<QStandardItem*> row;
        for (const QVariant& v : values) {
            row << new QStandardItem;
            row.last()->setData(v, Qt::EditRole);
        }
        row[2]->setData(text, Qt::UserRole);
        m->appendRow(row);
    }
    return m;
}

QList<int> visibleNumbers(const QAbstractItemModel* proxy)
{
    QList<int> out;
    for (int r = 0; r < proxy->rowCount(); ++r)
        out << proxy->index(r, 0).data().toInt();
    return out;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestFilterExport : public QObject
{
    Q_OBJECT

private slots:
    void filterModes_data();
    void filterModes();
    void refilterStatusColumnAndLateRows();
    void exportRowsInViewOrderAndFormats();
    void csvAndXmlFiles();
    void failedWritesLeaveNothingBehind();
    void dialogFieldsTypeAndErrors();
};

void TestFilterExport::filterModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("all") << 0 << QString() << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    // Lower-case select passes (case-insensitive pattern); SELECT1 does not
    // (a digit instead of white space); a tab counts as white space.
    QTest::newRow("read") << 1 << QString() << QList<int>{1, 6, 8, 9, 10};
    // CREATE only at the very start; INSERT followed by a blank anywhere.
    QTest::newRow("write") << 2 << QString() << QList<int>{3, 4, 6, 7};
    QTest::newRow("errors") << 3 << QString() << QList<int>{7, 8};
    QTest::newRow("errors with keyword") << 3 << QString("missing") << QList<int>{8};
    QTest::newRow("read with keyword, other case") << 1 << QString("USERS") << QList<int>{1, 8, 10};
}

void TestFilterExport::filterModes()
{
    QFETCH(int, mode);
    QFETCH(QString, keyword);
    QFETCH(QList<int>, expected);
    SortFilterProxyModel proxy;
    proxy.setSourceModel(sessionLikeModel(this));
    proxy.applyMode(mode, keyword, 1);
    QCOMPARE(visibleNumbers(&proxy), expected);
}

void TestFilterExport::refilterStatusColumnAndLateRows()
{
    QStandardItemModel* model = sessionLikeModel(this);
    SortFilterProxyModel proxy;
    proxy.setSourceModel(model);
    proxy.applyMode(3, "missing", 1);
    proxy.clearFilter();
    QCOMPARE(proxy.rowCount(), 10);
    // Fields written directly by an owner take effect once it re-filters;
    // rows appended later are filtered too.
    proxy.onlyErrors = true;
    proxy.setFilterRegExp(QString());
    model->appendRow({new QStandardItem("11"), new QStandardItem("no")});
    model->appendRow({new QStandardItem("12"), new QStandardItem("yes")});
    QCOMPARE(visibleNumbers(&proxy), (QList<int>{7, 8, 11}));

    // The flow keeps its status in column 2; the last column is never read
    // as statement text.
    QStandardItemModel flow(0, 3);
    for (const char* status : {"yes", "no"}) {
        flow.appendRow({new QStandardItem("1"), new QStandardItem, new QStandardItem(status)});
        flow.item(flow.rowCount() - 1, 2)->setData("SELECT 1", Qt::UserRole);
    }
    proxy.setSourceModel(&flow);
    proxy.applyMode(3, QString(), 2);
    QCOMPARE(proxy.rowCount(), 1);
    QCOMPARE(proxy.index(0, 2).data().toString(), QString("no"));
    proxy.applyMode(1, QString(), 2);   // other modes: column 1 again, no text
    QCOMPARE(proxy.statusColumn, 1);
    QCOMPARE(proxy.rowCount(), 0);
}

void TestFilterExport::exportRowsInViewOrderAndFormats()
{
    SortFilterProxyModel proxy;
    proxy.setSourceModel(sessionLikeModel(this, "select \"quoted\" from users"));
    proxy.sort(0, Qt::DescendingOrder);
    proxy.applyMode(1, QString());
    const QList<ExportField> fields = ExportDialog::sessionFields();
    const QList<QStringList> rows = ExportDialog::collectRows(&proxy, fields);
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows.at(0).at(0), QString("10"));
    // The one-line text, not the markup, with double quotes doubled;
    // milliseconds with three decimals below 1 ms, none from 1 ms; others 'g'.
    const QString dp = QLocale::system().decimalPoint();
    QCOMPARE(rows.last(), (QStringList{"1", "select \"\"quoted\"\" from users", "0" + dp + "250", "12" + dp + "5",
                                       "40", "10", "1" + dp + "5", "0" + dp + "125"}));
    QCOMPARE(ExportDialog::collectCaptions(&proxy, fields),
             (QStringList{"#", "Statement", "ms", "% time", "% max", "Rows", "Get", "Sent"}));
    QCOMPARE(ExportDialog::fieldKeys(fields), (QStringList{"Number", "Sql_query", "Time_ms", "Time_proc",
                                                           "Longest_proc", "Rows", "Get_Kb", "Sent_Kb"}));
    proxy.clearFilter();
    QCOMPARE(ExportDialog::collectRows(&proxy, fields).at(7).at(2), QString("13"));   // 12.7 ms
    QCOMPARE(ExportDialog::collectRows(&proxy, fields).at(8).at(2), QString("1"));

    // The flow: 0 number, 1 session, 2 status, 3 statement, 4 ms, 5 received, 6 rows.
    QStandardItemModel flow(0, 9);
    flow.setHorizontalHeaderLabels({"#", "Session", "", "Statement", "ms", "Get", "Rows", "", ""});
    flow.appendRow({new QStandardItem("5"), new QStandardItem("0000012"), new QStandardItem("yes"),
                    new QStandardItem("<b>x</b>"), new QStandardItem, new QStandardItem, new QStandardItem("7")});
    flow.item(0, 3)->setData("SELECT \"x\"", Qt::UserRole);
    flow.item(0, 4)->setData(0.0004, Qt::EditRole);
    flow.item(0, 5)->setData(2.25, Qt::EditRole);
    proxy.setSourceModel(&flow);
    const QList<ExportField> flowFields = ExportDialog::flowFields();
    QCOMPARE(ExportDialog::fieldKeys(flowFields),
             (QStringList{"Number", "Number_session", "Sql_query", "Time_ms", "Get_Kb", "Rows"}));
    QCOMPARE(ExportDialog::collectCaptions(&proxy, flowFields), (QStringList{"#", "Session", "Statement", "ms", "Get", "Rows"}));
    QCOMPARE(ExportDialog::collectRows(&proxy, flowFields).first(),
             (QStringList{"5", "0000012", "SELECT \"\"x\"\"", "0" + dp + "000", "2" + dp + "25", "7"}));
}

void TestFilterExport::csvAndXmlFiles()
{
    QTemporaryDir dir;
    const QString csv = dir.filePath("two.csv");
    const QString muller = QString::fromUtf8("SELECT 'Müller'");
    const QList<QStringList> rows = {{"1", muller, "1"}, {"2", "SELECT ;", "0"}};
    QVERIFY(ExportDialog::writeCSV(csv, {"Number", "Statement", "Rows"}, rows, {true, true, false}));
    // Checked captions only, every value quoted, locale encoding, no BOM.
    QCOMPARE(readAll(csv), QTextCodec::codecForLocale()->fromUnicode(
                               "\"Number\";\"Statement\"\n\"1\";\"" + muller + "\"\n\"2\";\"SELECT ;\"\n"));
    // Writing again replaces the file instead of appending.
    QVERIFY(ExportDialog::writeCSV(csv, {"Number", "Statement", "Rows"}, rows.mid(1), {false, false, true}));
    QCOMPARE(readAll(csv), QByteArray("\"Rows\"\n\"0\"\n"));
    // A caption holding a double quote keeps the file readable.
    QVERIFY(ExportDialog::writeCSV(csv, {"Say \"so\""}, {{"1"}}, {true}));
    QCOMPARE(readAll(csv), QByteArray("\"Say \"\"so\"\"\"\n\"1\"\n"));

    const QString xml = dir.filePath("s.xml");
    const QList<QStringList> xmlRows = {{"1", QString::fromUtf8("SELECT a<b && c>d FROM \"\"t\"\" WHERE n='Müller'"), "3"},
                                        {"2", QString("SELECT '\x01x'"), "0"}};
    QVERIFY(ExportDialog::writeXML(xml, "Session", {"Number", "Sql_query", "Rows"}, xmlRows, {true, true, false}));
    QCOMPARE(readAll(xml), QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Session>\n"
                                      "  <Query>\n    <Number>1</Number>\n    <Sql_query>SELECT a&lt;b &amp;&amp; "
                                      "c&gt;d FROM \"\"t\"\" WHERE n='M\xC3\xBCller'</Sql_query>\n  </Query>\n"
                                      "  <Query>\n    <Number>2</Number>\n    <Sql_query>SELECT '\xE2\x90\x81x'</Sql_query>\n"
                                      "  </Query>\n</Session>\n"));
}

void TestFilterExport::failedWritesLeaveNothingBehind()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("no/such/folder/x.csv");
    QString error;
    QVERIFY(!ExportDialog::writeCSV(missing, {"A"}, {{"1"}}, {true}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!ExportDialog::writeXML(missing, "Flow", {"A"}, {{"1"}}, {true}));
    QVERIFY(!QFile::exists(missing));
    QVERIFY(!ExportDialog::writeCSV(dir.path(), {"A"}, {{"1"}}, {true}));   // a folder
    QVERIFY(!ExportDialog::writeCSV(QString(), {"A"}, {{"1"}}, {true}));

    // A write that fails half-way (file size limit, which binds root too)
    // leaves an earlier export as it was, not truncated.
    const QString path = dir.filePath("keep.csv");
    QVERIFY(ExportDialog::writeCSV(path, {"A"}, {{"old"}}, {true}));
    QList<QStringList> big;
    for (int i = 0; i < 200; ++i)
        big << QStringList{QString(100, 'x')};
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool csvWritten = ExportDialog::writeCSV(path, {"A"}, big, {true});
    const bool xmlWritten = ExportDialog::writeXML(path, "Flow", {"A"}, big, {true});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!csvWritten && !xmlWritten);
    QCOMPARE(readAll(path), QByteArray("\"A\"\n\"old\"\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.csv"});
}

void TestFilterExport::dialogFieldsTypeAndErrors()
{
    QTemporaryDir dir;
    ExportDialog dlg(nullptr, {"Number", "Statement"}, {"Number", "Sql_query"},
                     {{"1", "SELECT 1"}, {"2", "SELECT 2"}}, dir.filePath("0000042.csv"), "Session");
    auto* list = dlg.findChild<QListWidget*>("lwFields");
    auto* pbExport = dlg.findChild<QPushButton*>("pbExport");
    // Every field starts checked; the export button needs at least one.
    for (int i : {0, 1}) {
        QCOMPARE(list->item(i)->checkState(), Qt::Checked);
        list->item(i)->setCheckState(Qt::Unchecked);
        dlg.on_lwFields_itemClicked(list->item(i));
    }
    QVERIFY(!pbExport->isEnabled());
    list->item(1)->setCheckState(Qt::Checked);
    dlg.on_lwFields_itemClicked(list->item(1));
    QVERIFY(pbExport->isEnabled());

    // The file name's extension follows the type.
    dlg.findChild<QRadioButton*>("rbXml")->setChecked(true);
    QCOMPARE(dlg.findChild<QLineEdit*>("lePath")->text(), dir.filePath("0000042.xml"));
    dlg.findChild<QRadioButton*>("rbCsv")->setChecked(true);
    QCOMPARE(dlg.currentPath(), dir.filePath("0000042.csv"));
    dlg.findChild<QRadioButton*>("rbXml")->setChecked(true);
    QTest::mouseClick(pbExport, Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!QFile::exists(dir.filePath("0000042.csv")));
    const QByteArray xml = readAll(dir.filePath("0000042.xml"));
    QVERIFY(xml.contains("<Session>\n  <Query>\n    <Sql_query>SELECT 1</Sql_query>\n  </Query>\n"));
    QVERIFY(!xml.contains("<Number>"));

    // An unwritable place is reported; the dialog stays open.
    const QString bad = dir.filePath("missing/folder/flow.csv");
    ExportDialog failing(nullptr, {"A"}, {"A"}, {{"1"}}, bad, "Flow");
    failing.show();
    QTest::mouseClick(failing.findChild<QPushButton*>("pbExport"), Qt::LeftButton);
    QVERIFY(failing.isVisible());
    QVERIFY(failing.result() != int(QDialog::Accepted));
    auto* box = failing.findChild<QMessageBox*>("exportErrorBox");
    QVERIFY(box && box->text().contains(QDir::toNativeSeparators(bad)));
    box->accept();
}

QTEST_MAIN(TestFilterExport)
#include "tst_filterexport.moc"
