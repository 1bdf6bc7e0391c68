// The decoder thread's hand-over (tuples, batches, order of login and
// database changes) and the relay's framing tracker.

#include "MysqlLinkTracker.h"
#include "MysqlWire.h"
#include "ThreadHandler.h"

#include <QSignalSpy>
#include <QtTest>

using namespace wire;
using namespace mysql;

class TestThreadHandler : public QObject
{
    Q_OBJECT
private slots:
    void tupleAndBatches();
    void loginAndDbChangesKeepOrder();
    void disconnectFlushesOnce();
    void supportOperations();
    void trackerBoundaries();
    void trackerCompressionAfterFinalOk();
    void trackerTlsAndCommands();
};

namespace {
void loginHandler(ThreadHandler& h, quint32 caps = BaseCaps)
{
    h.handlerMysql(greeting(0xFFFFFFFE), 0);
    h.handlerClient(handshake(caps, "ann", QByteArray(20, 'p'), "shop"));
    h.handlerMysql(packet(okPayload(), 2), 0);
}
} // namespace

void TestThreadHandler::tupleAndBatches()
{
    ThreadHandler h;
    QSignalSpy batches(&h, &ThreadHandler::newQueries);
    loginHandler(h);
    const ResultSet rs = resultSet(2, {{"1", "a"}, {"2", "bb"}}, false);
    h.handlerClient(query("SELECT id, v FROM t"));
    h.handlerMysql(rs.bytes, 12.5);
    h.handlerClient(query("DELETE FROM nowhere"));
    h.handlerMysql(packet(errPayload(1146, "no table"), 1), 3.0);
    QCOMPARE(batches.count(), 0);   // nothing leaves before the timer
    QCOMPARE(h.pendingQueries().size(), 2);
    h.onTimeout();
    QCOMPARE(batches.count(), 1);
    const auto batch = batches.at(0).at(0).value<QList<QVariantList>>();
    QCOMPARE(batch.size(), 2);
    const QVariantList& t = batch.at(0);
    QCOMPARE(t.size(), 7);
    QCOMPARE(t.at(0).userType(), int(QMetaType::QDateTime));
    QVERIFY(qAbs(t.at(0).toDateTime().secsTo(QDateTime::currentDateTime())) < 3600);
    QCOMPARE(t.at(1).userType(), int(QMetaType::Double));
    QCOMPARE(t.at(1).toDouble(), 12.5);
    QCOMPARE(t.at(2).userType(), int(QMetaType::QByteArray));
    QCOMPARE(t.at(2).toByteArray(), QByteArray("SELECT id, v FROM t"));
    QCOMPARE(t.at(3).userType(), int(QMetaType::Float));
    QCOMPARE(t.at(3).toFloat(), 19.0f / 1024);
    QCOMPARE(t.at(4).userType(), int(QMetaType::Float));
    QCOMPARE(t.at(4).toFloat(), float(rs.rowBytes) / 1024);
    QCOMPARE(t.at(5).userType(), int(QMetaType::Int));
    QCOMPARE(t.at(5).toInt(), 2);
    QCOMPARE(t.at(6).userType(), int(QMetaType::Bool));
    QCOMPARE(t.at(6).toBool(), false);
    QCOMPARE(batch.at(1).at(6).toBool(), true);
    h.onTimeout();
    QCOMPARE(batches.count(), 1);   // an empty list is not handed over
    QVERIFY(h.pendingQueries().isEmpty());
}

void TestThreadHandler::loginAndDbChangesKeepOrder()
{
    ThreadHandler h;
    QStringList order;
    connect(&h, &ThreadHandler::startSession, this, [&](QDateTime, QString u, QString d, bool ok) {
        order << QStringLiteral("login %1 %2 %3").arg(u, d).arg(ok);
    });
    connect(&h, &ThreadHandler::newQueries, this, [&](QList<QVariantList> b) {
        for (const auto& t : b)
            order << QString::fromLatin1(t.at(2).toByteArray());
    });
    connect(&h, &ThreadHandler::newDbName, this, [&](QString d) { order << "db " + d; });
    loginHandler(h);
    h.handlerClient(query("SELECT 1"));
    h.handlerMysql(packet(okPayload(), 1), 1);
    h.handlerClient(command(COM_INIT_DB, "sales"));
    h.handlerMysql(packet(okPayload(), 1), 1);
    h.handlerClient(query("SELECT 2"));
    h.handlerMysql(packet(okPayload(), 1), 1);
    const QByteArray cu = QByteArray("bea") + '\0' + char(0) + "hr" + '\0';
    h.handlerClient(command(COM_CHANGE_USER, cu));
    h.handlerMysql(packet(okPayload(), 1), 1);
    h.handlerClient(query("SELECT 3"));
    h.handlerMysql(packet(okPayload(), 1), 1);
    h.onTimeout();
    // Statements reach the session before the event that follows them.
    QCOMPARE(order, (QStringList{"login ann shop 1", "SELECT 1", "db sales", "SELECT 2", "login bea hr 1", "SELECT 3"}));
}

void TestThreadHandler::disconnectFlushesOnce()
{
    ThreadHandler h;
    QSignalSpy batches(&h, &ThreadHandler::newQueries);
    QSignalSpy ends(&h, &ThreadHandler::disconnectDb);
    loginHandler(h);
    h.handlerClient(query("SELECT 1"));
    h.handlerMysql(packet(okPayload(), 1), 1);
    const QTime lifetime = QTime(0, 0).addMSecs(4321);
    h.onDisconnectSession(lifetime);
    h.onDisconnectSession(lifetime);
    QCOMPARE(batches.count(), 1);
    QCOMPARE(ends.count(), 1);
    QCOMPARE(ends.at(0).at(0).toTime(), lifetime);
}

