// Statement patterns: literals replaced, lists collapsed, comments, blanks and
// keyword case normalised; the tables a pattern names.
#include <QtTest>

#include "Fingerprint.h"

class TstFingerprint : public QObject
{
    Q_OBJECT
private slots:
    void pattern_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("pattern");
        const auto row = [](const char* name, const QString& in, const QString& out) {
            QTest::newRow(name) << in << out;
        };
        QStringList thousand;
        for (int i = 0; i < 1000; ++i)
            thousand << QString::number(i * 7);
        row("strings", "SELECT * FROM t WHERE a = 'x' AND b = \"y\" AND c = ''", "SELECT * FROM t WHERE a = ? AND b = ? AND c = ?");
        row("quotes inside strings", R"(SELECT 'O''Brien', "it's", 'say "hi"', "a""b")", "SELECT ?, ?, ?, ?");
        row("escaped quotes", R"(UPDATE t SET v = 'it\'s \\' WHERE k = "x\"y")", "UPDATE t SET v = ? WHERE k = ?");
        row("comment marks inside a string", "SELECT 'a -- b /* c # d' FROM t", "SELECT ? FROM t");
        row("numbers", "SELECT 1, 2.5, .5, 1e3, 1.5E-3, 7e+2 FROM t", "SELECT ?, ?, ?, ?, ?, ? FROM t");
        row("hex and bits", "SELECT 0x1F, X'1f', x'AB', 0b101, b'11', B'0', N'abc', _utf8mb4'z'", "SELECT ?, ?, ?, ?, ?, ?, ?, ?");
        row("negative numbers", "SELECT -1, - 2 FROM t WHERE a = -5.5 AND b IN (-1) AND c > +3", "SELECT ?, ? FROM t WHERE a = ? AND b IN (...) AND c > ?");
        row("subtraction stays", "UPDATE t SET x = x - 1, y = y-2, z = (z)-3", "UPDATE t SET x = x - ?, y = y-?, z = (z)-?");
        row("NULL TRUE FALSE stay", "select a from t where b is null and c = true and d <> False", "SELECT a FROM t WHERE b IS NULL AND c = TRUE AND d <> FALSE");
        row("unterminated string", "SELECT 'abc", "SELECT ?");
        row("IN of one, of strings", "SELECT c FROM t WHERE id IN (5) OR k in ( 'a' , 'b' )", "SELECT c FROM t WHERE id IN (...) OR k IN (...)");
        row("IN of 1000", "SELECT c FROM t WHERE id IN (" + thousand.join(',') + ")", "SELECT c FROM t WHERE id IN (...)");
        row("IN with a sub-query stays", "SELECT c FROM t WHERE id IN (SELECT id FROM u WHERE x = 1)", "SELECT c FROM t WHERE id IN (SELECT id FROM u WHERE x = ?)");
        row("IN with NULL stays", "SELECT c FROM t WHERE id IN (1, NULL)", "SELECT c FROM t WHERE id IN (?, NULL)");
        row("multi-row VALUES", "INSERT INTO t (a, b) VALUES (1,'x'),(2,'y'), (3, 'z')", "INSERT INTO t (a, b) VALUES (?, ?)");
        row("single-row VALUE", "insert into t value (1, 'x')", "INSERT INTO t VALUE (?, ?)");
        row("VALUES rows that differ stay", "INSERT INTO t VALUES (1, NOW()), (2, 'x'), (3, 'y')", "INSERT INTO t VALUES (?, NOW()), (?, ?)");
        row("VALUES rows with calls", "INSERT INTO t VALUES (1, NOW()), (2, now())", "INSERT INTO t VALUES (?, NOW())");
        row("parenthesis after VALUES rows", "INSERT INTO t VALUES (1),(2) ON DUPLICATE KEY UPDATE a = VALUES(a)", "INSERT INTO t VALUES (?) ON DUPLICATE KEY UPDATE a = VALUES(a)");
        // prepared statements fall into the text form's pattern
        row("prepared", "SELECT c FROM sbtest1 WHERE id=?", "SELECT c FROM sbtest1 WHERE id=?");
        row("text form of the prepared", "SELECT c FROM sbtest1 WHERE id=5021", "SELECT c FROM sbtest1 WHERE id=?");
        row("prepared IN list", "DELETE FROM t WHERE id IN (?, ?, ?)", "DELETE FROM t WHERE id IN (...)");
        row("comments dropped", "SELECT /* hint */ a -- why\nFROM t # end\n WHERE b = 1", "SELECT a FROM t WHERE b = ?");
        row("comment between words", "SELECT a/**/FROM t", "SELECT a FROM t");
        row("executable comments kept", "SELECT /*!40001 SQL_NO_CACHE */ * FROM t /*M!100100 LIMIT 5 */", "SELECT /*!40001 SQL_NO_CACHE */ * FROM t /*M!100100 LIMIT 5 */");
        row("double minus without a blank", "SELECT 1--5", "SELECT ?-?");
        row("blanks", "\n SELECT\ta ,b,\r\n  c   FROM  t ;; ", "SELECT a, b, c FROM t");
        row("keyword case", "Select Name, count(*) From Users Where ID = 1 group by Name", "SELECT Name, COUNT(*) FROM Users WHERE ID = ? GROUP BY Name");
        row("qualified names keep case", "SELECT t.select, @@session.Autocommit FROM db1.t", "SELECT t.select, @@session.Autocommit FROM db1.t");
        row("backquoted names", "SELECT `select`, `My Col`, `a``b` FROM `order` WHERE `1` = 1", "SELECT `select`, `My Col`, `a``b` FROM `order` WHERE `1` = ?");
        row("non-ASCII", QString::fromUtf8("SELECT ä FROM Tabellé WHERE név = 'árvíztűrő' AND 名前 = \"値\""), QString::fromUtf8("SELECT ä FROM Tabellé WHERE név = ? AND 名前 = ?"));
        row("nothing to do", "SELECT t1.a1, 123abc FROM t1 JOIN t2 ON t1.id = t2.id WHERE a IS NOT NULL", "SELECT t1.a1, 123abc FROM t1 JOIN t2 ON t1.id = t2.id WHERE a IS NOT NULL");
        row("operator spacing kept", "SELECT a FROM t WHERE a>=1 AND b <=> 2", "SELECT a FROM t WHERE a>=? AND b <=> ?");
        row("empty", "", "");
        row("sysbench range", "SELECT DISTINCT c FROM sbtest3 WHERE id BETWEEN 4931 AND 5030 ORDER BY c", "SELECT DISTINCT c FROM sbtest3 WHERE id BETWEEN ? AND ? ORDER BY c");
    }

