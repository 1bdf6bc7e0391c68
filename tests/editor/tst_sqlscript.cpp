// Reading SQL text: statements of a script, statements that only read, the
// server versions that offer JSON EXPLAIN, and the analyzer's text table and
// its encoding in the address.
#include "ExplainAnalyzer.h"
#include "ResultSet.h"
#include "SqlScript.h"

#include <QUrlQuery>
#include <QtTest>

using namespace SqlScript;

class TestSqlScript : public QObject
{
    Q_OBJECT
private slots:
    void split_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("statements");

        QTest::newRow("no semicolon: as typed") << "  SELECT 1\n  FROM  dual \n" << QStringList{"  SELECT 1\n  FROM  dual \n"};
        QTest::newRow("two, trailing empty rest") << "SELECT 1;SELECT 2;" << QStringList{"SELECT 1", "SELECT 2"};
        QTest::newRow("pieces trimmed, empty skipped") << " SELECT 1 ; ;\n\n SELECT 2 " << QStringList{"SELECT 1", "SELECT 2"};
        QTest::newRow("line breaks and runs of blanks kept")
            << "INSERT INTO t VALUES ('a  b\n  c');\nSELECT  1"
            << QStringList{"INSERT INTO t VALUES ('a  b\n  c')", "SELECT  1"};
        QTest::newRow("semicolon in single quotes") << "SELECT ';'; SELECT 2" << QStringList{"SELECT ';'", "SELECT 2"};
        QTest::newRow("apostrophe inside double quotes") << "SELECT \"it's;\"; SELECT 'x'"
                                                          << QStringList{"SELECT \"it's;\"", "SELECT 'x'"};
        QTest::newRow("backslash-escaped quote") << "SELECT 'a\\';b'; SELECT 2" << QStringList{"SELECT 'a\\';b'", "SELECT 2"};
        QTest::newRow("doubled quote") << "SELECT 'a'';b'; SELECT \"c\"\";d\"" << QStringList{"SELECT 'a'';b'", "SELECT \"c\"\";d\""};
        QTest::newRow("backtick, doubled, no backslash escape")
            << "SELECT 1 AS `a;``b\\`; SELECT 2" << QStringList{"SELECT 1 AS `a;``b\\`", "SELECT 2"};
        QTest::newRow("dash comment kept, ends at the line")
            << "SELECT 1 -- one; two\n; SELECT 2" << QStringList{"SELECT 1 -- one; two", "SELECT 2"};
        QTest::newRow("dashes without blank are minus") << "SELECT 1--1; SELECT 2" << QStringList{"SELECT 1--1", "SELECT 2"};
        QTest::newRow("hash comment") << "SELECT 1 # a;b\n; SELECT 2" << QStringList{"SELECT 1 # a;b", "SELECT 2"};
        QTest::newRow("block comment") << "SELECT /* a;b */ 1; SELECT 2" << QStringList{"SELECT /* a;b */ 1", "SELECT 2"};
        QTest::newRow("comment-only pieces left out") << "SELECT 1; -- done\n/* end */" << QStringList{"SELECT 1"};
        QTest::newRow("executable comment is a statement")
            << "/*!40101 SET NAMES utf8 */; SELECT 1" << QStringList{"/*!40101 SET NAMES utf8 */", "SELECT 1"};
        QTest::newRow("unterminated quote swallows the rest") << "SELECT 'a; SELECT 2" << QStringList{"SELECT 'a; SELECT 2"};
        QTest::newRow("only a quoted semicolon: as typed") << " SELECT ';' " << QStringList{" SELECT ';' "};
        QTest::newRow("blank text") << " \n\t" << QStringList{};
        QTest::newRow("comment only") << "-- nothing" << QStringList{};
    }

    void split()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, statements);
        QCOMPARE(splitStatements(text), statements);
    }

    void readOnly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("readOnly");
        const QStringList reading{
            "SELECT * FROM t", "  select 1", "-- note\n/* c */ SELECT 1", "(SELECT 1) UNION (SELECT 2)", "SHOW PROCESSLIST",
            "EXPLAIN DELETE FROM t", "DESCRIBE t", "desc t", "HELP 'select'", "TABLE t", "VALUES (1), (2)",
            "WITH c AS (SELECT 1) SELECT * FROM c",
            "WITH RECURSIVE c(n) AS (SELECT 1 UNION SELECT n + 1 FROM c WHERE n < 3) SELECT n FROM c",
            "SELECT 1; SELECT 2", "EXPLAIN ANALYZE SELECT 1", ""};
        const QStringList changing{
            "WITH c AS (SELECT 1) DELETE FROM t", "WITH c AS (SELECT 1) UPDATE t SET a = 1",
            "SELECT * INTO OUTFILE '/tmp/x' FROM t", "SELECT 1 INTO @x", "EXPLAIN ANALYZE DELETE FROM t",
            "EXPLAIN ANALYZE FORMAT=JSON UPDATE t SET a = 1", "DELETE FROM t", "UPDATE t SET a = 'SELECT'",
            "INSERT INTO t SELECT * FROM u", "DROP TABLE t", "SET @a = 1", "CALL p()", "DO SLEEP(1)", "ANALYZE TABLE t",
            "/*!50000 DROP TABLE t */", "SELECT 1; DELETE FROM t", "-- SELECT\nDELETE FROM t", "'SELECT'"};
        for (const QString& t : reading)
            QTest::newRow(qPrintable(t)) << t << true;
        for (const QString& t : changing)
            QTest::newRow(qPrintable(t)) << t << false;
    }

    void readOnly()
    {
        QFETCH(QString, text);
        QFETCH(bool, readOnly);
        QCOMPARE(isReadOnlyScript(text), readOnly);
    }

    void jsonExplainByVersion_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("json");
        // MariaDB from 10.1 (also behind "5.5.5-"), MySQL and Percona from 5.6.5.
        for (const char* v : {"10.11.6-MariaDB (debian-linux-gnu)", "10.1.0-MariaDB", "5.5.5-10.3.39-MariaDB",
                              "11.4.2-MariaDB-ubu2404", "5.6.5-m8", "5.7.44-log", "8.0.36", "5.6.51-91.0"})
            QTest::newRow(v) << v << true;
        for (const char* v : {"10.0.38-MariaDB-log", "5.5.68-MariaDB", "5.6.4-m7-log", "5.5.62", "5.5.61-38.13-log", "None", ""})
            QTest::newRow(v) << v << false;
    }

    void jsonExplainByVersion()
    {
        QFETCH(QString, version);
        QFETCH(bool, json);
        QCOMPARE(ServerVersion::parse(version).supportsJsonExplain(), json);
    }

    void analyzerTableAndAddress()
    {
        ResultSet plan;
        // Columns as the server names them, extra ones ignored, order by name.
        plan.columns = QStringList{"id", "select_type", "table", "partitions", "type", "possible_keys", "key",
                                   "key_len", "ref", "rows", "filtered", "Extra"};
        plan.rows = {{1, "SIMPLE", "t", QVariant(), "ALL", QVariant(), QVariant(), QVariant(), QVariant(), 3, 100.0,
                      "Using where; a+b&c=d|%"}};
        const QString table = ExplainAnalyzer::textTable(plan);
        QCOMPARE(table, QStringLiteral("+\n|id|select_type|table|type|possible_keys|key|key_len|ref|rows|Extra|\n"
                                       "+\n|1|SIMPLE|t|ALL|||||3|Using where; a+b&c=d|%|\n"));
        const QUrl url = ExplainAnalyzer::url(plan);
        const QString query = url.query(QUrl::FullyEncoded);
        // Every byte outside the unreserved set is encoded: no raw '+', '&', '|' or blank.
        QVERIFY2(query.startsWith("raw_explain=%2B%0A%7Cid%7C") && query.endsWith("&client=Quarvel"), qPrintable(query));
        QVERIFY(!query.section('&', 0, 0).contains(QRegularExpression("[+| ]")));
        QCOMPARE(QUrlQuery(url).queryItemValue("raw_explain", QUrl::FullyDecoded), table);
    }
};

QTEST_GUILESS_MAIN(TestSqlScript)
#include "tst_sqlscript.moc"
