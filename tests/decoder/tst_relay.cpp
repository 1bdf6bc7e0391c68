// The relay and decoder threads between a real mariadb client and the test
// server: the client sees exactly what it sees without the relay, and the
// decoder reports what was sent.

#include "MysqlProtocol.h"
#include "MysqlWire.h"
#include "Settings.h"
#include "TestDb.h"
#include "ThreadHandler.h"
#include "ThreadSession.h"

#include <QMutex>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

/// What the decoder threads reported, collected across threads.
struct Capture
{
    QMutex lock;
    QStringList logins;
    QList<QVariantList> queries;
    int disconnects = 0;
};

/// How the relay's traffic reaches the decoder.
enum class Wiring { Queue, Signals };

/// Accepts connections in its own thread and wires a relay and a decoder
/// for each, as a session does (Wiring::Queue), or through the relay's
/// per-unit signals.
class RelayListener : public QThread
{
public:
    RelayListener(Capture* capture, QString host, quint16 port, Settings* settings = nullptr,
                  Wiring wiring = Wiring::Queue)
        : capture(capture), host(std::move(host)), port(port), settings(settings), wiring(wiring)
    {
    }
    ~RelayListener() override
    {
        quit();
        wait();
    }
    quint16 listenPort() const { return boundPort.loadAcquire(); }
    /// Asks every relay to close its client side. [thread-safe]
    void stopRelays()
    {
        QMutexLocker l(&relayLock);
        for (ThreadSession* r : relays)
            r->stop();
    }

protected:
    void run() override
    {
        struct Server : QTcpServer
        {
            RelayListener* owner;
            void incomingConnection(qintptr fd) override { owner->wire(int(fd)); }
        } srv;
        srv.owner = this;
        srv.listen(QHostAddress::LocalHost, 0);
        boundPort.storeRelease(srv.serverPort());
        exec();
        srv.close();
        // Objects that live in their own thread are deleted from outside it, once it ended.
        {
            QMutexLocker l(&relayLock);
            relays.clear();
        }
        for (QThread* t : threads) {
            t->quit();
            t->wait();
            delete t;
        }
    }

private:
    void wire(int fd)
    {
        auto* handler = new ThreadHandler;
        auto* relay = settings ? new ThreadSession(fd, settings) : new ThreadSession(fd);
        if (!settings)
            relay->setServerAddress(host, port);
        handler->moveToThread(handler);
        relay->moveToThread(relay);
        Capture* cap = capture;
        if (wiring == Wiring::Queue) {
            relay->handOverTo(handler);
        } else {
            connect(relay, &ThreadSession::clientData, handler, &ThreadHandler::handlerClient, Qt::QueuedConnection);
            connect(relay, &ThreadSession::mysqlData, handler, &ThreadHandler::handlerMysql, Qt::QueuedConnection);
        }
        connect(relay, &ThreadSession::disconnectSession, handler, &ThreadHandler::onDisconnectSession, Qt::QueuedConnection);
        connect(handler, &ThreadHandler::startSession, handler,
                [cap](QDateTime, QString user, QString db, bool ok) {
                    QMutexLocker l(&cap->lock);
                    cap->logins << QStringLiteral("%1 %2 %3").arg(user, db, ok ? "ok" : "failed");
                }, Qt::DirectConnection);
        connect(handler, &ThreadHandler::newQueries, handler, [cap](QList<QVariantList> batch) {
            QMutexLocker l(&cap->lock);
            cap->queries += batch;
        }, Qt::DirectConnection);
        connect(handler, &ThreadHandler::disconnectDb, handler, [cap, handler, relay](QTime) {
            {
                QMutexLocker l(&cap->lock);
                ++cap->disconnects;
            }
            relay->quit();
            handler->quit();
        }, Qt::DirectConnection);
        threads << relay << handler;   // a relay ends before the decoder whose queue it fills
        {
            QMutexLocker l(&relayLock);
            relays << relay;
        }
        handler->start();
        relay->start();
    }

    Capture* capture;
    QString host;
    quint16 port;
    Settings* settings;
    Wiring wiring;
    QAtomicInteger<quint16> boundPort{0};
    QList<QThread*> threads;
    QMutex relayLock;
    QList<ThreadSession*> relays;
};

QStringList texts(Capture& cap)
{
    QMutexLocker l(&cap.lock);
    QStringList out;
    for (const QVariantList& q : cap.queries)
        out << QString::fromUtf8(q.at(2).toByteArray());
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Wiring)

