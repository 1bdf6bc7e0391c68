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
// 5 percent of max, 6 rows, 7 received, 8 sent. Statements 7 and 8 failed.
QStandardItemModel* sessionLikeModel(QObject* parent, const QString& firstText = "select * from users")
{
    const QList<QPair<QString, double>> statements = {
        {firstText, 0.25}, {"SELECT1 FROM dual", 1.0}, {"INSERT INTO users VALUES (1, 'a')", 12.7},
        {"CREATE TABLE logs (id INT)", 3.0}, {"/* init */ CREATE TABLE tmp (id INT)", 2.0},
        {"SELECT * FROM t WHERE note = 'INSERT INTO x'", 0.5}, {"UPDATE users SET name = 'b'", 4.0},
        {"SELECT * FROM missing_users", 0.75}, {"SHOW TABLES", 0.1}, {"DESCRIBE\tusers", 0.2}};
    auto* m = new QStandardItemModel(0, 9, parent);
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
    void filterModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("all") << 0 << QString() << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        // Lower-case select passes; SELECT1 does not (a digit, not white
        // space); a tab counts as white space.
        QTest::newRow("read") << 1 << QString() << QList<int>{1, 6, 8, 9, 10};
        // CREATE only at the very start; INSERT followed by a blank anywhere.
        QTest::newRow("write") << 2 << QString() << QList<int>{3, 4, 6, 7};
        QTest::newRow("errors") << 3 << QString() << QList<int>{7, 8};
        QTest::newRow("errors with keyword") << 3 << QString("missing") << QList<int>{8};
        QTest::newRow("read with keyword, other case") << 1 << QString("USERS") << QList<int>{1, 8, 10};
    }
    void filterModes()
    {
        QFETCH(int, mode);
        QFETCH(QString, keyword);
        QFETCH(QList<int>, expected);
        SortFilterProxyModel proxy;
        proxy.setSourceModel(sessionLikeModel(this));
        proxy.applyMode(mode, keyword, 1);
        QList<int> shown;
        for (int r = 0; r < proxy.rowCount(); ++r)
            shown << proxy.index(r, 0).data().toInt();
        QCOMPARE(shown, expected);
    }

    void exportRowsInViewOrder()
    {
        SortFilterProxyModel proxy;
        proxy.setSourceModel(sessionLikeModel(this, "select \"quoted\" from users"));
        proxy.sort(0, Qt::DescendingOrder);
        proxy.applyMode(1, QString());
        const QList<QStringList> rows = ExportDialog::collectRows(&proxy, ExportDialog::sessionFields());
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows.at(0).at(0), QString("10"));
        // The one-line text, not the markup, with double quotes doubled;
        // milliseconds with three decimals below 1 ms, none from 1 ms.
        const QString dp = QLocale::system().decimalPoint();
        QCOMPARE(rows.last(), (QStringList{"1", "select \"\"quoted\"\" from users", "0" + dp + "250", "12" + dp + "5",
                                           "40", "10", "1" + dp + "5", "0" + dp + "125"}));
        proxy.clearFilter();
        QCOMPARE(ExportDialog::collectRows(&proxy, ExportDialog::sessionFields()).at(7).at(2), QString("13")); // 12.7
    }

    void csvAndXmlFiles()
    {
        QTemporaryDir dir;
        const QString csv = dir.filePath("two.csv"), xml = dir.filePath("s.xml");
        const QString muller = QString::fromUtf8("SELECT 'Müller'");
        const QList<QStringList> rows = {{"1", muller, "1"}, {"2", "SELECT ;", "0"}};
        // Checked captions only (their quotes doubled), every value quoted, locale encoding, no BOM.
        QVERIFY(ExportDialog::writeCSV(csv, {"Say \"so\"", "Statement", "Rows"}, rows, {true, true, false}));
        QCOMPARE(readAll(csv), QTextCodec::codecForLocale()->fromUnicode(
                                   "\"Say \"\"so\"\"\";\"Statement\"\n\"1\";\"" + muller + "\"\n\"2\";\"SELECT ;\"\n"));
        // Writing again replaces the file instead of appending; a note (what the
        // rows leave out) comes first.
        QVERIFY(ExportDialog::writeCSV(csv, {"Number", "Statement", "Rows"}, rows.mid(1), {false, false, true},
                                       nullptr, "first 5 statements\nreleased"));
        QCOMPARE(readAll(csv), QByteArray("# first 5 statements released\n\"Rows\"\n\"0\"\n"));

        const QString text = QString::fromUtf8("SELECT a<b && c>d FROM \"\"t\"\" WHERE n='Müller'");
        QVERIFY(ExportDialog::writeXML(xml, "Session", {"Number", "Sql_query", "Rows"}, {{"1", text, "3"}},
                                       {true, true, false}));
        QCOMPARE(readAll(xml), QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Session>\n"
                                          "  <Query>\n    <Number>1</Number>\n    <Sql_query>SELECT a&lt;b &amp;&amp; "
                                          "c&gt;d FROM \"\"t\"\" WHERE n='M\xC3\xBCller'</Sql_query>\n  </Query>\n"
                                          "</Session>\n"));
        QVERIFY(ExportDialog::writeXML(xml, "Session", {"Rows"}, {{"3"}}, {true}, nullptr, "a -- <b>"));
        QCOMPARE(readAll(xml), QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- a - - &lt;b&gt; -->\n"
                                          "<Session>\n  <Query>\n    <Rows>3</Rows>\n  </Query>\n</Session>\n"));
    }

    void failedWriteKeepsEarlierFile()
    {
        // A write that fails half-way (file size limit, which binds root too)
        // leaves an earlier export as it was and no temporary file behind.
        QTemporaryDir dir;
        const QString path = dir.filePath("keep.csv");
        QVERIFY(ExportDialog::writeCSV(path, {"A"}, {{"old"}}, {true}));
        const QList<QStringList> big = QVector<QStringList>(200, QStringList{QString(100, 'x')}).toList();
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 4096;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        QString error;
        const bool csvWritten = ExportDialog::writeCSV(path, {"A"}, big, {true}, &error);
        const bool xmlWritten = ExportDialog::writeXML(path, "Flow", {"A"}, big, {true});
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!csvWritten && !xmlWritten && !error.isEmpty());
        QCOMPARE(readAll(path), QByteArray("\"A\"\n\"old\"\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.csv"});
    }

    void dialogFieldsTypeAndErrors()
    {
        QTemporaryDir dir;
        ExportDialog dlg(nullptr, {"Number", "Statement"}, {"Number", "Sql_query"},
                         {{"1", "SELECT 1"}, {"2", "SELECT 2"}}, dir.filePath("0000042.csv"), "Session");
        auto* list = dlg.findChild<QListWidget*>("lwFields");
        auto* pbExport = dlg.findChild<QPushButton*>("pbExport");
        const auto check = [&](int i, Qt::CheckState state) {
            list->item(i)->setCheckState(state);
            dlg.on_lwFields_itemClicked(list->item(i));
        };
        // The export button needs at least one field.
        check(0, Qt::Unchecked);
        check(1, Qt::Unchecked);
        QVERIFY(!pbExport->isEnabled());
        check(1, Qt::Checked);
        QVERIFY(pbExport->isEnabled());

        // The file name's extension follows the type; only checked fields are written.
        dlg.findChild<QRadioButton*>("rbXml")->setChecked(true);
        QCOMPARE(dlg.currentPath(), dir.filePath("0000042.xml"));
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
        QVERIFY(failing.isVisible() && failing.result() != int(QDialog::Accepted));
        auto* box = failing.findChild<QMessageBox*>("exportErrorBox");
        QVERIFY(box && box->text().contains(QDir::toNativeSeparators(bad)));
        QVERIFY(!QFile::exists(bad));
        box->accept();
    }
};

QTEST_MAIN(TestFilterExport)
#include "tst_filterexport.moc"
