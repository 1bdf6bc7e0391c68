// The proxy server against the real test server: start and stop, failures,
// tunnelling, listening address, the statistics connection's options.
#include "MngrSessions.h"
#include "ProxyServer.h"
#include "ProxyTestUtil.h"
#include "Settings.h"
#include "languageEngine.h"

#include <QNetworkInterface>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QtTest>

namespace {
/// True when a TCP connection to address:port is accepted.
bool accepts(const QHostAddress& address, quint16 port)
{
    QTcpSocket s;
    s.connectToHost(address, port);
    const bool ok = s.waitForConnected(5000);
    s.abort();
    return ok;
}

/// A non-loopback IPv4 address of this machine, if it has one.
QHostAddress externalAddress()
{
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            return a;
    return QHostAddress();
}
} // namespace

class TestProxyServer : public QObject
{
    Q_OBJECT
private slots:
    void startWithGoodProfile();
    void statusCheckOff();
    void unreachableServerNeverListens();
    void messagesWithoutLanguage();
    void alwaysTunneling();
    void loopbackOnlyOrAllInterfaces();
    void stopClosesActiveClients();
    void portInUse();
    void localSocketWithCompression();
    void restartOnlyWhenRunning();
};

void TestProxyServer::startWithGoodProfile()
{
    REQUIRE_TESTDB(db);
    Settings settings;
    useTestServer(&settings, db);
    languageEngine le(&settings);
    QVERIFY(le.loadLanguage(settings.Language));
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, &le);
    QVERIFY(!proxy.isListening());
    QVERIFY(!proxy.dbIsOpen());

    QSignalSpy state(&proxy, &ProxyServer::serverStateChanged);
    QSignalSpy stats(&proxy, &ProxyServer::updateStatSignal);
    QSignalSpy errors(&proxy, &ProxyServer::errorReported);
    proxy.startProxy();
    QCOMPARE(errors.count(), 0);
    QVERIFY(proxy.isListening());
    QVERIFY(proxy.isRunning());
    QVERIFY(proxy.dbIsOpen());
    QCOMPARE(proxy.serverAddress(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(proxy.serverPort(), quint16(settings.currentProfile()->ProfilerPort));
    QVERIFY2(QRegularExpression(QStringLiteral("^10\\.11\\.\\S+ \\(.+\\)$")).match(proxy.versionText()).hasMatch(),
             qPrintable(proxy.versionText()));
    QCOMPARE(state.count(), 1);
    QCOMPARE(state.at(0).at(0).toBool(), true);
    // one poll at start: 6 server rates, 6 profiler rates, 4 graph values, all rates 0
    QCOMPARE(stats.count(), 1);
    const QList<QVariant> first = stats.at(0);
    QVERIFY(first.at(0).toString().contains(QRegularExpression(QStringLiteral("^\\d+ days? \\d\\d:\\d\\d$"))));
    const QList<double> params = first.at(1).value<QList<double>>();
    QCOMPARE(params, (QList<double>{0, 0, 0, 0, 0, 0}));
    QCOMPARE(first.at(2).value<QList<double>>().size(), 6);
    const QList<double> graph = first.at(3).value<QList<double>>();
    QCOMPARE(graph.size(), 4);
    QVERIFY(graph[1] >= 1); // our own statistics connection at least
    QCOMPARE(first.at(4).toString(), proxy.versionText());

    // a client through the profiler port reaches the server
    int code = -1;
    const QString answer = runClientLive(db, QStringLiteral("SELECT 6*7;\n"), proxy.serverPort(), &code);
    QCOMPARE(code, 0);
    QCOMPARE(answer.trimmed(), QStringLiteral("42"));

    proxy.stopProxy();
    QVERIFY(!proxy.isListening());
    QVERIFY(!proxy.isRunning());
    QVERIFY(!proxy.dbIsOpen());
    QCOMPARE(state.count(), 2);
    QCOMPARE(state.at(1).at(0).toBool(), false);
    QVERIFY(!accepts(QHostAddress::LocalHost, quint16(settings.currentProfile()->ProfilerPort)));
}

void TestProxyServer::statusCheckOff()
{
    REQUIRE_TESTDB(db);
    Settings settings;
    useTestServer(&settings, db);
    settings.currentProfile()->StatusCheck = false;
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    QSignalSpy stats(&proxy, &ProxyServer::updateStatSignal);
    proxy.startProxy();
    QVERIFY(proxy.isRunning());
    QCOMPARE(stats.count(), 1);
    QCOMPARE(stats.at(0).at(0).toString(), QStringLiteral("None"));
    QVERIFY(stats.at(0).at(1).value<QList<double>>().isEmpty());
    QVERIFY(stats.at(0).at(2).value<QList<double>>().isEmpty());
    QVERIFY(stats.at(0).at(3).value<QList<double>>().isEmpty());
    QCOMPARE(stats.at(0).at(4).toString(), proxy.versionText());
    QVERIFY(!proxy.versionText().isEmpty());
    // nothing polls afterwards
    QTest::qWait(1500);
    QCOMPARE(stats.count(), 1);
    proxy.stopProxy();
}

void TestProxyServer::unreachableServerNeverListens()
{
    REQUIRE_TESTDB(db);
    Settings settings;
    useTestServer(&settings, db);
    settings.currentProfile()->Port = freePort(); // nobody there
    languageEngine le(&settings);
    QVERIFY(le.loadLanguage(settings.Language));
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, &le);

    QStringList events;
    QObject::connect(&proxy, &ProxyServer::errorReported, [&](const QString& title, const QString& text) {
        events << QStringLiteral("error:") + title + QLatin1Char('|') + text;
    });
    QObject::connect(&proxy, &ProxyServer::stopCaptureRequested, [&]() { events << QStringLiteral("stop"); });
    QObject::connect(&proxy, &ProxyServer::profilesDialogRequested, [&]() { events << QStringLiteral("profiles"); });
    QSignalSpy state(&proxy, &ProxyServer::serverStateChanged);
    proxy.startProxy();
    QCOMPARE(events, (QStringList{QStringLiteral("error:") + le.errors(QStringLiteral("error_str")) + QLatin1Char('|')
                                      + le.errors(QStringLiteral("mysql_conn_error")),
                                  QStringLiteral("stop")}));
    QVERIFY(le.errors(QStringLiteral("mysql_conn_error")) != languageEngine::missingText());
    QVERIFY(!proxy.lastDatabaseError().isEmpty());
    QVERIFY(!proxy.isListening());
    QVERIFY(!proxy.isRunning());
    QVERIFY(!proxy.dbIsOpen());
    QCOMPARE(state.count(), 0);
    QVERIFY(!accepts(QHostAddress::LocalHost, quint16(settings.currentProfile()->ProfilerPort)));
    // polling a proxy that never started does nothing
    QSignalSpy stats(&proxy, &ProxyServer::updateStatSignal);
    proxy.updateStatistics();
    QCOMPARE(stats.count(), 0);
    // the window's stop then calls stopProxy: harmless
    proxy.stopProxy();
    QCOMPARE(state.count(), 0);
}

