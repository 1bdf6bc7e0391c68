// End to end: real clients talk to the test server through the relay and
// decoder of the session manager, as the proxy would hand them over. Every
// statement a client sends must be recorded once with its rows and error
// flag, and the client must see exactly what it sees without the relay.
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "MngrSessions.h"
#include "Session.h"
#include "Settings.h"
#include "TestDb.h"

namespace {

/// The numbers 1 to `n`, one row each, without relying on a storage engine.
QByteArray sequence(int n)
{
    return "WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < " + QByteArray::number(n)
           + ") SELECT n FROM s";
}

/// Hands every accepted connection to the session manager, as the proxy does.
class Listener : public QTcpServer
{
public:
    explicit Listener(MngrSessions* m) : mngr(m) {}

protected:
    void incomingConnection(qintptr descriptor) override { mngr->pendingSession(int(descriptor), this); }

private:
    MngrSessions* mngr;
};

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

/// Runs a program to its end while the event loop keeps serving the relay.
Run runProgram(const QString& program, const QStringList& args, const QByteArray& input = QByteArray())
{
    Run r;
    QProcess p;
    QEventLoop loop;
    QObject::connect(&p, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    // Safety net against a hung client, so that a fault fails instead of blocking.
    QTimer::singleShot(240000, &p, [&p]() { p.kill(); });
    p.start(program, args);
    if (!p.waitForStarted(30000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    if (p.state() != QProcess::NotRunning)
        loop.exec();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

class TstCaptureClients : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cliPlain();
    void cliCompressed();
    void cliDefaultDatabaseAndUse();
    void cliWrongPassword();
    void cliSetNamesLatin1();
    void pymysqlClient();
    void sysbenchPointSelect_data();
    void sysbenchPointSelect();
    void bigSelectRowsAndKiB();
    void stopEndsOpenConnections();
    void teardownWithOpenConnection();

private:
    QStringList cliArgs(quint16 port, const QStringList& extra = {}) const;
    /// Runs the mariadb client directly and through the relay with the same
    /// input; checks that both outputs are equal and returns the relayed run.
    Run cliBoth(const QByteArray& sql, const QStringList& extra = {});
    /// Waits until every connection handed over has closed.
    void waitClosed();
    /// Records added since the test began.
    QList<SessionData*> newSessions() const { return mngr->sessions.mid(mark); }
    /// Statement texts of the records added since the test began.
    QStringList capturedTexts() const;
    const Query* captured(const QString& text) const;
    void expectEachOnce(const QStringList& sent);

    TestDb db;
    QScopedPointer<Settings> settings;
    QScopedPointer<MngrSessions> mngr;
    QScopedPointer<Listener> listener;
    int mark = 0;
};

void TstCaptureClients::initTestCase()
{
    db = TestDb::load();
    if (!db.valid)
        QSKIP("the MariaDB test server fixture is not running");
    settings.reset(new Settings);
    QVERIFY(settings->currentProfile());
    settings->currentProfile()->Host = db.host;
    settings->currentProfile()->Port = db.port;
    mngr.reset(new MngrSessions(settings.data()));
    listener.reset(new Listener(mngr.data()));
    QVERIFY(listener->listen(QHostAddress::LocalHost, 0));
}

void TstCaptureClients::init()
{
    mark = mngr->sessions.size();
}

void TstCaptureClients::cleanup()
{
    waitClosed();
    if (QTest::currentTestFailed())
        return;
}

QStringList TstCaptureClients::cliArgs(quint16 port, const QStringList& extra) const
{
    return QStringList{"--no-defaults", "--skip-ssl", "-h", db.host, "-P", QString::number(port),
                       "-u" + db.user, "-p" + db.password, "--batch", "--skip-column-names"}
           + extra;
}

Run TstCaptureClients::cliBoth(const QByteArray& sql, const QStringList& extra)
{
    const Run direct = runProgram("mariadb", cliArgs(db.port, extra), sql);
    const Run relayed = runProgram("mariadb", cliArgs(listener->serverPort(), extra), sql);
    [&]() {
        QCOMPARE(relayed.exitCode, direct.exitCode);
        QCOMPARE(relayed.out, direct.out);
        QCOMPARE(relayed.err, direct.err);
    }();
    waitClosed();
    return relayed;
}

void TstCaptureClients::waitClosed()
{
    QTRY_VERIFY_WITH_TIMEOUT(mngr->activeSessions.isEmpty(), 60000);
}

QStringList TstCaptureClients::capturedTexts() const
{
    QStringList out;
    for (const SessionData* s : newSessions())
        for (const Query* q : s->queries)
            out << q->text;
    return out;
}

const Query* TstCaptureClients::captured(const QString& text) const
{
    for (const SessionData* s : newSessions())
        for (const Query* q : s->queries)
            if (q->text == text)
                return q;
    return nullptr;
}

void TstCaptureClients::expectEachOnce(const QStringList& sent)
{
    const QStringList texts = capturedTexts();
    for (const QString& s : sent)
        QVERIFY2(texts.count(s) == 1, qPrintable(QString("%1 captured %2 times; captured: %3")
                                                     .arg(s).arg(texts.count(s)).arg(texts.join(" | "))));
}

void TstCaptureClients::cliPlain()
{
    const QByteArray sql = "DROP TABLE IF EXISTS cap_plain;\n"
                           "CREATE TABLE cap_plain (id INT PRIMARY KEY, name VARCHAR(20));\n"
                           "INSERT INTO cap_plain VALUES (1,'one'),(2,'two'),(3,'three');\n"
                           "SELECT id, name FROM cap_plain ORDER BY id;\n"
                           "SELECT * FROM no_such_table;\n"
                           "SELECT COUNT(*) FROM cap_plain WHERE id > 1;\n";
    const Run r = cliBoth(sql, {"--force", "-D", db.database});
    QCOMPARE(r.out, QByteArray("1\tone\n2\ttwo\n3\tthree\n2\n"));
    QCOMPARE(newSessions().size(), 1);
    const SessionData* s = newSessions().at(0);
    QVERIFY(s->authenticated);
    QCOMPARE(s->userName, db.user);
    QVERIFY(!s->duration.isNull());
    expectEachOnce({"DROP TABLE IF EXISTS cap_plain", "CREATE TABLE cap_plain (id INT PRIMARY KEY, name VARCHAR(20))",
                    "INSERT INTO cap_plain VALUES (1,'one'),(2,'two'),(3,'three')",
                    "SELECT id, name FROM cap_plain ORDER BY id", "SELECT * FROM no_such_table",
                    "SELECT COUNT(*) FROM cap_plain WHERE id > 1"});
    const Query* select = captured("SELECT id, name FROM cap_plain ORDER BY id");
    QCOMPARE(select->rows, 3u);
    QVERIFY(!select->isError);
    // Row payloads: "1" "one" -> 2 + 4 bytes, "2" "two" -> 6, "3" "three" -> 8.
    QCOMPARE(select->responseKb, 20.0f / 1024);
    QVERIFY(captured("SELECT * FROM no_such_table")->isError);
    QCOMPARE(captured("SELECT * FROM no_such_table")->rows, 0u);
    QCOMPARE(captured("INSERT INTO cap_plain VALUES (1,'one'),(2,'two'),(3,'three')")->rows, 0u);
    QCOMPARE(captured("SELECT COUNT(*) FROM cap_plain WHERE id > 1")->rows, 1u);
    for (const Query* q : s->queries) {
        QVERIFY(q->durationMs > 0);
        QCOMPARE(q->dbName, db.database);
    }
    // The manager counted them into its lists.
    QVERIFY(mngr->modelTopQueries->countOf("SELECT * FROM no_such_table") >= 1);
}

void TstCaptureClients::cliCompressed()
{
    const QByteArray sql = "SELECT 'compressed', 1+1;\nSELECT REPEAT('x', 5000);\n" + sequence(50) + ";\n";
    const Run r = cliBoth(sql, {"--compress"});
    QVERIFY(r.out.startsWith("compressed\t2\n"));
    QCOMPARE(newSessions().size(), 1);
    expectEachOnce({"SELECT 'compressed', 1+1", "SELECT REPEAT('x', 5000)", sequence(50)});
    QCOMPARE(captured("SELECT 'compressed', 1+1")->rows, 1u);
    QCOMPARE(captured("SELECT REPEAT('x', 5000)")->rows, 1u);
    QCOMPARE(captured("SELECT REPEAT('x', 5000)")->responseKb, (3 + 5000) / 1024.0f); // lenenc 0xFC + 2 bytes
    QCOMPARE(captured(sequence(50))->rows, 50u);
}

void TstCaptureClients::cliDefaultDatabaseAndUse()
{
    runProgram("mariadb", cliArgs(db.port), "CREATE DATABASE IF NOT EXISTS quarvel_other;\n");
    const int topBefore = mngr->modelTopDb->countOf("quarvel_other");
    const int firstBefore = mngr->modelTopDb->countOf(db.database);
    QSignalSpy dbNames(mngr.data(), &MngrSessions::setDbName);
    const QByteArray sql = "SELECT DATABASE();\nUSE quarvel_other;\nSELECT DATABASE();\n";
    const Run r = cliBoth(sql, {"-D", db.database});
    QCOMPARE(r.out, (db.database + "\nquarvel_other\n").toUtf8());
    const SessionData* s = newSessions().at(0);
    QCOMPARE(s->dbName, db.database); // the first database stays the session's
    // The client's USE command first asks for the current database itself.
    QCOMPARE(capturedTexts(), (QStringList{"SELECT DATABASE()", "SELECT DATABASE()", "SELECT DATABASE()"}));
    QCOMPARE(s->queries.at(0)->dbName, db.database);
    QCOMPARE(s->queries.at(1)->dbName, db.database);
    QCOMPARE(s->queries.at(2)->dbName, QString("quarvel_other"));
    // The client's USE is a database selection: counted for the selected database.
    QCOMPARE(mngr->modelTopDb->countOf("quarvel_other"), topBefore + 1);
    QCOMPARE(mngr->modelTopDb->countOf(db.database), firstBefore);
    QCOMPARE(dbNames.count(), 1);
    QCOMPARE(dbNames.at(0).at(1).toString(), db.database);
}

void TstCaptureClients::cliWrongPassword()
{
    QStringList direct = cliArgs(db.port);
    QStringList relayed = cliArgs(listener->serverPort());
    direct.replaceInStrings("-p" + db.password, "-pwrong-password");
    relayed.replaceInStrings("-p" + db.password, "-pwrong-password");
    const Run a = runProgram("mariadb", direct, "SELECT 1;\n");
    const Run b = runProgram("mariadb", relayed, "SELECT 1;\n");
    QVERIFY(a.exitCode != 0);
    QCOMPARE(b.exitCode, a.exitCode);
    QCOMPARE(b.err, a.err);
    waitClosed();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!newSessions().isEmpty());
    for (const SessionData* s : newSessions()) {
        QVERIFY(!s->authenticated);
        QCOMPARE(s->userName, db.user);
        QVERIFY(s->queries.isEmpty());
    }
}

void TstCaptureClients::cliSetNamesLatin1()
{
    // The client types Latin-1 bytes after announcing them with SET NAMES.
    const QByteArray sql = "SET NAMES latin1;\nSELECT 'caf\xe9', HEX('caf\xe9');\n";
    const Run r = cliBoth(sql);
    QCOMPARE(r.out, QByteArray("caf\xe9\t636166E9\n")); // the server read one byte per character
    expectEachOnce({"SET NAMES latin1", QString::fromUtf8("SELECT 'caf\xc3\xa9', HEX('caf\xc3\xa9')")});
    QCOMPARE(newSessions().at(0)->codec->name(), QByteArray("ISO-8859-1"));
}

void TstCaptureClients::pymysqlClient()
{
    const QString script = QStringLiteral(
        "import sys, pymysql\n"
        "c = pymysql.connect(host=sys.argv[1], port=int(sys.argv[2]), user=sys.argv[3], password=sys.argv[4],\n"
        "                    database=sys.argv[5], charset='utf8mb4')\n"
        "cur = c.cursor()\n"
        "cur.execute('DROP TABLE IF EXISTS cap_py')\n"
        "cur.execute('CREATE TABLE cap_py (id INT, t VARCHAR(40))')\n"
        "cur.executemany('INSERT INTO cap_py VALUES (%s, %s)', [(1, 'a'), (2, 'b\\u00e9')])\n"
        "c.commit()\n"
        "cur.execute('SELECT id, t FROM cap_py WHERE id >= %s ORDER BY id', (1,))\n"
        "print(cur.fetchall())\n"
        "try:\n"
        "    cur.execute('SELECT nope FROM cap_py')\n"
        "except pymysql.MySQLError as e:\n"
        "    print('error', e.args[0])\n"
        "c.close()\n");
    auto run = [&](quint16 port) {
        return runProgram("/usr/bin/python3", {"-c", script, db.host, QString::number(port), db.user, db.password,
                                               db.database});
    };
    const Run direct = run(db.port);
    const Run relayed = run(listener->serverPort());
    QCOMPARE(direct.exitCode, 0);
    QCOMPARE(relayed.exitCode, 0);
    QCOMPARE(relayed.out, direct.out);
    QVERIFY(relayed.out.contains("error 1054"));
    waitClosed();
    if (QTest::currentTestFailed())
        return;
    expectEachOnce({"DROP TABLE IF EXISTS cap_py", "CREATE TABLE cap_py (id INT, t VARCHAR(40))",
                    QString::fromUtf8("INSERT INTO cap_py VALUES (1, 'a'),(2, 'b\xc3\xa9')"), "COMMIT",
                    "SELECT id, t FROM cap_py WHERE id >= 1 ORDER BY id", "SELECT nope FROM cap_py"});
    QCOMPARE(captured("SELECT id, t FROM cap_py WHERE id >= 1 ORDER BY id")->rows, 2u);
    QVERIFY(captured("SELECT nope FROM cap_py")->isError);
    QCOMPARE(newSessions().at(0)->dbName, db.database);
}

void TstCaptureClients::sysbenchPointSelect_data()
{
    QTest::addColumn<QString>("psMode");
    QTest::newRow("text statements") << "disable";
    QTest::newRow("prepared statements") << "auto";
}

void TstCaptureClients::sysbenchPointSelect()
{
    QFETCH(QString, psMode);
    const QStringList common{"oltp_point_select", "--mysql-host=" + db.host, "--mysql-user=" + db.user,
                             "--mysql-password=" + db.password, "--mysql-db=" + db.database, "--tables=1",
                             "--table-size=200", "--mysql-ssl=off"};
    const Run prep = runProgram("sysbench", common + QStringList{"--mysql-port=" + QString::number(db.port),
                                                                 "cleanup"});
    Q_UNUSED(prep);
    QCOMPARE(runProgram("sysbench", common + QStringList{"--mysql-port=" + QString::number(db.port), "prepare"})
                 .exitCode, 0);
    mark = mngr->sessions.size();
    const Run r = runProgram("sysbench", common + QStringList{"--mysql-port=" + QString::number(listener->serverPort()),
                                                              "--threads=2", "--events=400", "--time=0",
                                                              "--db-ps-mode=" + psMode, "run"});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    waitClosed();
    if (QTest::currentTestFailed())
        return;
    const QRegularExpressionMatch m = QRegularExpression("queries:\\s+(\\d+)").match(QString::fromUtf8(r.out));
    QVERIFY2(m.hasMatch(), r.out.constData());
    const int reported = m.captured(1).toInt();
    QCOMPARE(reported, 400);

    // A prepared statement is recorded once when prepared and once per execution.
    int selects = 0;
    int prepares = 0;
    for (const SessionData* s : newSessions()) {
        QVERIFY(s->authenticated);
        bool prepared = false;
        for (const Query* q : s->queries) {
            if (!q->text.startsWith("SELECT c FROM sbtest1 WHERE id="))
                continue;
            QVERIFY(!q->isError);
            if (psMode == "auto" && q->text.endsWith("id=?") && !prepared) {
                prepared = true; // the prepare comes first, and returns no rows
                ++prepares;
                QCOMPARE(q->rows, 0u);
                continue;
            }
            QCOMPARE(q->rows, 1u);
            ++selects;
        }
    }
    QCOMPARE(selects, reported);
    QCOMPARE(prepares, psMode == "auto" ? 2 : 0);
    runProgram("sysbench", common + QStringList{"--mysql-port=" + QString::number(db.port), "cleanup"});
}

void TstCaptureClients::bigSelectRowsAndKiB()
{
    const QByteArray sql = "SET max_recursive_iterations = 1000000;\n" + sequence(100000) + ";\n";
    const Run r = cliBoth(sql);
    QCOMPARE(r.out.count('\n'), 100000);
    const Query* q = captured(sequence(100000));
    QVERIFY(q);
    QCOMPARE(q->rows, 100000u);
    // Each row is one length byte and the digits: 9*2 + 90*3 + 900*4 + 9000*5 + 90000*6 + 7.
    qint64 bytes = 0;
    for (int n = 1; n <= 100000; ++n)
        bytes += 1 + QByteArray::number(n).size();
    QCOMPARE(bytes, qint64(588895));
    QCOMPARE(q->responseKb, float(bytes / 1024.0));
}

void TstCaptureClients::stopEndsOpenConnections()
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener->serverPort());
    QVERIFY(client.waitForConnected(30000));
    QTRY_VERIFY_WITH_TIMEOUT(client.bytesAvailable() > 0, 30000); // the server's greeting came through
    QCOMPARE(mngr->activeSessions.size(), 1);
    QPointer<Session> session = mngr->activeSessions.first();
    mngr->stopActiveSessions();
    QVERIFY(mngr->activeSessions.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QAbstractSocket::UnconnectedState, 30000);
    // Its close still arrives; the stopped Session is then freed.
    QTRY_VERIFY_WITH_TIMEOUT(session.isNull(), 30000);
}

void TstCaptureClients::teardownWithOpenConnection()
{
    Settings local;
    local.currentProfile()->Host = db.host;
    local.currentProfile()->Port = db.port;
    QTcpSocket client;
    {
        MngrSessions m(&local);
        Listener l(&m);
        QVERIFY(l.listen(QHostAddress::LocalHost, 0));
        client.connectToHost(QHostAddress::LocalHost, l.serverPort());
        QVERIFY(client.waitForConnected(30000));
        QTRY_VERIFY_WITH_TIMEOUT(client.bytesAvailable() > 0, 30000);
        QCOMPARE(m.activeSessions.size(), 1);
        // The listener owns the Session: destroying it ends the relay and decoder threads.
    }
    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QAbstractSocket::UnconnectedState, 30000);
}

QTEST_GUILESS_MAIN(TstCaptureClients)
#include "tst_capture_clients.moc"
