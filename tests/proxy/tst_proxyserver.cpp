// The proxy server against the real test server: start and stop, failures,
// tunnelling, listening address, the statistics connection's options, and a
// window thread that goes on while the server's answers are held.
#include "DbConnection.h"
#include "DelayRelay.h"
#include "ProxyTestUtil.h"

#include <QNetworkInterface>
#include <QSqlQuery>
#include <QTcpSocket>

namespace {
/// True when a TCP connection to address:port is accepted.
bool accepts(const QHostAddress& address, quint16 port)
{
    QTcpSocket s;
    s.connectToHost(address, port);
    return s.waitForConnected(5000);
}
} // namespace

class TestProxyServer : public QObject
{
    Q_OBJECT
private slots:
    void startAndStop()
    {
        REQUIRE_TESTDB(db);
        Rig rig(db);
        ProxyServer& proxy = *rig.proxy;
        proxy.restartProxy(); // only a running proxy restarts
        QVERIFY(!proxy.isListening() && !proxy.dbIsOpen() && rig.events.isEmpty());
        QVERIFY(rig.start());
        QVERIFY(proxy.isListening() && proxy.dbIsOpen());
        // one poll at start, then listening; the version with the server's system
        const QString events = rig.events.join(',');
        QVERIFY2(QRegularExpression("^stats:\\d+ days? \\d\\d:\\d\\d:6/6/4:10\\.11\\.\\S+ \\(.+\\),up$").match(events).hasMatch(),
                 qPrintable(events));
        QVERIFY(events.contains(':' + proxy.versionText() + ','));
        // a new profiler port takes effect on restart
        const quint16 oldPort = rig.port();
        rig.profile()->ProfilerPort = freePort();
        proxy.restartProxy();
        QVERIFY(rig.settle() && !accepts(QHostAddress::LocalHost, oldPort));
        QCOMPARE(proxy.serverPort(), rig.port());

        // a client that got the server's greeting through the relay and idles is closed by the stop
        QTcpSocket idle;
        idle.connectToHost(QHostAddress::LocalHost, rig.port());
        QTRY_VERIFY_WITH_TIMEOUT(idle.bytesAvailable() > 4, 10000);
        QCOMPARE(quint8(idle.readAll().at(4)), quint8(10)); // protocol version of the greeting
        QTRY_COMPARE(rig.mngr->activeSessions.size(), 1);
        proxy.stopProxy();
        QVERIFY(rig.mngr->activeSessions.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(idle.state(), QAbstractSocket::UnconnectedState, 10000);
        QVERIFY(!proxy.isListening() && !proxy.isRunning() && !proxy.dbIsOpen());
        QCOMPARE(rig.events.filter(QRegularExpression("^(up|down)$")), (QStringList{"up", "down", "up", "down"}));
    }

    void unreachableServerAndPortInUse()
    {
        REQUIRE_TESTDB(db);
        Rig dead(db, [](Profile* p, Settings*) { p->Port = freePort(); }, true);
        QVERIFY(!dead.start());
        QCOMPARE(dead.events, (QStringList{dead.le->errors("error_str") + '|' + dead.le->errors("mysql_conn_error"), "stop"}));
        QVERIFY(!dead.proxy->isListening() && !dead.proxy->isRunning() && !dead.proxy->dbIsOpen());
        dead.proxy->updateStatistics(); // polling a proxy that never started does nothing, nor does a stop
        dead.proxy->stopProxy();
        QCOMPARE(dead.events.size(), 2);

        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        Rig rig(db, [&](Profile* p, Settings*) { p->ProfilerPort = occupant.serverPort(); });
        ProxyServer& proxy = *rig.proxy;
        QVERIFY(!rig.start() && !proxy.isListening());
        QCOMPARE(proxy.serverError(), QAbstractSocket::AddressInUseError);
        // the start poll, then the reset of the statistics page, the listener's own error, the stop
        QVERIFY2(rig.events.size() == 4 && rig.events[0].endsWith(":6/6/4:" + proxy.versionText()), qPrintable(rig.events[0]));
        QCOMPARE(rig.events.mid(1), (QStringList{"stats:None:0/0/0:None", "Error|" + proxy.errorString(), "stop"}));
        QVERIFY(proxy.dbIsOpen()); // the statistics connection stays open until the resulting stop
        proxy.stopProxy();
        QVERIFY(!proxy.dbIsOpen());
    }

    void alwaysTunneling()
    {
        REQUIRE_TESTDB(db);
        Rig rig(db, [](Profile*, Settings* s) { s->AlwaysTunneling = true; });
        // relays before profiling starts, while it runs and after it stopped
        QVERIFY(rig.proxy->isListening() && !rig.proxy->isRunning());
        const auto client = [&](const QByteArray& sql) { return runLive("mariadb", clientArgs(db, rig.port()), sql).out; };
        QCOMPARE(client("SELECT 'before';\n"), QByteArray("before\n"));
        QVERIFY(rig.start());
        QCOMPARE(client("SELECT 'during';\n"), QByteArray("during\n"));
        rig.proxy->stopProxy();
        QVERIFY(rig.proxy->isListening() && !rig.proxy->isRunning() && !rig.proxy->dbIsOpen());
        QCOMPARE(client("SELECT 'after';\n"), QByteArray("after\n"));
        QTRY_COMPARE(rig.mngr->sessions.size(), 3);
        // the settings dialog re-applies the option with a start and an immediate stop
        for (const bool on : {false, true}) {
            rig.settings.AlwaysTunneling = on;
            rig.proxy->startProxy();
            rig.proxy->stopProxy();
            QCOMPARE(rig.proxy->isListening(), on);
        }
    }

    void listeningAddress()
    {
        REQUIRE_TESTDB(db);
        for (const bool network : {false, true}) {
            // the machine's other addresses only when connections over the network are allowed
            Rig rig(db, [&](Profile* p, Settings*) { p->NetworkConnections = network; });
            QVERIFY(rig.start());
            QCOMPARE(rig.proxy->serverAddress(), QHostAddress(network ? QHostAddress::Any : QHostAddress::LocalHost));
            QVERIFY(accepts(QHostAddress::LocalHost, rig.port()));
            for (const QHostAddress& a : QNetworkInterface::allAddresses())
                if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
                    QCOMPARE(accepts(a, rig.port()), network);
        }
    }

    void localSocketCompressionNoStatusCheck()
    {
        REQUIRE_TESTDB(db);
        Rig rig(db, [&](Profile* p, Settings*) {
            p->ConnectionMethod = 1;
            p->Host = "localhost";
            p->Socket = db.socket;
            p->Compression = true;
            p->StatusCheck = false;
        });
        // the profile's connection goes by the socket, compressed, and so does the statistics connection
        const QString name = DbConnection::uniqueName("test");
        {
            QSqlQuery q(DbConnection::open(DbConnectionParams::fromProfile(*rig.profile()), name));
            QVERIFY(q.exec("SHOW SESSION STATUS LIKE 'Compression'") && q.next());
            QCOMPARE(q.value(1).toString(), QStringLiteral("ON"));
        }
        DbConnection::close(name);
        QVERIFY2(rig.start(), qPrintable(rig.proxy->lastDatabaseError()));
        // without the status check the statistics page gets the version only, and nothing polls
        QVERIFY(!rig.proxy->versionText().isEmpty() && !rig.proxy->findChild<QTimer*>()->isActive());
        QCOMPARE(rig.events, (QStringList{"stats:None:0/0/0:" + rig.proxy->versionText(), "up"}));
        QCOMPARE(db.runClient(QStringLiteral("SELECT HOST FROM information_schema.PROCESSLIST WHERE ID = %1")
                                  .arg(rig.proxy->statisticsConnectionId())),
                 QStringLiteral("localhost\n")); // no port: the socket
    }

    // The statistics connection goes through a relay that can hold the
    // server's answers: the window's thread runs on while they are held, and
    // a held start can be stopped, restarted or destroyed.
    void serverAnswersHeld()
    {
        REQUIRE_TESTDB(db);
        DelayRelay relay(db.host, db.port, 0);
        Rig rig(db, [&](Profile* p, Settings*) { p->Port = relay.port(); });
        ProxyServer& proxy = *rig.proxy;
        // events seen by a queued call: it runs only when this thread is free
        const auto eventsSeenByQueuedCall = [&]() {
            int seen = -1;
            QMetaObject::invokeMethod(&proxy, [&]() { seen = rig.events.size(); }, Qt::QueuedConnection);
            return QTest::qWaitFor([&]() { return seen >= 0; }, 60000) ? seen : -1;
        };
        // each start's poller reaches the relay and waits there for the server's greeting
        int connections = 0;
        const auto held = [&]() { return QTest::qWaitFor([&]() { return relay.connections() == connections + 1; }, 60000)
                                         && ++connections; };
        const auto startHeld = [&]() {
            relay.setPaused(true);
            proxy.startProxy();
            return held();
        };
        QVERIFY(startHeld());
        QCOMPARE(eventsSeenByQueuedCall(), 0);
        QVERIFY(proxy.isStarting() && !proxy.isListening());
        proxy.stopProxy(); // the held start is dropped at once
        QVERIFY(!proxy.isStarting() && !proxy.isRunning() && !proxy.isListening());
        proxy.restartProxy(); // not running: nothing
        QVERIFY(!proxy.isStarting() && startHeld());
        proxy.restartProxy(); // while starting: a fresh start
        QVERIFY(proxy.isStarting() && held());
        relay.setPaused(false);
        QVERIFY(rig.settle());
        // the dropped pollers end once the server answers them; only one start's signals reach the proxy
        QTRY_COMPARE_WITH_TIMEOUT(proxy.findChildren<QThread*>().size(), 1, 60000);
        QVERIFY2(rig.events.size() == 2 && rig.events[0].startsWith("stats:") && rig.events[1] == "up",
                 qPrintable(rig.events.join(',')));

        relay.setPaused(true);
        proxy.updateStatistics();
        QCOMPARE(eventsSeenByQueuedCall(), 2);
        relay.setPaused(false);
        QTRY_COMPARE_WITH_TIMEOUT(rig.events.size(), 3, 60000);
        QVERIFY2(rig.events[2].contains(":6/6/4:" + proxy.versionText()), qPrintable(rig.events[2]));

        // the server stops answering during capture: the poll gives up after the read timeout, the
        // reconnection after the connect timeout, and the user is asked for another profile
        rig.events.clear();
        relay.setPaused(true);
        proxy.updateStatistics();
        QTRY_COMPARE_WITH_TIMEOUT(rig.events.size(), 4, 120000);
        QCOMPARE(rig.events, (QStringList{"down", "Error|no_translate", "stop", "profiles"}));
        proxy.stopProxy();
        relay.setPaused(false);
        // destroyed while a start waits for the server: returns all the same
        rig.events.clear();
        QVERIFY(startHeld());
        rig.proxy.reset();
        QVERIFY(rig.events.isEmpty());
        relay.setPaused(false);
    }
};

QTEST_MAIN(TestProxyServer)
#include "tst_proxyserver.moc"
