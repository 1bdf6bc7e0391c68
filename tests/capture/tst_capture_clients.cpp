// End to end: real clients talk to the test server through the relay and decoder of the session manager, as the
// proxy hands them over. Every statement a client sends is recorded once with its rows and error flag, and the
// client sees exactly what it sees without the relay.
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include "CaptureRig.h"
#include "RunLive.h"

#include <memory>

/// The numbers 1 to 100 000, one row each, without relying on a storage engine.
static const QString sequence = QStringLiteral("WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 100000) SELECT n FROM s");

class TstCaptureClients : public QObject
{
    Q_OBJECT
    TestDb db;
    std::unique_ptr<CaptureRig> rig;
    int mark = 0; ///< records before the relayed run

    MngrSessions& mngr() { return rig->mngr; }
    void waitClosed() { QTRY_VERIFY_WITH_TIMEOUT(mngr().activeSessions.isEmpty(), 60000); }

    /// Runs `program` directly against the server and then through the relay;
    /// both runs must end alike and print the same. Returns the relayed run.
    LiveRun both(const QString& program, const std::function<QStringList(quint16)>& args, const QByteArray& input = {})
    {
        const LiveRun direct = runLive(program, args(db.port), input);
        mark = mngr().sessions.size();
        const LiveRun relayed = runLive(program, args(rig->port()), input);
        waitClosed();
        [&]() { QCOMPARE(QList<QVariant>({relayed.exitCode, relayed.out, relayed.err}),
                          QList<QVariant>({direct.exitCode, direct.out, direct.err})); }();
        return relayed;
    }

    LiveRun cli(const QByteArray& sql, const QStringList& extra = {})
    {
        return both("mariadb", [&](quint16 port) { return clientArgs(db, port, extra); }, sql);
    }

    /// What was recorded since the relayed run began: a line per session
    /// ("session user database", marked when not logged in or never closed)
    /// and "rows|error|database|text" per statement (marked without a duration).
    QStringList records()
    {
        QStringList out;
        for (const SessionData* s : mngr().sessions.mid(mark)) {
            out << QStringLiteral("session %1 %2%3%4")
                       .arg(s->userName, s->dbName, s->authenticated ? "" : " (no login)", s->duration.isNull() ? " (open)" : "");
            for (const Query& q : s->queries)
                out << QStringLiteral("%1|%2|%3|%4%5").arg(q.rows).arg(q.isError).arg(q.dbName, q.text,
                                                                                       q.durationMs > 0 ? "" : " (no duration)");
        }
        return out;
    }

    /// The statement recorded at `index` of the last session.
    Query recorded(int index) { return mngr().sessions.last()->queries.at(index); }

private slots:
    void initTestCase()
    {
        db = TestDb::load();
        if (!db.valid)
            QSKIP("the MariaDB test server fixture is not running");
        rig = std::make_unique<CaptureRig>(db.host, db.port);
        QVERIFY(rig->listener.isListening());
        QCOMPARE(db.runClient("CREATE DATABASE IF NOT EXISTS quarvel_other;\n"), QString());
    }

    void profileChangedRightAfterAccept()
    {
        // The window's thread edits the profile, reloads the store from the file (a cancelled profile dialog)
        // or deletes every profile right after handing a connection over: the relay still reaches the server
        // named when the connection was accepted. The last round changes nothing, leaving the profile usable.
        Settings& settings = rig->settings;
        const quint16 nowhere = freePort();
        settings.currentProfile()->Port = nowhere;
        settings.saveProfiles();
        const QList<std::function<void()>> changes{
            [&] { settings.currentProfile()->Host = "nowhere.invalid"; settings.currentProfile()->Port = nowhere; },
            [&] { settings.load(); }, [&] { qDeleteAll(settings.profiles); settings.profiles.clear(); }};
        for (int round = 0; round <= 30; ++round) {
            if (!settings.currentProfile()) {
                settings.profiles.append(new Profile);
                settings.CurrentProfile = 0;
            }
            settings.currentProfile()->Host = db.host;
            settings.currentProfile()->Port = db.port;
            rig->listener.afterAccept = round < 30 ? changes[round % changes.size()] : nullptr;
            const LiveRun r = runLive("mariadb", clientArgs(db, rig->port(), {"-e", QString("SELECT %1").arg(round)}));
            QVERIFY2(r.exitCode == 0 && r.out == QByteArray::number(round) + "\n", r.err.constData());
        }
        waitClosed();
    }

