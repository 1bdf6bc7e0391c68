// The relay and decoder threads of a session between a client and the test
// server (or a stand-in): the client sees exactly what it sees without the
// relay, every byte passes both ways, and the statements sent are recorded.

#include "MysqlWire.h"
#include "Session.h"
#include "Settings.h"
#include "TestDb.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

/// Accepts connections and gives each to a session, towards `host`:`port`.
class Relays : public QTcpServer
{
public:
    Relays(const QString& host, quint16 port)
    {
        qDeleteAll(settings.profiles);
        settings.profiles = {new Profile};
        settings.CurrentProfile = 0;
        settings.currentProfile()->Host = host;
        settings.currentProfile()->Port = port;
        listen(QHostAddress::LocalHost, 0);
    }
    ~Relays() override
    {
        qDeleteAll(sessions);   // ends the relay and decoder threads
        qDeleteAll(records);
    }
    QList<Session*> sessions;
    QList<SessionData*> records;
    int closed = 0;

protected:
    void incomingConnection(qintptr fd) override
    {
        auto* s = new Session(int(fd), &settings);
        connect(s, &Session::add, this, [this](SessionData* d) { records << d; });
        connect(s, &Session::close, this, [this] { ++closed; });
        sessions << s;
    }

private:
    Settings settings;
};

/// A relay between a test socket and a stand-in server on this machine.
struct Rig
{
    QTcpServer fake;
    std::unique_ptr<Relays> relays;
    QTcpSocket client;
    QTcpSocket* peer = nullptr;

    /// Starts the relay towards `host` (the stand-in unless `port` is given) and connects the client.
    bool connectClient(const QString& host = QStringLiteral("127.0.0.1"), quint16 port = 0)
    {
        if (!port && !fake.listen(QHostAddress::LocalHost, 0))
            return false;
        relays = std::make_unique<Relays>(host, port ? port : fake.serverPort());
        client.connectToHost(QHostAddress::LocalHost, relays->serverPort());
        return client.waitForConnected(10000);
    }
    bool acceptPeer()
    {
        return QTest::qWaitFor([this] { return fake.hasPendingConnections(); }, 30000)
            && (peer = fake.nextPendingConnection()) != nullptr;
    }
};

/// The byte at position i of a long generated stream.
char streamByte(qint64 i) { return char((i * 7 + (i >> 13)) & 0xFF); }

} // namespace

class TestRelay : public QObject
{
    Q_OBJECT
private slots:
    void clientOutputIdentical_data();
    void clientOutputIdentical();
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
    QTest::newRow("plain") << QStringList{};
    QTest::newRow("compressed, default database") << QStringList{"--compress", "--database=quarvel_test"};
}

