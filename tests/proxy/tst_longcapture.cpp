// Faults a long capture meets, through the real proxy: the server restarts
// under open connections, and hundreds of clients connect at once.
#include "ProxyTestUtil.h"
#include "Session.h"
#include "SessionData.h"

#include <QDir>

namespace {
/// Threads of this process.
int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

/// Every statement text captured so far, in session order.
QStringList capturedTexts(const MngrSessions& mngr)
{
    QStringList out;
    for (const SessionData* s : mngr.sessions)
        for (int i = s->queries.released(); i < s->queries.size(); ++i)
            out << s->queries.text(i);
    return out;
}

} // namespace

class TestLongCapture : public QObject
{
    Q_OBJECT
private slots:
    void serverRestarts()
    {
        // A server of the test's own, restarted under the capture.
        REQUIRE_TESTDB(shared);
        OwnTestDb server;
        const TestDb& db = server.db;
        QVERIFY(db.valid);
        Rig rig(db);
        QSignalSpy stats(rig.proxy.get(), &ProxyServer::updateStatSignal);
        QVERIFY(rig.start());
        const auto client = [&](const QByteArray& sql) { return runLive("mariadb", clientArgs(db, rig.port()), sql).out; };
        QCOMPARE(client("SELECT 'before';\n" + QByteArray("DO 1;\n").repeated(200)), QByteArray("before\n"));
        rig.pollAndWait(3); // counters well above those of a fresh server

        // A client that logged in and idles through the restart is closed, its session ended.
        QTcpSocket idle;
        idle.connectToHost(QHostAddress::LocalHost, rig.port());
        QTRY_VERIFY_WITH_TIMEOUT(idle.bytesAvailable() > 4, 30000);
        QTRY_COMPARE(rig.mngr->activeSessions.size(), 1);
        QVERIFY(server.restart());
        QTRY_COMPARE_WITH_TIMEOUT(idle.state(), QAbstractSocket::UnconnectedState, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(rig.mngr->activeSessions.isEmpty(), 30000);
        QVERIFY(!rig.mngr->sessions.last()->duration.isNull());

        // The next poll finds the statistics connection gone and reconnects; the first
        // poll after that sees smaller counters: no rate, no jump. Then rates go on.
        rig.events.clear();
        rig.pollAndWait(2);
        QCOMPARE(rig.events, (QStringList{"down", "up"}));
        QVERIFY(rig.proxy->isRunning() && rig.proxy->dbIsOpen());
        const int before = stats.size();
        rig.pollAndWait(3);
        QCOMPARE(stats.size(), before + 1);
        const QList<double> graph = lastPoll(stats, 3);
        QCOMPARE(lastPoll(stats, 1), (QList<double>{0, 0, 0, 0, 0, 0}));
        QCOMPARE(QList<double>({graph.value(0), graph.value(2), graph.value(3)}), (QList<double>{0, 0, 0}));
        rig.pollAndWait(4);
        QVERIFY(lastPoll(stats, 1).value(0) > 0); // the poller's own statements

        // New clients are relayed and captured again.
        QCOMPARE(client("SELECT 'after';\n"), QByteArray("after\n"));
        QTRY_COMPARE(capturedTexts(*rig.mngr).filter("SELECT '"), (QStringList{"SELECT 'before'", "SELECT 'after'"}));
    }

    void fiveHundredClientsAtOnce()
    {
        // Clients hold 500 connections open at once and each runs a
        // statement of its own, all together (the server is raised to take
        // them): each is answered and captured once, and the relay and
        // decoder threads all end with their connections.
        constexpr int Clients = 500;
        REQUIRE_TESTDB(db);
        const QString limit = db.runClient("SELECT @@max_connections").trimmed();
        db.runClient(QStringLiteral("SET GLOBAL max_connections = %1").arg(Clients + 100));
        const auto restore = qScopeGuard([&] { db.runClient("SET GLOBAL max_connections = " + limit); });
        Rig rig(db);
        QVERIFY(rig.start());
        const int idle = threadCount();
        const LiveRun run = runLive("/usr/bin/python3", {sourceDir() + "/tests/proxy/many_clients.py", "127.0.0.1",
                                                        QString::number(rig.port()), db.user, db.password,
                                                        QString::number(Clients)});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QCOMPARE(run.out, "answered " + QByteArray::number(Clients) + "\n");
        QTRY_VERIFY_WITH_TIMEOUT(rig.mngr->activeSessions.isEmpty(), 120000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.proxy->findChildren<Session*>().size(), 0, 120000);
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), idle, 60000);
        QStringList expected;
        for (int i = 0; i < Clients; ++i)
            expected << QStringLiteral("SELECT %1").arg(100000 + i);
        QStringList captured = capturedTexts(*rig.mngr);
        captured.sort();
        QCOMPARE(captured, expected);
        QCOMPARE(rig.mngr->sessions.size(), Clients);
    }
};

QTEST_MAIN(TestLongCapture)
#include "tst_longcapture.moc"