    void cliPlainDatabasesAndCharacterSet()
    {
        const int selectedBefore = mngr().modelTopDb->countOf("quarvel_other"), firstBefore = mngr().modelTopDb->countOf(db.database);
        QSignalSpy dbNames(&mngr(), &MngrSessions::setDbName);
        // the client types Latin-1 bytes after announcing them with SET NAMES
        const LiveRun r = cli("DROP TABLE IF EXISTS cap_plain;\nCREATE TABLE cap_plain (id INT PRIMARY KEY, name VARCHAR(20));\n"
                              "INSERT INTO cap_plain VALUES (1,'one'),(2,'two'),(3,'three');\nSELECT id, name FROM cap_plain ORDER BY id;\n"
                              "SELECT * FROM no_such_table;\nSELECT SLEEP(0.3);\nDELIMITER //\nSELECT 1; SELECT 2, 3 UNION SELECT 4, 5//\n"
                              "DELIMITER ;\nSELECT DATABASE();\nUSE quarvel_other;\nSELECT DATABASE();\nSET NAMES latin1;\nSELECT 'caf\xe9', HEX('caf\xe9');\n",
                              {"--force", "-D", db.database});
        // the server read one byte per character
        QCOMPARE(r.out, "1\tone\n2\ttwo\n3\tthree\n0\n1\n2\t3\n4\t5\n" + db.database.toUtf8() + "\nquarvel_other\ncaf\xe9\t636166E9\n");
        // the client sends the line as one multi-statement query: both result sets count; its USE first asks for
        // the current database itself; the session keeps its first database
        const QString d = '|' + db.database + '|', sd = "1|0" + d + "SELECT DATABASE()";
        QCOMPARE(records(), (QStringList{"session " + db.user + ' ' + db.database, "0|0" + d + "DROP TABLE IF EXISTS cap_plain",
                                         "0|0" + d + "CREATE TABLE cap_plain (id INT PRIMARY KEY, name VARCHAR(20))",
                                         "0|0" + d + "INSERT INTO cap_plain VALUES (1,'one'),(2,'two'),(3,'three')",
                                         "3|0" + d + "SELECT id, name FROM cap_plain ORDER BY id", "0|1" + d + "SELECT * FROM no_such_table",
                                         "1|0" + d + "SELECT SLEEP(0.3)", "3|0" + d + "SELECT 1; SELECT 2, 3 UNION SELECT 4, 5", sd, sd,
                                         "1|0|quarvel_other|SELECT DATABASE()", "0|0|quarvel_other|SET NAMES latin1",
                                         QString::fromUtf8("1|0|quarvel_other|SELECT 'caf\xc3\xa9', HEX('caf\xc3\xa9')")}));
        // row payloads: "1" "one" -> 2 + 4 bytes, "2" "two" -> 6, "3" "three" -> 8
        QCOMPARE(recorded(3).responseKb, 20.0f / 1024);
        // the server cannot answer before the sleep is over
        QVERIFY2(recorded(5).durationMs >= 300.0, qPrintable(QString::number(recorded(5).durationMs)));
        QVERIFY(mngr().modelTopQueries->countOf("SELECT * FROM no_such_table") >= 1); // counted into the lists
        // the client's USE is a database selection: counted for the selected database
        QCOMPARE(mngr().modelTopDb->countOf("quarvel_other") - selectedBefore, 1);
        QCOMPARE(mngr().modelTopDb->countOf(db.database), firstBefore);
        QVERIFY(dbNames.count() == 1 && dbNames.at(0).at(1).toString() == db.database);
    }

    void cliCompressedBigAnswers()
    {
        const LiveRun r = cli("SELECT 'compressed', 1+1;\nSET max_recursive_iterations = 1000000;\n" + sequence.toUtf8()
                              + ";\nSELECT REPEAT('x', 5000);\n", {"--compress"});
        QVERIFY(r.out.startsWith("compressed\t2\n") && r.out.count('\n') == 100002);
        QCOMPARE(records(), (QStringList{"session " + db.user + ' ', "1|0||SELECT 'compressed', 1+1",
                                         "0|0||SET max_recursive_iterations = 1000000", "100000|0||" + sequence,
                                         "1|0||SELECT REPEAT('x', 5000)"}));
        // each row is one length byte and the digits: 9*2 + 90*3 + 900*4 + 9000*5 + 90000*6 + 7 bytes
        QCOMPARE(recorded(2).responseKb, float(588895 / 1024.0));
        QCOMPARE(recorded(3).responseKb, (3 + 5000) / 1024.0f); // lenenc 0xFC + 2 bytes
    }