class TestRelay : public QObject
{
    Q_OBJECT
private slots:
    void clientOutputIdentical_data();
    void clientOutputIdentical();
    void failedLogin();
    void durationsAndRows_data();
    void durationsAndRows();
    void profileFromSettings();
    void unreachableServerClosesClient();
    void serverClosingMidPacket();
    void encryptedTrafficPassesUnchanged();
    void clientBytesBeforeServerConnects();
    void stopClosesBothSides();
    void slowPeerHoldsTheOtherBack_data();
    void slowPeerHoldsTheOtherBack();
};

void TestRelay::clientOutputIdentical_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<Wiring>("wiring");
    QTest::newRow("plain") << QStringList{} << Wiring::Queue;
    QTest::newRow("compressed") << QStringList{"--compress"} << Wiring::Queue;
    QTest::newRow("default database") << QStringList{"--database=quarvel_test"} << Wiring::Queue;
    QTest::newRow("plain, signals") << QStringList{} << Wiring::Signals;
    QTest::newRow("compressed, signals") << QStringList{"--compress"} << Wiring::Signals;
}

void TestRelay::clientOutputIdentical()
{
    QFETCH(QStringList, args);
    QFETCH(Wiring, wiring);
    REQUIRE_TESTDB(db);
    const QString sql = QStringLiteral(
        "CREATE DATABASE IF NOT EXISTS quarvel_test;\n"
        "USE quarvel_test;\n"
        "DROP TABLE IF EXISTS relay_t;\n"
        "CREATE TABLE relay_t (id INT PRIMARY KEY, name VARCHAR(200), note TEXT);\n"
        "INSERT INTO relay_t SELECT seq, CONCAT('name-', seq), REPEAT('x', seq % 300) FROM seq_1_to_5000;\n"
        "SELECT * FROM relay_t ORDER BY id;\n"
        "SELECT COUNT(*), SUM(LENGTH(note)) FROM relay_t;\n"
        "SELECT nope FROM relay_t;\n");
    int directExit = -1, relayExit = -1;
    const QString direct = db.runClient(sql, args + QStringList{"--force"}, &directExit);
    QVERIFY(direct.contains("name-4999"));

    Capture cap;
    RelayListener listener(&cap, db.host, db.port, nullptr, wiring);
    listener.start();
    QTRY_VERIFY(listener.listenPort() != 0);
    const QString relayed = db.runClient(sql, args + QStringList{"--force"}, &relayExit, listener.listenPort());
    QCOMPARE(relayExit, directExit);
    QCOMPARE(relayed.size(), direct.size());
    QVERIFY(relayed == direct);
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&cap.lock); return cap.disconnects == 1; }(), 30000);
    // Every statement of the script was captured once, the failing one as an error.
    const QStringList got = texts(cap);
    QCOMPARE(got.count("SELECT * FROM relay_t ORDER BY id"), 1);
    QCOMPARE(got.count("SELECT nope FROM relay_t"), 1);
    {
        QMutexLocker l(&cap.lock);
        for (const QVariantList& q : cap.queries) {
            if (q.at(2).toByteArray() == "SELECT * FROM relay_t ORDER BY id")
                QCOMPARE(q.at(5).toInt(), 5000);
            if (q.at(2).toByteArray() == "SELECT nope FROM relay_t")
                QVERIFY(q.at(6).toBool());
        }
        QCOMPARE(cap.logins.size(), 1);
        QVERIFY(cap.logins.first().endsWith(" ok"));
    }
    listener.quit();
    listener.wait();
}

void TestRelay::failedLogin()
{
    REQUIRE_TESTDB(db);
    Capture cap;
    RelayListener listener(&cap, db.host, db.port);
    listener.start();
    QTRY_VERIFY(listener.listenPort() != 0);
    int exitCode = 0;
    db.runClient("SELECT 1;\n", {"--password=wrong-password"}, &exitCode, listener.listenPort());
    QVERIFY(exitCode != 0);
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&cap.lock); return cap.disconnects == 1; }(), 30000);
    QMutexLocker l(&cap.lock);
    QCOMPARE(cap.logins, QStringList{QStringLiteral("%1  failed").arg(db.user)});
    QVERIFY(cap.queries.isEmpty());
    l.unlock();
    listener.quit();
    listener.wait();
}

void TestRelay::durationsAndRows_data()
{
    QTest::addColumn<Wiring>("wiring");
    QTest::newRow("queue") << Wiring::Queue;
    QTest::newRow("signals") << Wiring::Signals;
}