void TestRelay::clientOutputIdentical()
{
    // A real client sees the same through the relay as without it; every
    // statement is recorded once with its rows, size and duration.
    QFETCH(QStringList, args);
    REQUIRE_TESTDB(db);
    const QString sql = QStringLiteral(
        "CREATE DATABASE IF NOT EXISTS quarvel_test;\n"
        "USE quarvel_test;\n"
        "DROP TABLE IF EXISTS relay_t;\n"
        "CREATE TABLE relay_t (id INT PRIMARY KEY, name VARCHAR(200), note TEXT);\n"
        "INSERT INTO relay_t SELECT seq, CONCAT('name-', seq), REPEAT('x', seq % 300) FROM seq_1_to_5000;\n"
        "SELECT * FROM relay_t ORDER BY id;\n"
        "SELECT COUNT(*), SUM(LENGTH(note)) FROM relay_t;\n"
        "SELECT nope FROM relay_t;\n"
        "SELECT SLEEP(0.3);\n"
        "DELIMITER //\n"
        "SELECT 1; SELECT 2, 3 UNION SELECT 4, 5//\n"
        "DELIMITER ;\n");
    args << "--force";
    int directExit = -1, relayExit = -1;
    const QString direct = db.runClient(sql, args, &directExit);
    QVERIFY(direct.contains("name-4999"));
    Relays relays(db.host, db.port);
    QString relayed;
    std::unique_ptr<QThread> client(QThread::create([&] { relayed = db.runClient(sql, args, &relayExit, relays.serverPort()); }));
    client->start();
    QTRY_VERIFY_WITH_TIMEOUT(client->isFinished(), 120000);
    QCOMPARE(relayExit, directExit);
    QCOMPARE(relayed.size(), direct.size());
    QVERIFY(relayed == direct);
    QTRY_COMPARE_WITH_TIMEOUT(relays.closed, 1, 30000);
    QCOMPARE(relays.records.size(), 1);
    QVERIFY(relays.records[0]->authenticated);
    QMap<QString, const Query*> got;
    for (const Query* q : relays.records[0]->queries) {
        QVERIFY2(!got.contains(q->text), qPrintable(q->text));
        got[q->text] = q;
    }
    const Query* all = got.value("SELECT * FROM relay_t ORDER BY id");
    const Query* nope = got.value("SELECT nope FROM relay_t");
    const Query* sleep = got.value("SELECT SLEEP(0.3)");
    const Query* multi = got.value("SELECT 1; SELECT 2, 3 UNION SELECT 4, 5");
    QVERIFY(all && nope && sleep && multi);
    // Row payloads: lenenc id, lenenc "name-<id>", lenenc note (3-byte length from 251 on).
    quint64 bytes = 0;
    for (int i = 1; i <= 5000; ++i)
        bytes += 2 * (1 + QByteArray::number(i).size()) + 5 + (i % 300 < 251 ? 1 : 3) + i % 300;
    QCOMPARE(all->rows, 5000u);
    QCOMPARE(all->responseKb, float(double(bytes) / 1024.0));
    QVERIFY(!all->isError && nope->isError);
    // The server cannot answer before the sleep is over.
    QVERIFY2(sleep->durationMs >= 300.0, qPrintable(QString::number(sleep->durationMs)));
    QCOMPARE(sleep->rows, 1u);
    // The client sends the line as one multi-statement query: both result sets count.
    QCOMPARE(multi->rows, 3u);
}

