// The relay and decoder threads of a session between a client socket and a
// stand-in or the real server: bytes pass both ways unchanged and in order, a
// closed, unreachable or vanishing side closes the other, and a side that
// stops reading holds the writer back.

#include "CaptureRig.h"
#include "MysqlWire.h"
#include "RunLive.h"
#include "TestDb.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryFile>

#include <memory>

/// What a peer that vanishes had begun to send: a 16 MiB packet, a
/// compressed frame, or the file of a LOCAL INFILE statement.
enum class Cut { LongPacket, CompressedFrame, LocalInfile };
Q_DECLARE_METATYPE(Cut)

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
    /// The one session record, ended.
    bool oneEndedRecord() const
    {
        const QList<SessionData*>& records = capture->mngr.sessions;
        return records.size() == 1 && !records[0]->duration.isNull();
    }
};

/// Waits for one whole packet on `s` and takes it, header included.
QByteArray takePacket(QTcpSocket& s)
{
    const auto has = [&s](qint64 n) { return QTest::qWaitFor([&] { return s.bytesAvailable() >= n; }, 30000); };
    return has(4) && has(4 + qint64(mysql::decodedLength(s.peek(4)))) ? s.read(4 + qint64(mysql::decodedLength(s.peek(4))))
                                                                       : QByteArray();
}

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
        QVERIFY(closed.wait(60000));   // at once, not left waiting for a greeting
        QVERIFY(rig.client.bytesAvailable() == 0 && rig.capture->allClosed());
    }

    void lateConnectAndEarlyClose()
    {
        // The client sends while the server's name is still being looked up:
        // its bytes wait and arrive in order. The server then closes in the
        // middle of a packet: the client gets every byte, then is closed.
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

    void clientVanishesMidTransfer_data()
    {
        QTest::addColumn<Cut>("cut");
        QTest::newRow("in a 16 MiB packet") << Cut::LongPacket;
        QTest::newRow("in a compressed frame") << Cut::CompressedFrame;
        QTest::newRow("in a LOCAL INFILE transfer") << Cut::LocalInfile;
    }
    void clientVanishesMidTransfer()
    {
        // A client logged in to the real server begins something long and is
        // gone: the server's connection is closed, the session ends with what came before.
        QFETCH(Cut, cut);
        REQUIRE_TESTDB(db);
        Rig rig;
        QVERIFY(rig.connectClient(db.host, db.port));
        QTcpSocket& c = rig.client;
        const wire::ServerHello hello = wire::parseGreeting(takePacket(c));
        QVERIFY(hello.connectionId != 0);
        const quint32 caps = wire::BaseCaps | (cut == Cut::CompressedFrame ? quint32(mysql::CLIENT_COMPRESS) : 0u)
            | (cut == Cut::LocalInfile ? 0x80u : 0u);   // the client sends local files
        c.write(wire::handshake(caps, db.user.toUtf8(), wire::nativePassword(db.password.toUtf8(), hello.scramble),
                                db.database.toUtf8()));
        const auto answerStarts = [&c](char first) { return takePacket(c).mid(4, 1) == QByteArray(1, first); };
        QVERIFY(answerStarts(0));   // OK
        const QString alive = QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = %1")
                                  .arg(hello.connectionId);
        QCOMPARE(db.runClient(alive), QStringLiteral("1\n"));
        if (cut == Cut::LongPacket) {
            c.write(wire::le(mysql::MaxPacketPayload, 3) + char(0) + char(mysql::COM_QUERY) + "SELECT '" + QByteArray(1 << 20, 'x'));
        } else if (cut == Cut::CompressedFrame) {
            const QByteArray frame = wire::compress(wire::query("SELECT '" + QByteArray(1 << 20, 'y') + "'"), wire::Algo::Zlib);
            c.write(frame.left(frame.size() / 2));
        } else {
            c.write(wire::query("CREATE TEMPORARY TABLE t (a TEXT)"));
            QVERIFY(answerStarts(0));
            c.write(wire::query("LOAD DATA LOCAL INFILE 'rows.txt' INTO TABLE t"));
            QVERIFY(answerStarts(char(0xFB)));   // the server asks for the file
            c.write(wire::packet(QByteArray(100000, 'z') + '\n', 2));   // its first part, no end
        }
        QVERIFY(c.waitForBytesWritten(10000) || c.bytesToWrite() == 0);
        c.abort();
        QVERIFY(rig.capture->allClosed());
        QTRY_COMPARE_WITH_TIMEOUT(db.runClient(alive), QStringLiteral("0\n"), 30000);
        QVERIFY(rig.oneEndedRecord() && rig.capture->mngr.sessions[0]->userName == db.user);
        if (cut == Cut::LocalInfile)
            QCOMPARE(rig.capture->mngr.sessions[0]->queries.text(0), QStringLiteral("CREATE TEMPORARY TABLE t (a TEXT)"));
    }

    void serverVanishesMidTransfer_data() { clientVanishesMidTransfer_data(); }
    void serverVanishesMidTransfer()
    {
        // The real client against a stand-in server that logs it in, then
        // begins something long and is gone: the client reports the lost
        // connection and ends, and the session ends.
        QFETCH(Cut, cut);
        REQUIRE_TESTDB(db);   // for the client's account only
        Rig rig;
        QTemporaryFile rows;
        QVERIFY(rows.open() && rows.write(QByteArray(8 << 20, 'r')) > 0 && rows.flush());
        QVERIFY(rig.fake.listen(QHostAddress::LocalHost, 0));
        QByteArray in;
        int stage = 0;
        connect(&rig.fake, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* peer = rig.fake.nextPendingConnection();
            peer->write(wire::greeting(0xFFFFFFFE));
            connect(peer, &QTcpSocket::readyRead, peer, [&, peer] {
                in += peer->readAll();
                if (stage == 0 && in.size() >= 4 && in.size() >= 4 + int(mysql::decodedLength(in))) {
                    peer->write(wire::packet(wire::okPayload(), 2));
                    in.clear();
                    stage = 1;
                } else if (stage == 1 && !in.isEmpty()) {
                    stage = 2;
                    if (cut == Cut::LongPacket)
                        peer->write(wire::le(mysql::MaxPacketPayload, 3) + char(1) + QByteArray(1 << 20, 'v'));
                    else if (cut == Cut::CompressedFrame)
                        peer->write(wire::le(5000, 3) + char(1) + wire::le(9000, 3) + QByteArray(100, 'w'));
                    else
                        peer->write(wire::packet(char(0xFB) + rows.fileName().toUtf8(), 1));
                    if (cut != Cut::LocalInfile)
                        peer->abort();
                } else if (stage == 2 && in.size() > 100000) {
                    peer->abort();   // the file is still being sent
                }
            });
        });
        rig.capture = std::make_unique<CaptureRig>(QStringLiteral("127.0.0.1"), rig.fake.serverPort());
        QStringList extra{"-e", cut == Cut::LocalInfile ? "LOAD DATA LOCAL INFILE '" + rows.fileName() + "' INTO TABLE t"
                                                        : QStringLiteral("SELECT 1")};
        if (cut != Cut::LongPacket)
            extra << (cut == Cut::CompressedFrame ? "--compress" : "--local-infile=1");
        const LiveRun run = runLive(QStringLiteral("mariadb"), clientArgs(db, rig.capture->port(), extra));
        QVERIFY2(run.exitCode == 1 && run.err.contains("Lost connection"), run.err.constData());
        QCOMPARE(stage, 2);
        QVERIFY(rig.capture->allClosed() && rig.oneEndedRecord());
    }

    void slowPeerHoldsTheOtherBack_data()
    {
        QTest::addColumn<bool>("slowClient");
        QTest::newRow("slow client") << true;
        QTest::newRow("slow server, after an SSL request") << false;
    }
    void slowPeerHoldsTheOtherBack()
    {
        // One side sends far more than the buffers on the way hold while the
        // other does not read: the relay stops reading instead of piling the
        // stream up, and delivers all of it, unchanged, once the reader reads.
        // After an SSL request the rest is TLS: it passes both ways untouched,
        // the login is recorded as unknown and nothing else is recorded.
        QFETCH(bool, slowClient);
        constexpr qint64 Total = 96 << 20;
        Rig rig;
        rig.client.setReadBufferSize(64 << 10);
        QVERIFY(rig.connectClient() && rig.acceptPeer());
        rig.peer->setReadBufferSize(64 << 10);
        // Writes on one end; true when the other end received exactly that.
        const auto passes = [&](QTcpSocket* from, QTcpSocket* to, const QByteArray& bytes) {
            from->write(bytes);
            return QTest::qWaitFor([&] { return to->bytesAvailable() >= bytes.size(); }, 30000) && to->readAll() == bytes;
        };
        if (!slowClient)
            QVERIFY(passes(rig.peer, &rig.client, wire::greeting(0xFFFFFFFE | mysql::CLIENT_SSL))
                    && passes(&rig.client, rig.peer, wire::sslRequest()));
        QTcpSocket* writer = slowClient ? rig.peer : &rig.client;
        QTcpSocket* reader = slowClient ? &rig.client : rig.peer;
        reader->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 << 10);
        QByteArray stream(int(Total), Qt::Uninitialized);
        for (int i = 0; i < stream.size(); ++i)
            stream[i] = char((i * 7 + (i >> 13)) & 0xFF);
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
        QVERIFY(passes(rig.peer, &rig.client, wire::resultSet(1, {{"secret"}}, false).bytes));
        rig.client.disconnectFromHost();
        QVERIFY(rig.capture->allClosed());
        const QList<SessionData*>& records = rig.capture->mngr.sessions;
        QVERIFY(records.size() == 1 && records[0]->queries.isEmpty());
        QCOMPARE(records[0]->userName, QStringLiteral("unknown"));
    }
};

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