void TestRelay::durationsAndRows()
{
    QFETCH(Wiring, wiring);
    REQUIRE_TESTDB(db);
    Capture cap;
    RelayListener listener(&cap, db.host, db.port, nullptr, wiring);
    listener.start();
    QTRY_VERIFY(listener.listenPort() != 0);
    const QString sql = QStringLiteral(
        "SELECT SLEEP(0.3);\n"
        "SELECT seq, REPEAT('r', 100) FROM seq_1_to_20000;\n"
        "DELIMITER //\n"
        "SELECT 1; SELECT 2, 3 UNION SELECT 4, 5//\n"
        "DELIMITER ;\n");
    int exitCode = -1;
    db.runClient(sql, {"--database=quarvel_test"}, &exitCode, listener.listenPort());
    QCOMPARE(exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&cap.lock); return cap.disconnects == 1; }(), 30000);
    QMutexLocker l(&cap.lock);
    QVariantList sleep, big, multi;
    for (const QVariantList& q : cap.queries) {
        QCOMPARE(q.size(), 7);
        const QByteArray t = q.at(2).toByteArray();
        if (t.startsWith("SELECT SLEEP"))
            sleep = q;
        else if (t.startsWith("SELECT seq"))
            big = q;
        else if (t.startsWith("SELECT 1"))
            multi = q;
    }
    QVERIFY(!sleep.isEmpty() && !big.isEmpty() && !multi.isEmpty());
    // The server cannot answer before the sleep is over.
    QVERIFY2(sleep.at(1).toDouble() >= 300.0, qPrintable(sleep.at(1).toString()));
    QCOMPARE(sleep.at(5).toInt(), 1);
    QCOMPARE(big.at(5).toInt(), 20000);
    // Each row: lenenc(seq digits) + seq digits + 1 + 100 bytes.
    quint64 bytes = 0;
    for (int i = 1; i <= 20000; ++i)
        bytes += 1 + QByteArray::number(i).size() + 1 + 100;
    QCOMPARE(big.at(4).toFloat(), float(double(bytes) / 1024.0));
    QVERIFY(!big.at(6).toBool());
    // The client sends the line as one multi-statement query: both result sets count.
    QCOMPARE(multi.at(5).toInt(), 3);
    l.unlock();
    listener.quit();
    listener.wait();
}

void TestRelay::profileFromSettings()
{
    REQUIRE_TESTDB(db);
    Settings settings;
    auto* profile = new Profile;
    profile->Host = db.host;
    profile->Port = db.port;
    qDeleteAll(settings.profiles);
    settings.profiles = {profile};
    settings.CurrentProfile = 0;
    Capture cap;
    RelayListener listener(&cap, {}, 0, &settings);
    listener.start();
    QTRY_VERIFY(listener.listenPort() != 0);
    int exitCode = -1;
    const QString out = db.runClient("SELECT 'through the profile';\n", {}, &exitCode, listener.listenPort());
    QCOMPARE(exitCode, 0);
    QCOMPARE(out, QStringLiteral("through the profile\n"));
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&cap.lock); return cap.disconnects == 1; }(), 30000);
    QVERIFY(texts(cap).contains("SELECT 'through the profile'"));
    listener.quit();
    listener.wait();
}

void TestRelay::unreachableServerClosesClient()
{
    // A port that nobody listens on.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 deadPort = probe.serverPort();
    probe.close();

    Capture cap;
    RelayListener listener(&cap, QStringLiteral("127.0.0.1"), deadPort);
    listener.start();
    QTRY_VERIFY(listener.listenPort() != 0);
    QTcpSocket client;
    QSignalSpy closed(&client, &QTcpSocket::disconnected);
    client.connectToHost(QHostAddress::LocalHost, listener.listenPort());
    QVERIFY(client.waitForConnected(10000));
    // The relay closes the client instead of leaving it waiting for a greeting.
    QVERIFY(closed.wait(60000));
    QCOMPARE(client.bytesAvailable(), 0);
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&cap.lock); return cap.disconnects == 1; }(), 30000);
    listener.quit();
    listener.wait();
}

