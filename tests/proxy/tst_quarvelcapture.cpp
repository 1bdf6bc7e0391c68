// quarvel-capture as a user runs it: a real client through it, the printed
// lines, the summary at SIGINT/SIGTERM, and its failures.
#include "ProxyTestUtil.h"
#include "Settings.h"
#include "languageEngine.h"

#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {
QString programPath()
{
    return binaryDir() + QStringLiteral("/app/quarvel-capture");
}

/// A running quarvel-capture whose output is collected as it comes.
struct Capture
{
    QProcess process;
    QString out;
    QString err;

    void start(const QStringList& args)
    {
        process.start(programPath(), args);
    }
    void collect()
    {
        out += QString::fromUtf8(process.readAllStandardOutput());
        err += QString::fromUtf8(process.readAllStandardError());
    }
    bool waitListening()
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000) {
            collect();
            if (err.contains(QStringLiteral("listening on")))
                return true;
            if (process.state() == QProcess::NotRunning)
                return false;
            QTest::qWait(20);
        }
        return false;
    }
    /// Statement lines (those that do not start with "#").
    QList<QStringList> statements() const
    {
        QList<QStringList> rows;
        for (const QString& line : out.split(QLatin1Char('\n')))
            if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')) && line.count(QLatin1Char('\t')) == 9)
                rows << line.split(QLatin1Char('\t'));
        return rows;
    }
    /// The value of a "# name<TAB>value" summary line, or an empty string.
    QString summaryValue(const QString& name) const
    {
        for (const QString& line : out.split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("# ") + name + QLatin1Char('\t')))
                return line.section(QLatin1Char('\t'), 1);
        return QString();
    }
    int stop(int sig)
    {
        ::kill(pid_t(process.processId()), sig);
        if (!process.waitForFinished(30000))
            return -100;
        collect();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    ~Capture()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
};

QStringList serverArgs(const TestDb& db, quint16 port)
{
    return {QStringLiteral("--server"), db.host + QLatin1Char(':') + QString::number(db.port), QStringLiteral("--port"),
            QString::number(port), QStringLiteral("--user"), db.user, QStringLiteral("--password"), db.password};
}
} // namespace

class TestQuarvelCapture : public QObject
{
    Q_OBJECT
private slots:
    void clientThroughCapture();
    void quietWithoutStatistics();
    void badOptions_data();
    void badOptions();
    void unreachableServer();
    void portInUseWithoutStatistics();
    void help();
};

void TestQuarvelCapture::clientThroughCapture()
{
    REQUIRE_TESTDB(db);
    const quint16 port = freePort();
    Capture c;
    c.start(serverArgs(db, port));
    QVERIFY2(c.waitListening(), qPrintable(c.err));
    QVERIFY(c.err.contains(QStringLiteral("10.11")));

    const QStringList sent{QStringLiteral("SELECT 1"), QStringLiteral("SELECT seq FROM seq_1_to_3"),
                           QStringLiteral("SELECT * FROM no_such_table"),
                           QStringLiteral("SELECT 'two\nlines' AS t"), QStringLiteral("SELECT 1")};
    int code = -1;
    QString clientErrors;
    const QString answer = db.runClient(sent.join(QStringLiteral(";\n")) + QStringLiteral(";\n"),
                                        {QStringLiteral("--force"), db.database}, &code, port);
    QVERIFY(code == 0 || code == 1); // --force goes on after the failing statement
    QVERIFY2(answer.contains(QStringLiteral("1\n2\n3\n")), qPrintable(answer));

    QTRY_VERIFY_WITH_TIMEOUT((c.collect(), c.out.contains(QStringLiteral(" closed: "))), 20000);
    const QList<QStringList> rows = c.statements();
    QStringList texts;
    for (const QStringList& r : rows)
        texts << r[9];
    QCOMPARE(texts, (QStringList{QStringLiteral("SELECT 1"), QStringLiteral("SELECT seq FROM seq_1_to_3"),
                                 QStringLiteral("SELECT * FROM no_such_table"),
                                 QStringLiteral("SELECT 'two lines' AS t"), QStringLiteral("SELECT 1")}));
    for (const QStringList& r : rows) {
        QVERIFY2(QDateTime::fromString(r[0], QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).isValid(), qPrintable(r[0]));
        QCOMPARE(r[1], QStringLiteral("0000001"));
        QCOMPARE(r[2], db.user);
        QCOMPARE(r[3], db.database);
        bool ok = false;
        QVERIFY(r[4].toDouble(&ok) >= 0 && ok);
        QVERIFY(r[6].toDouble(&ok) >= 0 && ok);
        QVERIFY(r[7].toDouble(&ok) > 0 && ok); // every request has bytes
    }
    // rows and error flags
    QCOMPARE(rows[0][5], QStringLiteral("1"));
    QCOMPARE(rows[1][5], QStringLiteral("3"));
    QCOMPARE(rows[2][8], QStringLiteral("1"));
    QCOMPARE(rows[0][8], QStringLiteral("0"));
    QCOMPARE(rows[1][8], QStringLiteral("0"));
    // the answer of three rows is larger than that of one
    QVERIFY(rows[1][6].toDouble() > rows[0][6].toDouble());
    QVERIFY(c.out.contains(QStringLiteral("# session 0000001 opened: user ") + db.user));

    QCOMPARE(c.stop(SIGINT), 0);
    QCOMPARE(c.summaryValue(QStringLiteral("sessions")), QStringLiteral("1"));
    QCOMPARE(c.summaryValue(QStringLiteral("statements")), QStringLiteral("5"));
    QCOMPARE(c.summaryValue(QStringLiteral("errors")), QStringLiteral("1"));
    // the most frequent statement first, with its count
    const QStringList lines = c.out.split(QLatin1Char('\n'));
    const int head = lines.indexOf(QRegularExpression(QStringLiteral("^# most frequent statements.*")));
    QVERIFY(head >= 0);
    const QStringList first = lines.value(head + 1).split(QLatin1Char('\t'));
    QCOMPARE(first.size(), 4);
    QCOMPARE(first[0], QStringLiteral("2"));
    QCOMPARE(first[3], QStringLiteral("SELECT 1"));
    const double total = first[1].toDouble();
    // figures are printed with three decimals
    QVERIFY(qAbs(first[2].toDouble() - total / 2) <= 0.0011);
    QVERIFY(qAbs(total - (rows[0][4].toDouble() + rows[4][4].toDouble())) <= 0.0021);
}

