// The relay and decoder threads of a session between a client socket and a
// stand-in server: every byte passes both ways unchanged and in order, a
// closed or unreachable side closes the other, and a side that stops reading
// holds the writer back.

#include "CaptureRig.h"
#include "MysqlWire.h"
#include "TestDb.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>

#include <memory>

namespace {

/// A client connected through the capture engine to a stand-in server on this machine.
struct Rig
{
    QTcpServer fake;
    std::unique_ptr<CaptureRig> capture;
    QTcpSocket client;
    QTcpSocket* peer = nullptr;
    QByteArray toClient, toServer;   ///< what each end received, once collect() is called

    /// Relays towards `host`:`port` (the stand-in when `port` is 0) and connects the client.
    bool connectClient(const QString& host = QStringLiteral("127.0.0.1"), quint16 port = 0)
    {
        if (!port && !fake.listen(QHostAddress::LocalHost, 0))
            return false;
        capture = std::make_unique<CaptureRig>(host, port ? port : fake.serverPort());
        client.connectToHost(QHostAddress::LocalHost, capture->port());
        return client.waitForConnected(10000);
    }
    bool acceptPeer()
    {
        return QTest::qWaitFor([this] { return fake.hasPendingConnections(); }, 30000)
            && (peer = fake.nextPendingConnection()) != nullptr;
    }
    void collect()
    {
        QObject::connect(&client, &QTcpSocket::readyRead, [this] { toClient += client.readAll(); });
        QObject::connect(peer, &QTcpSocket::readyRead, [this] { toServer += peer->readAll(); });
    }
};

/// The byte at position i of a long generated stream.
char streamByte(qint64 i) { return char((i * 7 + (i >> 13)) & 0xFF); }

} // namespace

class TestRelay : public QObject
{
    Q_OBJECT
private slots:
    void unreachableServerClosesClient()
    {
        Rig rig;
        QSignalSpy closed(&rig.client, &QTcpSocket::disconnected);
        QVERIFY(rig.connectClient("127.0.0.1", freePort()));
        // Closed at once instead of left waiting for a greeting.
        QVERIFY(closed.wait(60000));
        QCOMPARE(rig.client.bytesAvailable(), 0);
        QVERIFY(rig.capture->allClosed());
    }

    void lateConnectAndEarlyClose()
    {
        // The server's name is still being looked up when the client sends:
        // its bytes wait and reach the server in order. The server then
        // closes in the middle of a packet: the client gets every byte, then
        // its connection is closed.
        Rig rig;
        QSignalSpy closed(&rig.client, &QTcpSocket::disconnected);
        QVERIFY(rig.connectClient("localhost"));
        const QByteArray early = wire::query("SELECT 'early'") + wire::query(QByteArray(70000, 'e'));
        rig.client.write(early);
        QVERIFY(rig.client.waitForBytesWritten(10000) && rig.acceptPeer());
        rig.collect();
        QTRY_VERIFY_WITH_TIMEOUT(rig.toServer.size() >= early.size(), 30000);
        QVERIFY(rig.toServer == early);
        const QByteArray sent = QByteArray::fromHex("0500000000") + "hello" + QByteArray::fromHex("64000001") + "only part";
        rig.peer->write(sent.left(6));
        QTRY_COMPARE_WITH_TIMEOUT(rig.toClient.size(), 6, 30000);
        rig.peer->write(sent.mid(6));
        rig.peer->disconnectFromHost();
        QVERIFY(closed.wait(60000) || rig.client.state() == QAbstractSocket::UnconnectedState);
        QCOMPARE(rig.toClient + rig.client.readAll(), sent);
        QVERIFY(rig.capture->allClosed());
    }