void TestRelay::serverClosingMidPacket()
{
    // A stand-in server that sends a greeting, then half of a packet, and closes.
    QTcpServer fake;
    QVERIFY(fake.listen(QHostAddress::LocalHost, 0));
    Capture cap;
    RelayListener listener(&cap, QStringLiteral("127.0.0.1"), fake.serverPort());
    listener.start();
    QTRY_VERIFY(listener.listenPort() != 0);
    QTcpSocket client;
    QSignalSpy closed(&client, &QTcpSocket::disconnected);
    client.connectToHost(QHostAddress::LocalHost, listener.listenPort());
    QVERIFY(client.waitForConnected(10000));
    QVERIFY(fake.waitForNewConnection(30000));
    QTcpSocket* peer = fake.nextPendingConnection();
    const QByteArray sent = QByteArray::fromHex("0500000000") + "hello" + QByteArray::fromHex("64000001") + "only part";
    peer->write(sent.left(6));
    QVERIFY(peer->waitForBytesWritten(10000));
    QTRY_COMPARE_WITH_TIMEOUT(client.bytesAvailable(), qint64(6), 30000);
    peer->write(sent.mid(6));
    peer->disconnectFromHost();
    // Everything the server sent arrives, then the relay closes the client.
    QVERIFY(closed.wait(60000) || client.state() == QAbstractSocket::UnconnectedState);
    QCOMPARE(client.readAll(), sent);
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&cap.lock); return cap.disconnects == 1; }(), 30000);
}

namespace {
/// The byte at position i of a long generated stream.
char streamByte(qint64 i)
{
    return char((i * 7 + (i >> 13)) & 0xFF);
}
} // namespace

void TestRelay::encryptedTrafficPassesUnchanged()
{
    // After an SSL request the rest is TLS: the relay still forwards every
    // byte both ways, the decoder reports the login as unknown and nothing else.
    QTcpServer fake;
    QVERIFY(fake.listen(QHostAddress::LocalHost, 0));
    Capture cap;
    RelayListener listener(&cap, QStringLiteral("127.0.0.1"), fake.serverPort());
    listener.start();
    QTRY_VERIFY(listener.listenPort() != 0);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener.listenPort());
    QVERIFY(client.waitForConnected(10000));
    QVERIFY(fake.waitForNewConnection(30000));
    QTcpSocket* peer = fake.nextPendingConnection();

    QByteArray toClient, toServer;   // what each end received
    connect(&client, &QTcpSocket::readyRead, this, [&] { toClient += client.readAll(); });
    connect(peer, &QTcpSocket::readyRead, this, [&] { toServer += peer->readAll(); });
    const QByteArray greet = wire::greeting(0xFFFFFFFE | mysql::CLIENT_SSL);
    peer->write(greet);
    QTRY_COMPARE_WITH_TIMEOUT(toClient, greet, 30000);
    const QByteArray sslRequest = wire::packet(
        wire::le(wire::BaseCaps | mysql::CLIENT_SSL, 4) + wire::le(16 << 20, 4) + char(33) + QByteArray(23, '\0'), 1);
    // Records that could pass for packets, commands included.
    QByteArray fromClient = sslRequest, fromServer = greet;
    QRandomGenerator rng(11);
    for (int i = 0; i < 300; ++i) {
        QByteArray c = i % 3 == 0 ? wire::query("SELECT " + QByteArray::number(i)) : QByteArray(int(rng.bounded(1, 3000)), 0);
        for (int k = i % 3 == 0 ? c.size() : 0; k < c.size(); ++k)
            c[k] = char(rng.bounded(256));
        QByteArray r(int(rng.bounded(1, 9000)), Qt::Uninitialized);
        for (char& b : r)
            b = char(rng.bounded(256));
        client.write(i == 0 ? sslRequest + c : c);
        peer->write(r);
        fromClient += c;
        fromServer += r;
    }
    QTRY_VERIFY_WITH_TIMEOUT(toServer.size() >= fromClient.size() && toClient.size() >= fromServer.size(), 60000);
    QVERIFY(toServer == fromClient);
    QVERIFY(toClient == fromServer);
    client.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&cap.lock); return cap.disconnects == 1; }(), 30000);
    QMutexLocker l(&cap.lock);
    QCOMPARE(cap.logins, QStringList{"unknown  ok"});
    QVERIFY(cap.queries.isEmpty());
}

void TestRelay::clientBytesBeforeServerConnects()
{
    // The server's name is still being looked up when the client already
    // sends: its bytes wait and reach the server, in order, once connected.
    QTcpServer fake;
    QVERIFY(fake.listen(QHostAddress::LocalHost, 0));
    Capture cap;
    RelayListener listener(&cap, QStringLiteral("localhost"), fake.serverPort());
    listener.start();
    QTRY_VERIFY(listener.listenPort() != 0);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener.listenPort());
    QVERIFY(client.waitForConnected(10000));
    const QByteArray early = wire::query("SELECT 'early'") + wire::query(QByteArray(70000, 'e'));
    client.write(early);
    QVERIFY(client.waitForBytesWritten(10000));
    QVERIFY(fake.waitForNewConnection(30000));
    QTcpSocket* peer = fake.nextPendingConnection();
    QByteArray got;
    connect(peer, &QTcpSocket::readyRead, this, [&] { got += peer->readAll(); });
    got += peer->readAll();
    QTRY_VERIFY_WITH_TIMEOUT(got.size() >= early.size(), 30000);
    QVERIFY(got == early);
    peer->write("answer");
    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT((answer += client.readAll()).size() >= 6, 30000);
    QCOMPARE(answer, QByteArray("answer"));
    client.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&cap.lock); return cap.disconnects == 1; }(), 30000);
}