void TestQuarvelCapture::quietWithoutStatistics()
{
    REQUIRE_TESTDB(db);
    const quint16 port = freePort();
    Capture c;
    // relay and capture only: no statistics connection
    c.start(serverArgs(db, port) << QStringLiteral("--quiet") << QStringLiteral("--no-stats"));
    QVERIFY2(c.waitListening(), qPrintable(c.err));
    for (int i = 0; i < 2; ++i) {
        int code = -1;
        db.runClient(QStringLiteral("SELECT 1;\nDO 2;\n"), {}, &code, port);
        QCOMPARE(code, 0);
    }
    // stopped right after the clients ended: the last statements still count
    QCOMPARE(c.stop(SIGTERM), 0);
    QVERIFY(c.statements().isEmpty());
    QVERIFY(!c.out.contains(QStringLiteral("opened")));
    QCOMPARE(c.summaryValue(QStringLiteral("sessions")), QStringLiteral("2"));
    QCOMPARE(c.summaryValue(QStringLiteral("statements")), QStringLiteral("4"));
    QCOMPARE(c.summaryValue(QStringLiteral("errors")), QStringLiteral("0"));
}

void TestQuarvelCapture::badOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("unknown") << QStringList{"--colour"} << "--colour";
    QTest::newRow("port") << QStringList{"--port", "70000"} << "70000";
    QTest::newRow("server") << QStringList{"--server", "db:x"} << "db:x";
    QTest::newRow("missing value") << QStringList{"--user"} << "--user";
}

void TestQuarvelCapture::badOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, mentions);
    QProcess p;
    p.start(programPath(), args);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains(mentions), qPrintable(err));
    QVERIFY(err.contains(QStringLiteral("--help")));
    QVERIFY(p.readAllStandardOutput().isEmpty());
}

void TestQuarvelCapture::unreachableServer()
{
    REQUIRE_TESTDB(db);
    const quint16 dead = freePort();
    const quint16 port = freePort();
    QProcess p;
    p.start(programPath(), {QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(dead), QStringLiteral("--port"),
                            QString::number(port), QStringLiteral("--user"), db.user});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 1);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    // the language text of the failed connection, and the driver's reason
    Settings settings;
    languageEngine le(&settings);
    QVERIFY(le.loadLanguage(settings.Language));
    QVERIFY2(err.contains(le.errors(QStringLiteral("mysql_conn_error"))), qPrintable(err));
    QVERIFY2(err.contains(QStringLiteral("server 127.0.0.1:%1: ").arg(dead)), qPrintable(err));
    QVERIFY(!err.contains(QStringLiteral("listening")));
}

void TestQuarvelCapture::portInUseWithoutStatistics()
{
    REQUIRE_TESTDB(db);
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    QProcess p;
    p.start(programPath(), {QStringLiteral("--server"), db.host + QLatin1Char(':') + QString::number(db.port),
                            QStringLiteral("--port"), QString::number(occupant.serverPort()), QStringLiteral("--no-stats")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 1);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains(QString::number(occupant.serverPort())), qPrintable(err));
}

void TestQuarvelCapture::help()
{
    QProcess p;
    p.start(programPath(), {QStringLiteral("--help")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY(out.startsWith(QStringLiteral("Usage: quarvel-capture")));
    QVERIFY(out.contains(QStringLiteral("--no-stats")));
}

QTEST_GUILESS_MAIN(TestQuarvelCapture)
#include "tst_quarvelcapture.moc"