    void cliWrongPassword()
    {
        const LiveRun r = both("mariadb", [&](quint16 port) {
            return clientArgs(db, port).replaceInStrings("-p" + db.password, "-pwrong-password");
        }, "SELECT 1;\n");
        QVERIFY(r.exitCode != 0);
        QCOMPARE(records(), QStringList{"session " + db.user + "  (no login)"});
    }

    void pymysqlClient()
    {
        const QString script = QStringLiteral(
            "import sys, pymysql\n"
            "c = pymysql.connect(host=sys.argv[1], port=int(sys.argv[2]), user=sys.argv[3], password=sys.argv[4],"
            " database=sys.argv[5], charset='utf8mb4')\n"
            "cur = c.cursor(); cur.execute('DROP TABLE IF EXISTS cap_py'); cur.execute('CREATE TABLE cap_py (id INT, t VARCHAR(40))')\n"
            "cur.executemany('INSERT INTO cap_py VALUES (%s, %s)', [(1, 'a'), (2, 'b\\u00e9')]); c.commit()\n"
            "cur.execute('SELECT id, t FROM cap_py WHERE id >= %s ORDER BY id', (1,)); print(cur.fetchall())\n"
            "try: cur.execute('SELECT nope FROM cap_py')\n"
            "except pymysql.MySQLError as e: print('error', e.args[0])\n"
            "c.close()\n");
        const LiveRun r = both("/usr/bin/python3", [&](quint16 port) {
            return QStringList{"-c", script, db.host, QString::number(port), db.user, db.password, db.database};
        });
        QVERIFY(r.exitCode == 0 && r.out.contains("error 1054"));
        const QString d = '|' + db.database + '|';
        QCOMPARE(records(), (QStringList{"session " + db.user + ' ' + db.database, "0|0" + d + "SET AUTOCOMMIT = 0",
                                         "0|0" + d + "DROP TABLE IF EXISTS cap_py", "0|0" + d + "CREATE TABLE cap_py (id INT, t VARCHAR(40))",
                                         "0|0" + d + QString::fromUtf8("INSERT INTO cap_py VALUES (1, 'a'),(2, 'b\xc3\xa9')"), "0|0" + d + "COMMIT",
                                         "2|0" + d + "SELECT id, t FROM cap_py WHERE id >= 1 ORDER BY id", "0|1" + d + "SELECT nope FROM cap_py"}));
    }

    void sysbenchPointSelect()
    {
        const auto sysbench = [&](quint16 port, const QStringList& more) {
            return runLive("sysbench", QStringList{"oltp_point_select", "--mysql-host=" + db.host, "--mysql-port=" + QString::number(port),
                           "--mysql-user=" + db.user, "--mysql-password=" + db.password, "--mysql-db=" + db.database, "--tables=1",
                           "--table-size=200", "--mysql-ssl=off"} + more);
        };
        sysbench(db.port, {"cleanup"});
        QCOMPARE(sysbench(db.port, {"prepare"}).exitCode, 0);
        for (const QString psMode : {"disable", "auto"}) { // text, then prepared statements
            mark = mngr().sessions.size();
            const LiveRun r = sysbench(rig->port(), {"--threads=2", "--events=400", "--time=0", "--db-ps-mode=" + psMode, "run"});
            waitClosed();
            const QString queries = QRegularExpression("queries:\\s+(\\d+)").match(QString::fromUtf8(r.out)).captured(1);
            QVERIFY2(r.exitCode == 0 && queries == "400", (r.out + r.err).constData());
            // a prepared statement is recorded once when prepared (without rows) and once per execution
            QMap<int, int> byRows; // (-1: failed)
            for (const SessionData* s : mngr().sessions.mid(mark))
                for (const Query& q : s->queries)
                    if (q.text.startsWith("SELECT c FROM sbtest1 WHERE id="))
                        ++byRows[q.isError ? -1 : int(q.rows)];
            QCOMPARE(byRows, (psMode == "auto" ? QMap<int, int>{{0, 2}, {1, 400}} : QMap<int, int>{{1, 400}}));
        }
        sysbench(db.port, {"cleanup"});
    }
};

QTEST_GUILESS_MAIN(TstCaptureClients)
#include "tst_capture_clients.moc"