void TestRelay::stopClosesBothSides()
{
    QTcpServer fake;
    QVERIFY(fake.listen(QHostAddress::LocalHost, 0));
    Capture cap;
    RelayListener listener(&cap, QStringLiteral("127.0.0.1"), fake.serverPort());
    listener.start();
    QTRY_VERIFY(listener.listenPort() != 0);
    QTcpSocket client;
    QSignalSpy clientClosed(&client, &QTcpSocket::disconnected);
    client.connectToHost(QHostAddress::LocalHost, listener.listenPort());
    QVERIFY(client.waitForConnected(10000));
    QVERIFY(fake.waitForNewConnection(30000));
    QTcpSocket* peer = fake.nextPendingConnection();
    QSignalSpy serverClosed(peer, &QTcpSocket::disconnected);
    peer->write(wire::greeting(0xFFFFFFFE));
    QTRY_VERIFY_WITH_TIMEOUT(client.bytesAvailable() > 0, 30000);
    listener.stopRelays();
    QTRY_VERIFY_WITH_TIMEOUT(clientClosed.count() == 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(serverClosed.count() == 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&cap.lock); return cap.disconnects == 1; }(), 30000);
}

void TestRelay::slowPeerHoldsTheOtherBack_data()
{
    QTest::addColumn<bool>("slowClient");
    QTest::newRow("slow client") << true;
    QTest::newRow("slow server") << false;
}

void TestRelay::slowPeerHoldsTheOtherBack()
{
    // One side sends far more than all buffers on the way can hold while the
    // other does not read: the relay must stop reading instead of piling the
    // stream up in memory, and deliver all of it, unchanged, once the reader
    // reads again.
    QFETCH(bool, slowClient);
    constexpr qint64 Total = 96 << 20;
    QTcpServer fake;
    QVERIFY(fake.listen(QHostAddress::LocalHost, 0));
    Capture cap;
    RelayListener listener(&cap, QStringLiteral("127.0.0.1"), fake.serverPort());
    listener.start();
    QTRY_VERIFY(listener.listenPort() != 0);
    QTcpSocket client;
    client.setReadBufferSize(64 << 10);
    client.connectToHost(QHostAddress::LocalHost, listener.listenPort());
    QVERIFY(client.waitForConnected(10000));
    QVERIFY(fake.waitForNewConnection(30000));
    QTcpSocket* peer = fake.nextPendingConnection();
    peer->setReadBufferSize(64 << 10);
    QTcpSocket* writer = slowClient ? peer : &client;
    QTcpSocket* reader = slowClient ? &client : peer;
    reader->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 << 10);

    qint64 handed = 0;   // bytes given to the writer socket
    auto feed = [&] {
        while (handed < Total && writer->bytesToWrite() < (1 << 20)) {
            QByteArray chunk(int(qMin<qint64>(256 << 10, Total - handed)), Qt::Uninitialized);
            for (int i = 0; i < chunk.size(); ++i)
                chunk[i] = streamByte(handed + i);
            writer->write(chunk);
            handed += chunk.size();
        }
    };
    connect(writer, &QTcpSocket::bytesWritten, this, feed);
    feed();
    // Let the writer push until it makes no more progress.
    qint64 out = -1;
    while (out != handed - writer->bytesToWrite()) {
        out = handed - writer->bytesToWrite();
        QTest::qWait(500);
    }
    QVERIFY2(out < Total, "the relay took the whole stream while nobody read it");

    qint64 received = 0;
    qint64 firstWrong = -1;
    auto drain = [&] {
        const QByteArray got = reader->readAll();
        for (int i = 0; i < got.size(); ++i)
            if (firstWrong < 0 && got[i] != streamByte(received + i))
                firstWrong = received + i;
        received += got.size();
    };
    connect(reader, &QTcpSocket::readyRead, this, drain);
    reader->setReadBufferSize(0);
    drain();
    QTRY_VERIFY_WITH_TIMEOUT(received >= Total, 600000);
    QCOMPARE(received, Total);
    QCOMPARE(firstWrong, qint64(-1));
    client.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&cap.lock); return cap.disconnects == 1; }(), 30000);
}

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
