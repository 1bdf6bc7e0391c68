// Command line and printed output of quarvel-capture, without a server.
#include "CaptureOptions.h"
#include "CaptureReport.h"
#include "Settings.h"

#include <QtTest>

class TestCaptureOptions : public QObject
{
    Q_OBJECT
private slots:
    void server_data();
    void server();
    void goodCommandLine();
    void badCommandLine_data();
    void badCommandLine();
    void applyKeepsWhatWasNotGiven();
    void applyServerWithoutPort();
    void helpNamesEveryOption();

    void oneLine_data();
    void oneLine();
    void statementLineColumns();
    void summaryCountsAndTop();
    void topOrderOnEqualCounts();
    void emptySummary();
};

void TestCaptureOptions::server_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port"); // -1: none given
    QTest::newRow("host and port") << "db.example.org:3307" << true << "db.example.org" << 3307;
    QTest::newRow("host alone") << "127.0.0.1" << true << "127.0.0.1" << -1;
    QTest::newRow("ipv6 with port") << "[::1]:3306" << true << "::1" << 3306;
    QTest::newRow("ipv6 alone") << "[fe80::1]" << true << "fe80::1" << -1;
    QTest::newRow("bare ipv6") << "::1" << false << "" << -1;
    QTest::newRow("no host") << ":3306" << false << "" << -1;
    QTest::newRow("empty port") << "localhost:" << false << "" << -1;
    QTest::newRow("port zero") << "localhost:0" << false << "" << -1;
    QTest::newRow("port too big") << "localhost:65536" << false << "" << -1;
    QTest::newRow("port not a number") << "localhost:abc" << false << "" << -1;
    QTest::newRow("unclosed bracket") << "[::1:3306" << false << "" << -1;
    QTest::newRow("junk after bracket") << "[::1]x" << false << "" << -1;
}

void TestCaptureOptions::server()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QString, host);
    QFETCH(int, port);
    QString h;
    std::optional<quint16> p;
    QCOMPARE(CaptureOptions::splitServer(text, &h, &p), ok);
    if (!ok)
        return;
    QCOMPARE(h, host);
    QCOMPARE(p.has_value(), port >= 0);
    if (port >= 0)
        QCOMPARE(int(*p), port);
}

void TestCaptureOptions::goodCommandLine()
{
    CaptureOptions o;
    QString error;
    QVERIFY2(o.parse({"--server", "10.0.0.5:3310", "--port=4141", "--user", "bob", "--password=", "--quiet",
                      "--no-stats", "--all-interfaces"},
                     &error),
             qPrintable(error));
    QCOMPARE(*o.host, QStringLiteral("10.0.0.5"));
    QCOMPARE(int(*o.serverPort), 3310);
    QCOMPARE(int(*o.profilerPort), 4141);
    QCOMPARE(*o.user, QStringLiteral("bob"));
    QVERIFY(o.password.has_value());
    QVERIFY(o.password->isEmpty());
    QVERIFY(o.quiet);
    QVERIFY(o.noStats);
    QVERIFY(o.allInterfaces);
    QVERIFY(!o.help);

    CaptureOptions none;
    QVERIFY(none.parse({}, &error));
    QVERIFY(!none.host && !none.profilerPort && !none.user && !none.password && !none.quiet);

    CaptureOptions help;
    QVERIFY(help.parse({"-h"}, &error));
    QVERIFY(help.help);
}

void TestCaptureOptions::badCommandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "--frobnicate";
    QTest::newRow("missing value") << QStringList{"--port"} << "--port";
    QTest::newRow("port not a number") << QStringList{"--port", "forty"} << "forty";
    QTest::newRow("port zero") << QStringList{"--port", "0"} << "0";
    QTest::newRow("bad server") << QStringList{"--server", "host:99999"} << "host:99999";
    QTest::newRow("stray argument") << QStringList{"localhost"} << "localhost";
    QTest::newRow("flag with value") << QStringList{"--quiet=yes"} << "--quiet";
    QTest::newRow("empty user") << QStringList{"--user="} << "--user";
}

void TestCaptureOptions::badCommandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QString, mentions);
    CaptureOptions o;
    QString error;
    QVERIFY(!o.parse(args, &error));
    QVERIFY2(error.contains(mentions), qPrintable(error));
}

void TestCaptureOptions::applyKeepsWhatWasNotGiven()
{
    Profile p;
    p.Host = QStringLiteral("dbhost");
    p.Port = 3311;
    p.User = QStringLiteral("alice");
    p.Password = QStringLiteral("secret");
    p.ProfilerPort = 4040;
    p.InteractPassword = true;
    CaptureOptions o;
    QString error;
    QVERIFY(o.parse({"--port", "5050", "--user", "bob"}, &error));
    o.applyTo(&p);
    QCOMPARE(p.Host, QStringLiteral("dbhost"));
    QCOMPARE(p.Port, 3311u);
    QCOMPARE(p.User, QStringLiteral("bob"));
    QCOMPARE(p.Password, QStringLiteral("secret"));
    QCOMPARE(p.ProfilerPort, 5050u);
    QVERIFY(!p.NetworkConnections);
    QVERIFY(!p.InteractPassword);
}

void TestCaptureOptions::applyServerWithoutPort()
{
    Profile p;
    p.Port = 3399;
    p.ConnectionMethod = 1;
    CaptureOptions o;
    QString error;
    QVERIFY(o.parse({"--server", "db2"}, &error));
    o.applyTo(&p);
    QCOMPARE(p.Host, QStringLiteral("db2"));
    QCOMPARE(p.Port, 3306u);
    QCOMPARE(p.ConnectionMethod, 0);
}