    void pattern()
    {
        QFETCH(QString, statement);
        QFETCH(QString, pattern);
        QCOMPARE(Fingerprint::of(statement), pattern);
        QCOMPARE(Fingerprint::of(pattern), pattern); // a pattern is its own pattern
    }

    void tables_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QStringList>("tables");
        QTest::newRow("select join") << "SELECT a FROM orders o JOIN `order items` i ON o.id = i.o" << QStringList{"orders", "order items"};
        QTest::newRow("comma join, database") << "select * from shop.a as x, `shop`.`b` y where x.id = 1" << QStringList{"shop.a", "shop.b"};
        QTest::newRow("update insert delete") << "INSERT IGNORE INTO log SELECT * FROM src" << QStringList{"log", "src"};
        QTest::newRow("delete modifiers") << "DELETE LOW_PRIORITY QUICK FROM t1 WHERE id = 2" << QStringList{"t1"};
        QTest::newRow("sub-query") << "SELECT * FROM (SELECT id FROM inner_t) d" << QStringList{"inner_t"};
        QTest::newRow("order by desc is no table") << "SELECT a FROM t ORDER BY a DESC, b DESC LIMIT 1" << QStringList{"t"};
        QTest::newRow("none") << "SET autocommit = 0" << QStringList{};
    }

    void tables()
    {
        QFETCH(QString, statement);
        QFETCH(QStringList, tables);
        QCOMPARE(Fingerprint::tables(Fingerprint::of(statement)), tables);
    }
};

QTEST_APPLESS_MAIN(TstFingerprint)
#include "tst_fingerprint.moc"