    void stopAndTeardownCloseBothSides()
    {
        Rig rig;
        QSignalSpy clientClosed(&rig.client, &QTcpSocket::disconnected);
        QVERIFY(rig.connectClient() && rig.acceptPeer());
        QSignalSpy serverClosed(rig.peer, &QTcpSocket::disconnected);
        rig.peer->write(wire::greeting(0xFFFFFFFE));
        QTRY_VERIFY_WITH_TIMEOUT(rig.client.bytesAvailable() > 0, 30000);
        MngrSessions& mngr = rig.capture->mngr;
        QCOMPARE(mngr.activeSessions.size(), 1);
        mngr.stopActiveSessions();
        QVERIFY(mngr.activeSessions.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(clientClosed.count() == 1 && serverClosed.count() == 1, 30000);
        QVERIFY(rig.capture->allClosed());   // its close still arrives; the Session is then freed
        // Destroying the listener ends the relay and decoder threads of open connections.
        QTcpSocket other;
        other.connectToHost(QHostAddress::LocalHost, rig.capture->port());
        QVERIFY(rig.acceptPeer());
        QTRY_COMPARE_WITH_TIMEOUT(mngr.activeSessions.size(), 1, 30000);
        QPointer<Session> open = mngr.activeSessions.first();
        QSignalSpy otherClosed(&other, &QTcpSocket::disconnected);
        rig.capture.reset();
        QVERIFY(open.isNull());
        QVERIFY(otherClosed.count() == 1 || otherClosed.wait(30000));
    }

    void slowPeerHoldsTheOtherBack_data()
    {
        QTest::addColumn<bool>("slowClient");
        QTest::newRow("slow client") << true;
        QTest::newRow("slow server, after an SSL request") << false;
    }

    void slowPeerHoldsTheOtherBack()
    {
        // One side sends far more than all buffers on the way can hold while
        // the other does not read: the relay stops reading instead of piling
        // the stream up in memory, and delivers all of it, unchanged, once
        // the reader reads again. After an SSL request the rest is TLS: it
        // passes both ways untouched, the login is recorded as unknown and
        // nothing else is recorded.
        QFETCH(bool, slowClient);
        constexpr qint64 Total = 96 << 20;
        Rig rig;
        rig.client.setReadBufferSize(64 << 10);
        QVERIFY(rig.connectClient() && rig.acceptPeer());
        rig.peer->setReadBufferSize(64 << 10);
        if (!slowClient) {
            const QByteArray greeting = wire::greeting(0xFFFFFFFE | mysql::CLIENT_SSL), ssl = wire::sslRequest();
            rig.peer->write(greeting);
            QTRY_COMPARE_WITH_TIMEOUT(rig.client.bytesAvailable(), qint64(greeting.size()), 30000);
            QCOMPARE(rig.client.readAll(), greeting);
            rig.client.write(ssl);
            QTRY_COMPARE_WITH_TIMEOUT(rig.peer->bytesAvailable(), qint64(ssl.size()), 30000);
            QCOMPARE(rig.peer->readAll(), ssl);
        }
        QTcpSocket* writer = slowClient ? rig.peer : &rig.client;
        QTcpSocket* reader = slowClient ? &rig.client : rig.peer;
        reader->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 << 10);
        QByteArray stream(int(Total), Qt::Uninitialized);
        for (int i = 0; i < stream.size(); ++i)
            stream[i] = streamByte(i);
        if (!slowClient) // a record that could pass for a command
            stream.replace(0, 13, wire::query("SELECT 1"));
        writer->write(stream);
        // Let the writer push until it makes no more progress.
        for (qint64 left = -1; left != writer->bytesToWrite(); QTest::qWait(500))
            left = writer->bytesToWrite();
        QVERIFY2(writer->bytesToWrite() > 0, "the relay took the whole stream while nobody read it");
        QByteArray got;
        connect(reader, &QTcpSocket::readyRead, this, [&] { got += reader->readAll(); });
        reader->setReadBufferSize(0);
        got += reader->readAll();
        QTRY_VERIFY_WITH_TIMEOUT(got.size() >= Total, 600000);
        QVERIFY(got == stream);
        if (slowClient)
            return;
        // The server answers with records that could pass for packets.
        const QByteArray answer = wire::resultSet(1, {{"secret"}}, false).bytes;
        rig.peer->write(answer);
        QTRY_COMPARE_WITH_TIMEOUT(rig.client.bytesAvailable(), qint64(answer.size()), 30000);
        QCOMPARE(rig.client.readAll(), answer);
        rig.client.disconnectFromHost();
        QVERIFY(rig.capture->allClosed());
        const QList<SessionData*>& records = rig.capture->mngr.sessions;
        QVERIFY(records.size() == 1 && records[0]->queries.isEmpty());
        QCOMPARE(records[0]->userName, QStringLiteral("unknown"));
    }
};

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
