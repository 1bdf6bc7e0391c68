// Reading SQL text: statements of a script, statements that only read, the
// server versions that offer JSON EXPLAIN, and the analyzer's text table.
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
    void split_data();
    void split();
    void readOnly_data();
    void readOnly();
    void jsonExplainByVersion_data();
    void jsonExplainByVersion();
    void utf8Length();
    void analyzerTableAndAddress();
};

void TestSqlScript::split_data()
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

void TestSqlScript::split()
{
    QFETCH(QString, text);
    QFETCH(QStringList, statements);
    QCOMPARE(splitStatements(text), statements);
}

void TestSqlScript::readOnly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("readOnly");
    const QList<QPair<const char*, bool>> cases = {
        {"SELECT * FROM t", true},
        {"  select 1", true},
        {"-- note\n/* c */ SELECT 1", true},
        {"(SELECT 1) UNION (SELECT 2)", true},
        {"SHOW PROCESSLIST", true},
        {"EXPLAIN DELETE FROM t", true},
        {"DESCRIBE t", true},
        {"desc t", true},
        {"HELP 'select'", true},
        {"TABLE t", true},
        {"VALUES (1), (2)", true},
        {"WITH c AS (SELECT 1) SELECT * FROM c", true},
        {"WITH RECURSIVE c(n) AS (SELECT 1 UNION SELECT n + 1 FROM c WHERE n < 3) SELECT n FROM c", true},
        {"SELECT 1; SELECT 2", true},
        {"EXPLAIN ANALYZE SELECT 1", true},
        {"WITH c AS (SELECT 1) DELETE FROM t", false},
        {"WITH c AS (SELECT 1) UPDATE t SET a = 1", false},
        {"SELECT * INTO OUTFILE '/tmp/x' FROM t", false},
        {"SELECT 1 INTO @x", false},
        {"EXPLAIN ANALYZE DELETE FROM t", false},
        {"EXPLAIN ANALYZE FORMAT=JSON UPDATE t SET a = 1", false},
        {"DELETE FROM t", false},
        {"UPDATE t SET a = 'SELECT'", false},
        {"INSERT INTO t SELECT * FROM u", false},
        {"DROP TABLE t", false},
        {"SET @a = 1", false},
        {"CALL p()", false},
        {"DO SLEEP(1)", false},
        {"ANALYZE TABLE t", false},
        {"/*!50000 DROP TABLE t */", false},
        {"SELECT 1; DELETE FROM t", false},
        {"-- SELECT\nDELETE FROM t", false},
        {"'SELECT'", false},
        {"", true},
    };
    for (const auto& c : cases)
        QTest::newRow(c.first) << QString::fromUtf8(c.first) << c.second;
}

void TestSqlScript::readOnly()
{
    QFETCH(QString, text);
    QFETCH(bool, readOnly);
    QCOMPARE(isReadOnlyScript(text), readOnly);
}

void TestSqlScript::jsonExplainByVersion_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("json");
    QTest::newRow("MariaDB 10.11") << "10.11.6-MariaDB (debian-linux-gnu)" << true;
    QTest::newRow("MariaDB 10.1") << "10.1.0-MariaDB" << true;
    QTest::newRow("MariaDB 10.0") << "10.0.38-MariaDB-log" << false;
    QTest::newRow("MariaDB 5.5") << "5.5.68-MariaDB" << false;
    QTest::newRow("MariaDB behind 5.5.5-") << "5.5.5-10.3.39-MariaDB" << true;
    QTest::newRow("MariaDB 11") << "11.4.2-MariaDB-ubu2404" << true;
    QTest::newRow("MySQL 5.6.5") << "5.6.5-m8" << true;
    QTest::newRow("MySQL 5.6.4") << "5.6.4-m7-log" << false;
    QTest::newRow("MySQL 5.5") << "5.5.62" << false;
    QTest::newRow("MySQL 5.7") << "5.7.44-log" << true;
    QTest::newRow("MySQL 8.0") << "8.0.36" << true;
    QTest::newRow("Percona 5.6") << "5.6.51-91.0" << true;
    QTest::newRow("Percona 5.5") << "5.5.61-38.13-log" << false;
    QTest::newRow("unknown") << "None" << false;
    QTest::newRow("empty") << "" << false;
}

void TestSqlScript::jsonExplainByVersion()
{
    QFETCH(QString, version);
    QFETCH(bool, json);
    QCOMPARE(ServerVersion::parse(version).supportsJsonExplain(), json);
}

void TestSqlScript::utf8Length()
{
    const QString text = QStringLiteral("a\u00e4\u20ac") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("\n");
    QCOMPARE(SqlScript::utf8Length(text), qint64(text.toUtf8().size()));
    QCOMPARE(SqlScript::utf8Length(text), qint64(1 + 2 + 3 + 4 + 1));
    QCOMPARE(SqlScript::utf8Length(QString()), qint64(0));
}

void TestSqlScript::analyzerTableAndAddress()
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

    qputenv("QUARVEL_EXPLAIN_ANALYZER_URL", "http://127.0.0.1:9/base/");
    const QUrl url = ExplainAnalyzer::url(plan);
    qunsetenv("QUARVEL_EXPLAIN_ANALYZER_URL");
    QCOMPARE(url.toString(QUrl::RemoveQuery), QStringLiteral("http://127.0.0.1:9/base/explain_analyzer/api/1/"));
    const QString query = url.query(QUrl::FullyEncoded);
    // Every byte outside the unreserved set is encoded: no raw '+', '&', '|' or blank.
    QVERIFY2(query.startsWith("raw_explain=%2B%0A%7Cid%7C") && query.endsWith("&client=Quarvel"), qPrintable(query));
    QVERIFY(!query.section('&', 0, 0).contains(QRegularExpression("[+| ]")));
    QCOMPARE(QUrlQuery(url).queryItemValue("raw_explain", QUrl::FullyDecoded), table);
    QCOMPARE(ExplainAnalyzer::url(plan).host(), QUrl(ExplainAnalyzer::baseAddress()).host());
}

QTEST_GUILESS_MAIN(TestSqlScript)
#include "tst_sqlscript.moc"