void TestCaptureOptions::helpNamesEveryOption()
{
    const QString help = CaptureOptions::helpText();
    for (const char* opt : {"--server", "--port", "--user", "--password", "--no-stats", "--quiet", "--help",
                            "--all-interfaces", "--socket", "SIGINT", "Exit codes"})
        QVERIFY2(help.contains(QLatin1String(opt)), opt);
}

void TestCaptureOptions::oneLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("line");
    QTest::newRow("plain") << "SELECT 1" << "SELECT 1";
    QTest::newRow("line breaks") << "SELECT a,\r\n  b\nFROM t" << "SELECT a, b FROM t";
    QTest::newRow("tabs") << "SELECT\t1\t\t+ 2" << "SELECT 1 + 2";
    QTest::newRow("ends") << "  \n SELECT 1 \t\n" << "SELECT 1";
    QTest::newRow("empty") << "" << "";
}

void TestCaptureOptions::oneLine()
{
    QFETCH(QString, text);
    QFETCH(QString, line);
    QCOMPARE(CaptureReport::oneLine(text), line);
}

void TestCaptureOptions::statementLineColumns()
{
    CapturedStatement s;
    s.finishedAt = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 42));
    s.session = 12;
    s.user = QStringLiteral("quarvel");
    s.database = QStringLiteral("shop");
    s.durationMs = 1.5;
    s.rows = 3;
    s.kbReceived = 0.25;
    s.kbSent = 1.0 / 1024 * 40;
    s.error = true;
    s.text = QStringLiteral("SELECT *\n\tFROM t");
    const QStringList cols = CaptureReport::statementLine(s).split(QLatin1Char('\t'));
    QCOMPARE(cols, (QStringList{"2024-03-05 14:07:09.042", "0000012", "quarvel", "shop", "1.500", "3", "0.250",
                                "0.039", "1", "SELECT * FROM t"}));
    s.error = false;
    s.database.clear();
    const QStringList cols2 = CaptureReport::statementLine(s).split(QLatin1Char('\t'));
    QCOMPARE(cols2.size(), 10);
    QCOMPARE(cols2[3], QString());
    QCOMPARE(cols2[8], QStringLiteral("0"));
}

void TestCaptureOptions::summaryCountsAndTop()
{
    CaptureReport r;
    r.addSession();
    r.addSession();
    const auto add = [&](const QString& text, double ms, bool error = false) {
        CapturedStatement s;
        s.text = text;
        s.durationMs = ms;
        s.error = error;
        r.addStatement(s);
    };
    // 12 distinct statements; the one written with a line break is the same statement
    for (int i = 0; i < 5; ++i)
        add(QStringLiteral("SELECT 1"), 2.0);
    add(QStringLiteral("SELECT\n1"), 4.0);
    for (int i = 0; i < 3; ++i)
        add(QStringLiteral("UPDATE t SET a=1"), 10.0, i == 0);
    for (int i = 0; i < 11; ++i)
        add(QStringLiteral("DO %1").arg(i), 1.0);
    QCOMPARE(r.sessions(), 2);
    QCOMPARE(r.statements(), qint64(20));
    QCOMPARE(r.errors(), qint64(1));
    QCOMPARE(r.meanDurationMs(), (6 * 2.0 - 2.0 + 4.0 + 30.0 + 11.0) / 20);

    const QList<CaptureReport::Entry> top = r.top(10);
    QCOMPARE(top.size(), 10);
    QCOMPARE(top[0].text, QStringLiteral("SELECT 1"));
    QCOMPARE(top[0].count, qint64(6));
    QCOMPARE(top[0].totalMs, 14.0);
    QCOMPARE(top[1].text, QStringLiteral("UPDATE t SET a=1"));
    QCOMPARE(top[1].count, qint64(3));

    const QString summary = r.summary();
    QVERIFY(summary.contains(QStringLiteral("# sessions\t2\n")));
    QVERIFY(summary.contains(QStringLiteral("# statements\t20\n")));
    QVERIFY(summary.contains(QStringLiteral("# errors\t1\n")));
    QVERIFY(summary.contains(QStringLiteral("\n6\t14.000\t2.333\tSELECT 1\n")));
    QVERIFY(summary.contains(QStringLiteral("\n3\t30.000\t10.000\tUPDATE t SET a=1\n")));
    // ten statement lines, no more
    int rows = 0;
    for (const QString& line : summary.split(QLatin1Char('\n')))
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            ++rows;
    QCOMPARE(rows, 10);
}

void TestCaptureOptions::topOrderOnEqualCounts()
{
    CaptureReport r;
    const auto add = [&](const QString& text, double ms) {
        CapturedStatement s;
        s.text = text;
        s.durationMs = ms;
        r.addStatement(s);
    };
    add(QStringLiteral("B"), 1);
    add(QStringLiteral("A"), 1);
    add(QStringLiteral("C"), 5);
    const QList<CaptureReport::Entry> top = r.top(10);
    QCOMPARE(top.size(), 3);
    QCOMPARE(top[0].text, QStringLiteral("C"));
    QCOMPARE(top[1].text, QStringLiteral("A"));
    QCOMPARE(top[2].text, QStringLiteral("B"));
}

void TestCaptureOptions::emptySummary()
{
    CaptureReport r;
    QCOMPARE(r.meanDurationMs(), 0.0);
    QVERIFY(r.top(10).isEmpty());
    QVERIFY(r.summary().contains(QStringLiteral("# statements\t0\n")));
}

QTEST_APPLESS_MAIN(TestCaptureOptions)
#include "tst_captureoptions.moc"