void TestProxyServer::messagesWithoutLanguage()
{
    REQUIRE_TESTDB(db);
    Settings settings;
    useTestServer(&settings, db);
    settings.currentProfile()->Port = freePort();
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    QSignalSpy errors(&proxy, &ProxyServer::errorReported);
    proxy.startProxy();
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Error"));
    QCOMPARE(errors.at(0).at(1).toString(), QStringLiteral("no_translate"));
}

void TestProxyServer::alwaysTunneling()
{
    REQUIRE_TESTDB(db);
    Settings settings;
    useTestServer(&settings, db);
    settings.AlwaysTunneling = true;
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    const quint16 port = quint16(settings.currentProfile()->ProfilerPort);

    // relays before profiling starts
    QVERIFY(proxy.isListening());
    QVERIFY(!proxy.isRunning());
    int code = -1;
    QCOMPARE(runClientLive(db, QStringLiteral("SELECT 'before';\n"), port, &code).trimmed(), QStringLiteral("before"));
    QCOMPARE(code, 0);

    proxy.startProxy();
    QVERIFY(proxy.isRunning());
    QVERIFY(proxy.isListening());
    QCOMPARE(runClientLive(db, QStringLiteral("SELECT 'during';\n"), port, &code).trimmed(), QStringLiteral("during"));

    // and after it stopped
    proxy.stopProxy();
    QVERIFY(!proxy.isRunning());
    QVERIFY(!proxy.dbIsOpen());
    QVERIFY(proxy.isListening());
    QCOMPARE(runClientLive(db, QStringLiteral("SELECT 'after';\n"), port, &code).trimmed(), QStringLiteral("after"));
    QCOMPARE(code, 0);
    // the sessions were all recorded
    QTRY_COMPARE(mngr.sessions.size(), 3);
}

void TestProxyServer::loopbackOnlyOrAllInterfaces()
{
    REQUIRE_TESTDB(db);
    const QHostAddress external = externalAddress();
    for (const bool network : {false, true}) {
        Settings settings;
        useTestServer(&settings, db);
        settings.currentProfile()->NetworkConnections = network;
        MngrSessions mngr(&settings);
        ProxyServer proxy(&settings, &mngr, nullptr);
        proxy.startProxy();
        QVERIFY(proxy.isListening());
        const quint16 port = proxy.serverPort();
        QCOMPARE(proxy.serverAddress(),
                 network ? QHostAddress(QHostAddress::Any) : QHostAddress(QHostAddress::LocalHost));
        QVERIFY(accepts(QHostAddress::LocalHost, port));
        if (!external.isNull())
            QCOMPARE(accepts(external, port), network);
        proxy.stopProxy();
    }
    if (external.isNull())
        QSKIP("no non-loopback address on this machine: only the bound address was checked");
}

