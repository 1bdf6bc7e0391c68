// Reading SQL text: statements of a script, scripts that only read, server
// versions offering JSON EXPLAIN, and the analyzer's text table and address.
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
        QTest::addColumn<QString>("statements");   // joined by " | "
        const char* const rows[][3] = {
            {"no semicolon: as typed", "  SELECT 1\n  FROM  dual \n", "  SELECT 1\n  FROM  dual \n"},
            {"trailing empty rest", "SELECT 1;SELECT 2;", "SELECT 1 | SELECT 2"},
            {"pieces trimmed, empty skipped", " SELECT 1 ; ;\n\n SELECT 2 ", "SELECT 1 | SELECT 2"},
            {"breaks and blanks kept", "INSERT INTO t VALUES ('a  b\n  c');\nSELECT  1",
             "INSERT INTO t VALUES ('a  b\n  c') | SELECT  1"},
            {"single quotes", "SELECT ';'; SELECT 2", "SELECT ';' | SELECT 2"},
            {"apostrophe in double quotes", "SELECT \"it's;\"; SELECT 'x'", "SELECT \"it's;\" | SELECT 'x'"},
            {"backslash escape", "SELECT 'a\\';b'; SELECT 2", "SELECT 'a\\';b' | SELECT 2"},
            {"doubled quote", "SELECT 'a'';b'; SELECT \"c\"\";d\"", "SELECT 'a'';b' | SELECT \"c\"\";d\""},
            {"backtick: doubled, no backslash", "SELECT 1 AS `a;``b\\`; SELECT 2", "SELECT 1 AS `a;``b\\` | SELECT 2"},
            {"dash comment to the line end", "SELECT 1 -- one; two\n; SELECT 2", "SELECT 1 -- one; two | SELECT 2"},
            {"dashes without blank are minus", "SELECT 1--1; SELECT 2", "SELECT 1--1 | SELECT 2"},
            {"hash comment", "SELECT 1 # a;b\n; SELECT 2", "SELECT 1 # a;b | SELECT 2"},
            {"block comment", "SELECT /* a;b */ 1; SELECT 2", "SELECT /* a;b */ 1 | SELECT 2"},
            {"comment-only pieces left out", "SELECT 1; -- done\n/* end */", "SELECT 1"},
            {"executable comment", "/*!40101 SET NAMES utf8 */; SELECT 1", "/*!40101 SET NAMES utf8 */ | SELECT 1"},
            {"unterminated quote", "SELECT 'a; SELECT 2", "SELECT 'a; SELECT 2"},
            {"quoted semicolon only: as typed", " SELECT ';' ", " SELECT ';' "},
            {"blank", " \n\t", ""},
            {"comment only", "-- nothing", ""}};
        for (const auto& r : rows)
            QTest::newRow(r[0]) << r[1] << r[2];
    }
    void split()
    {
        QFETCH(QString, text);
        QFETCH(QString, statements);
        QCOMPARE(splitStatements(text), statements.isEmpty() ? QStringList() : statements.split(" | "));
    }

    void predicates_data()
    {
        QTest::addColumn<bool>("version");   // a server version (offers JSON EXPLAIN?), else a script (only reads?)
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("yes");
        const auto rows = [](bool version, bool yes, const QStringList& texts) {
            for (const QString& t : texts)
                QTest::newRow(qPrintable((version ? "version " : "") + t)) << version << t << yes;
        };
        rows(false, true, {"SELECT * FROM t", "  select 1", "-- note\n/* c */ SELECT 1", "(SELECT 1) UNION (SELECT 2)",
                           "SHOW PROCESSLIST", "EXPLAIN DELETE FROM t", "DESCRIBE t", "desc t", "HELP 'select'", "TABLE t",
                           "VALUES (1), (2)", "WITH c AS (SELECT 1) SELECT * FROM c",
                           "WITH RECURSIVE c(n) AS (SELECT 1 UNION SELECT n + 1 FROM c WHERE n < 3) SELECT n FROM c",
                           "SELECT 1; SELECT 2", "EXPLAIN ANALYZE SELECT 1", ""});
        rows(false, false, {"WITH c AS (SELECT 1) DELETE FROM t", "WITH c AS (SELECT 1) UPDATE t SET a = 1",
                            "SELECT * INTO OUTFILE '/tmp/x' FROM t", "SELECT 1 INTO @x", "EXPLAIN ANALYZE DELETE FROM t",
                            "EXPLAIN ANALYZE FORMAT=JSON UPDATE t SET a = 1", "DELETE FROM t", "UPDATE t SET a = 'SELECT'",
                            "INSERT INTO t SELECT * FROM u", "DROP TABLE t", "SET @a = 1", "CALL p()", "DO SLEEP(1)",
                            "ANALYZE TABLE t", "/*!50000 DROP TABLE t */", "SELECT 1; DELETE FROM t",
                            "-- SELECT\nDELETE FROM t", "'SELECT'"});
        // MariaDB from 10.1 (also behind "5.5.5-"), MySQL and Percona from 5.6.5.
        rows(true, true, {"10.11.6-MariaDB (debian-linux-gnu)", "10.1.0-MariaDB", "5.5.5-10.3.39-MariaDB",
                          "11.4.2-MariaDB-ubu2404", "5.6.5-m8", "5.7.44-log", "8.0.36", "5.6.51-91.0"});
        rows(true, false, {"10.0.38-MariaDB-log", "5.5.68-MariaDB", "5.6.4-m7-log", "5.5.62", "5.5.61-38.13-log", "None", ""});
    }
    void predicates()
    {
        QFETCH(bool, version);
        QFETCH(QString, text);
        QFETCH(bool, yes);
        QCOMPARE(version ? ServerVersion::parse(text).supportsJsonExplain() : isReadOnlyScript(text), yes);
    }

    void analyzerTableAndAddress()
    {
        // Columns by name, extra ones left out.
        ResultSet plan;
        plan.columns = QStringList{"id", "select_type", "table", "partitions", "type", "possible_keys", "key",
                                   "key_len", "ref", "rows", "filtered", "Extra"};
        plan.rows = {{1, "SIMPLE", "t", QVariant(), "ALL", QVariant(), QVariant(), QVariant(), QVariant(), 3, 100.0,
                      "Using where; a+b&c=d|%"}};
        const QString table = ExplainAnalyzer::textTable(plan);
        QCOMPARE(table, QStringLiteral("+\n|id|select_type|table|type|possible_keys|key|key_len|ref|rows|Extra|\n"
                                       "+\n|1|SIMPLE|t|ALL|||||3|Using where; a+b&c=d|%|\n"));
        // Every byte outside the unreserved set encoded: no raw '+', '&', '|' or blank.
        const QUrl url = ExplainAnalyzer::url(plan);
        const QString query = url.query(QUrl::FullyEncoded);
        QVERIFY2(query.startsWith("raw_explain=%2B%0A%7Cid%7C") && query.endsWith("&client=Quarvel"), qPrintable(query));
        QVERIFY(!query.section('&', 0, 0).contains(QRegularExpression("[+| ]")));
        QCOMPARE(QUrlQuery(url).queryItemValue("raw_explain", QUrl::FullyDecoded), table);
    }
};

QTEST_GUILESS_MAIN(TestSqlScript)
#include "tst_sqlscript.moc"