void TestRelay::unreachableServerClosesClient()
{
    QTcpServer probe;   // a port that nobody listens on
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 deadPort = probe.serverPort();
    probe.close();
    Rig rig;
    QSignalSpy closed(&rig.client, &QTcpSocket::disconnected);
    QVERIFY(rig.connectClient("127.0.0.1", deadPort));
    // The relay closes the client instead of leaving it waiting for a greeting.
    QVERIFY(closed.wait(60000));
    QCOMPARE(rig.client.bytesAvailable(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.relays->closed, 1, 30000);
}

void TestRelay::serverClosingMidPacket()
{
    // The server sends a greeting, then half of a packet, and closes.
    Rig rig;
    QSignalSpy closed(&rig.client, &QTcpSocket::disconnected);
    QVERIFY(rig.connectClient());
    QVERIFY(rig.acceptPeer());
    const QByteArray sent = QByteArray::fromHex("0500000000") + "hello" + QByteArray::fromHex("64000001") + "only part";
    rig.peer->write(sent.left(6));
    QVERIFY(rig.peer->waitForBytesWritten(10000));
    QTRY_COMPARE_WITH_TIMEOUT(rig.client.bytesAvailable(), qint64(6), 30000);
    rig.peer->write(sent.mid(6));
    rig.peer->disconnectFromHost();
    // Everything the server sent arrives, then the relay closes the client.
    QVERIFY(closed.wait(60000) || rig.client.state() == QAbstractSocket::UnconnectedState);
    QCOMPARE(rig.client.readAll(), sent);
    QTRY_COMPARE_WITH_TIMEOUT(rig.relays->closed, 1, 30000);
}

void TestRelay::encryptedTrafficPassesUnchanged()
{
    // After an SSL request the rest is TLS: the relay still forwards every
    // byte both ways; the login is recorded as unknown, nothing else.
    Rig rig;
    QVERIFY(rig.connectClient());
    QVERIFY(rig.acceptPeer());
    QByteArray toClient, toServer;   // what each end received
    connect(&rig.client, &QTcpSocket::readyRead, this, [&] { toClient += rig.client.readAll(); });
    connect(rig.peer, &QTcpSocket::readyRead, this, [&] { toServer += rig.peer->readAll(); });
    QByteArray fromServer = wire::greeting(0xFFFFFFFE | mysql::CLIENT_SSL), fromClient = wire::sslRequest();
    rig.peer->write(fromServer);
    QTRY_COMPARE_WITH_TIMEOUT(toClient, fromServer, 30000);
    rig.client.write(fromClient);
    // Records that could pass for packets, commands included.
    QRandomGenerator rng(11);
    for (int i = 0; i < 300; ++i) {
        QByteArray c = wire::query("SELECT " + QByteArray::number(i)), r(int(rng.bounded(1, 9000)), Qt::Uninitialized);
        if (i % 3)
            c = QByteArray(int(rng.bounded(1, 3000)), Qt::Uninitialized);
        for (QByteArray* b : {&c, &r})
            for (int k = b == &c && i % 3 == 0 ? b->size() : 0; k < b->size(); ++k)
                (*b)[k] = char(rng.bounded(256));
        rig.client.write(c);
        rig.peer->write(r);
        fromClient += c;
        fromServer += r;
    }
    QTRY_VERIFY_WITH_TIMEOUT(toServer.size() >= fromClient.size() && toClient.size() >= fromServer.size(), 60000);
    QVERIFY(toServer == fromClient);
    QVERIFY(toClient == fromServer);
    rig.client.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(rig.relays->closed, 1, 30000);
    QCOMPARE(rig.relays->records.size(), 1);
    QCOMPARE(rig.relays->records[0]->userName, QStringLiteral("unknown"));
    QVERIFY(rig.relays->records[0]->queries.isEmpty());
}

void TestRelay::clientBytesBeforeServerConnects()
{
    // The server's name is still being looked up when the client already
    // sends: its bytes wait and reach the server, in order, once connected.
    Rig rig;
    QVERIFY(rig.connectClient("localhost"));
    const QByteArray early = wire::query("SELECT 'early'") + wire::query(QByteArray(70000, 'e'));
    rig.client.write(early);
    QVERIFY(rig.client.waitForBytesWritten(10000));
    QVERIFY(rig.acceptPeer());
    QByteArray got, answer;
    QTRY_VERIFY_WITH_TIMEOUT((got += rig.peer->readAll()).size() >= early.size(), 30000);
    QVERIFY(got == early);
    rig.peer->write("answer");
    QTRY_VERIFY_WITH_TIMEOUT((answer += rig.client.readAll()).size() >= 6, 30000);
    QCOMPARE(answer, QByteArray("answer"));
    rig.client.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(rig.relays->closed, 1, 30000);
}

void TestRelay::stopClosesBothSides()
{
    Rig rig;
    QSignalSpy clientClosed(&rig.client, &QTcpSocket::disconnected);
    QVERIFY(rig.connectClient());
    QVERIFY(rig.acceptPeer());
    QSignalSpy serverClosed(rig.peer, &QTcpSocket::disconnected);
    rig.peer->write(wire::greeting(0xFFFFFFFE));
    QTRY_VERIFY_WITH_TIMEOUT(rig.client.bytesAvailable() > 0, 30000);
    rig.relays->sessions.first()->stop();
    QTRY_VERIFY_WITH_TIMEOUT(clientClosed.count() == 1 && serverClosed.count() == 1, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.relays->closed, 1, 30000);
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
    Rig rig;
    rig.client.setReadBufferSize(64 << 10);
    QVERIFY(rig.connectClient());
    QVERIFY(rig.acceptPeer());
    rig.peer->setReadBufferSize(64 << 10);
    QTcpSocket* writer = slowClient ? rig.peer : &rig.client;
    QTcpSocket* reader = slowClient ? &rig.client : rig.peer;
    reader->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 << 10);
    qint64 handed = 0, received = 0, firstWrong = -1;
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
    for (qint64 out = -1; out != handed - writer->bytesToWrite(); QTest::qWait(500))
        out = handed - writer->bytesToWrite();
    QVERIFY2(handed - writer->bytesToWrite() < Total, "the relay took the whole stream while nobody read it");
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
    rig.client.disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(rig.relays->closed, 1, 30000);
}

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