void TestProxyServer::stopClosesActiveClients()
{
    REQUIRE_TESTDB(db);
    Settings settings;
    useTestServer(&settings, db);
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    proxy.startProxy();
    QVERIFY(proxy.isRunning());

    // a client that got the server's greeting through the relay and then idles
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, proxy.serverPort());
    QVERIFY(client.waitForConnected(5000));
    QTRY_VERIFY_WITH_TIMEOUT(client.bytesAvailable() > 4, 10000);
    const QByteArray greeting = client.readAll();
    QCOMPARE(quint8(greeting.at(4)), quint8(10)); // protocol version of the greeting
    QTRY_COMPARE(mngr.activeSessions.size(), 1);

    QSignalSpy closed(&client, &QTcpSocket::disconnected);
    proxy.stopProxy();
    QVERIFY(closed.count() == 1 || closed.wait(10000));
    QCOMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(mngr.activeSessions.isEmpty());
}

void TestProxyServer::portInUse()
{
    REQUIRE_TESTDB(db);
    Settings settings;
    useTestServer(&settings, db);
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    settings.currentProfile()->ProfilerPort = occupant.serverPort();
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);

    QStringList events;
    QObject::connect(&proxy, &ProxyServer::updateStatSignal,
                     [&](const QString& uptime, const QList<double>& p, const QList<double>&, const QList<double>&,
                         const QString& version) {
                         events << QStringLiteral("stats:%1:%2:%3").arg(uptime).arg(p.size()).arg(version);
                     });
    QObject::connect(&proxy, &ProxyServer::errorReported,
                     [&](const QString& title, const QString& text) { events << title + QLatin1Char('|') + text; });
    QObject::connect(&proxy, &ProxyServer::stopCaptureRequested, [&]() { events << QStringLiteral("stop"); });
    proxy.startProxy();
    QVERIFY(!proxy.isListening());
    QVERIFY(!proxy.isRunning());
    // the start poll, then the reset of the statistics page, the listener's own error, the stop
    QCOMPARE(events.size(), 4);
    QVERIFY(events[0].startsWith(QStringLiteral("stats:")));
    QCOMPARE(events[1], QStringLiteral("stats:None:0:None"));
    QCOMPARE(events[2], QStringLiteral("Error|") + proxy.errorString());
    QVERIFY(!proxy.errorString().isEmpty());
    QCOMPARE(proxy.serverError(), QAbstractSocket::AddressInUseError);
    QCOMPARE(events[3], QStringLiteral("stop"));
    // the statistics connection stays open until the resulting stop
    QVERIFY(proxy.dbIsOpen());
    proxy.stopProxy();
    QVERIFY(!proxy.dbIsOpen());
}

void TestProxyServer::localSocketWithCompression()
{
    REQUIRE_TESTDB(db);
    Settings settings;
    useTestServer(&settings, db);
    Profile* p = settings.currentProfile();
    p->ConnectionMethod = 1;
    p->Socket = db.socket;
    p->Compression = true;
    p->Host = QStringLiteral("localhost");
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    QCOMPARE(proxy.connectOptions(), QStringLiteral("UNIX_SOCKET=") + db.socket + QStringLiteral(";CLIENT_COMPRESS=1;"));
    p->Compression = false;
    QCOMPARE(proxy.connectOptions(), QStringLiteral("UNIX_SOCKET=") + db.socket + QLatin1Char(';'));
    p->Compression = true;
    p->ConnectionMethod = 0;
    QCOMPARE(proxy.connectOptions(), QStringLiteral("CLIENT_COMPRESS=1;"));
    p->ConnectionMethod = 1;

    // the options really reach the driver: the connection goes by the socket, compressed
    QVERIFY2(proxy.connect(), qPrintable(proxy.lastDatabaseError()));
    QSqlQuery q(proxy.database());
    QVERIFY(q.exec(QStringLiteral("SHOW SESSION STATUS LIKE 'Compression'")));
    QVERIFY(q.next());
    QCOMPARE(q.value(1).toString(), QStringLiteral("ON"));
    QVERIFY(q.exec(QStringLiteral("SELECT @@port, USER()")));
    QVERIFY(q.next());
    QVERIFY2(q.value(1).toString().endsWith(QStringLiteral("@localhost")), qPrintable(q.value(1).toString()));
    q.finish();
    proxy.stop();
    QVERIFY(!proxy.dbIsOpen());
}

void TestProxyServer::restartOnlyWhenRunning()
{
    REQUIRE_TESTDB(db);
    Settings settings;
    useTestServer(&settings, db);
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    QSignalSpy state(&proxy, &ProxyServer::serverStateChanged);
    proxy.restartProxy();
    QVERIFY(!proxy.isListening());
    QCOMPARE(state.count(), 0);

    proxy.startProxy();
    const quint16 oldPort = proxy.serverPort();
    // a new profiler port takes effect on restart
    settings.currentProfile()->ProfilerPort = freePort();
    proxy.restartProxy();
    QVERIFY(proxy.isRunning());
    QCOMPARE(proxy.serverPort(), quint16(settings.currentProfile()->ProfilerPort));
    QVERIFY(!accepts(QHostAddress::LocalHost, oldPort));
    // started, stopped, started
    QCOMPARE(state.count(), 3);
    proxy.stopProxy();
}

QTEST_MAIN(TestProxyServer)
#include "tst_proxyserver.moc"