void TestThreadHandler::supportOperations()
{
    QCOMPARE(ThreadHandler::decodedLength(QByteArray::fromHex("0a0b0c0d")), 0x0c0b0aU);
    QCOMPARE(ThreadHandler::decodedLength(QByteArray::fromHex("ff01")), 0x01ffU);
    QCOMPARE(ThreadHandler::decodedLength(QByteArray()), 0U);
    // Every frame is replaced, whatever the first one is.
    const QByteArray packets = query("SELECT 1") + query(QByteArray(3000, 'q'));
    QByteArray mixed = compress(query("SELECT 1"), Algo::Raw) + compress(query(QByteArray(3000, 'q')), Algo::Zlib, 1);
    QVERIFY(ThreadHandler::uncompressedPacket(&mixed));
    QCOMPARE(mixed, packets);
    QByteArray zstd = compress(packets, Algo::Zstd, 0, 700);
    QVERIFY(ThreadHandler::uncompressedPacket(&zstd));
    QCOMPARE(zstd, packets);
    QByteArray broken = QByteArray::fromHex("05000000100000") + "abcde";
    const QByteArray before = broken;
    QVERIFY(!ThreadHandler::uncompressedPacket(&broken));
    QCOMPARE(broken, before);
}

void TestThreadHandler::trackerBoundaries()
{
    MysqlLinkTracker t;
    const QByteArray greet = greeting(0xFFFFFFFE);
    QVERIFY(!t.scanServer(greet.constData(), 10));
    QVERIFY(t.scanServer(greet.constData() + 10, greet.size() - 10));
    const QByteArray hs = handshake(BaseCaps, "u", "p");
    bool cmd = true;
    QVERIFY(t.scanClient(hs.constData(), hs.size(), &cmd));
    QVERIFY(!cmd);   // the login is no command
    const QByteArray okp = packet(okPayload(), 2);
    QVERIFY(t.scanServer(okp.constData(), okp.size()));
    QVERIFY(t.loggedIn());
    QCOMPARE(t.headerSize(), 4);
    // A request split in three pieces: a boundary only after the last one.
    const QByteArray two = query("SELECT 1") + query("SELECT 2");
    QVERIFY(!t.scanClient(two.constData(), 2, &cmd));
    QVERIFY(!cmd);
    QVERIFY(!t.scanClient(two.constData() + 2, 10, &cmd));
    QVERIFY(cmd);
    QVERIFY(t.scanClient(two.constData() + 12, two.size() - 12, &cmd));
    QVERIFY(cmd);
    // LOAD DATA file packets continue a sequence: no new command.
    const QByteArray file = packet("1,2\n", 2) + packet({}, 3);
    QVERIFY(t.scanClient(file.constData(), file.size(), &cmd));
    QVERIFY(!cmd);
    const ResultSet rs = resultSet(2, {{"a", "b"}}, false);
    for (int cut = 1; cut < rs.bytes.size(); ++cut) {
        MysqlLinkTracker copy = t;
        const bool first = copy.scanServer(rs.bytes.constData(), cut);
        QVERIFY(copy.scanServer(rs.bytes.constData() + cut, rs.bytes.size() - cut));
        if (first) {
            // Only at real packet ends.
            int off = 0;
            while (off < cut)
                off += 4 + int(decodedLength(rs.bytes.mid(off)));
            QCOMPARE(off, cut);
        }
    }
}

void TestThreadHandler::trackerCompressionAfterFinalOk()
{
    MysqlLinkTracker t;
    const QByteArray greet = greeting(0xFFFFFFFE);
    t.scanServer(greet.constData(), greet.size());
    const QByteArray hs = handshake(BaseCaps | CLIENT_COMPRESS, "u", "p");
    t.scanClient(hs.constData(), hs.size());
    // Auth switch and more data are still 4-byte framed.
    const QByteArray sw = packet(QByteArray(1, char(0xFE)) + "client_ed25519" + '\0', 2);
    QVERIFY(t.scanServer(sw.constData(), sw.size()));
    QCOMPARE(t.headerSize(), 4);
    const QByteArray answer = packet(QByteArray(64, 's'), 3);
    QVERIFY(t.scanClient(answer.constData(), answer.size()));
    // The final OK and the first compressed frame in one read.
    const QByteArray frame = compress(packet(okPayload(), 1), Algo::Zlib);
    const QByteArray both = packet(QByteArray(1, 0x01) + char(0x03), 4) + packet(okPayload(), 5) + frame;
    QVERIFY(!t.scanServer(both.constData(), both.size() - 3));
    QCOMPARE(t.headerSize(), 7);
    QVERIFY(t.scanServer(both.constData() + both.size() - 3, 3));
    bool cmd = false;
    const QByteArray q = compress(query("SELECT 1"), Algo::Zlib);
    QVERIFY(t.scanClient(q.constData(), q.size(), &cmd));
    QVERIFY(cmd);
}

void TestThreadHandler::trackerTlsAndCommands()
{
    MysqlLinkTracker t;
    const QByteArray greet = greeting(0xFFFFFFFE);
    t.scanServer(greet.constData(), greet.size());
    const QByteArray ssl = packet(le(BaseCaps | CLIENT_SSL, 4) + le(16 << 20, 4) + char(33) + QByteArray(23, '\0'), 1);
    t.scanClient(ssl.constData(), ssl.size());
    QVERIFY(t.encrypted());
    bool cmd = true;
    const QByteArray hello = QByteArray::fromHex("160301020001");
    QVERIFY(t.scanClient(hello.constData(), hello.size(), &cmd));
    QVERIFY(!cmd);
}

QTEST_GUILESS_MAIN(TestThreadHandler)
#include "tst_threadhandler.moc"
