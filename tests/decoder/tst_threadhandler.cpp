// The decoder thread's hand-over (tuples, batches, order of login and
// database changes) and the relay's framing tracker.

#include "MysqlLinkTracker.h"
#include "MysqlWire.h"
#include "ThreadHandler.h"

#include <QMutex>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>

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
    void trafficQueueOrderAndWakeUp();
    void queuedTrafficLikeDirectCalls();
    void pipelinedTrafficFromAnotherThread();
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

void TestThreadHandler::trafficQueueOrderAndWakeUp()
{
    TrafficQueue q;
    QVERIFY(q.isEmpty());
    QVERIFY(!q.append(false, "abc", 3));
    QVERIFY(!q.append(true, "defg", 4, 1.5, 1000));
    QVERIFY(!q.append(false, "x", 0));   // nothing to queue
    QVERIFY(!q.append(false, "hi", 2));
    TrafficQueue::Batch b;
    b.units.push_back({});   // taken into a used batch: emptied first
    q.takeAll(&b);
    QVERIFY(q.isEmpty());
    QCOMPARE(int(b.units.size()), 3);
    QCOMPARE(QByteArray(b.bytes.data(), int(b.bytes.size())), QByteArray("abcdefghi"));
    QCOMPARE(b.units[0].offset, qsizetype(0));
    QCOMPARE(b.units[0].size, qsizetype(3));
    QVERIFY(!b.units[0].server);
    QCOMPARE(b.units[1].offset, qsizetype(3));
    QCOMPARE(b.units[1].size, qsizetype(4));
    QVERIFY(b.units[1].server);
    QCOMPARE(b.units[1].ms, 1.5);
    QCOMPARE(b.units[1].atMs, qint64(1000));
    QCOMPARE(b.units[2].offset, qsizetype(7));

    // One wake-up when the queue grows past its limit, none after it until
    // the reader has taken the queue.
    const QByteArray big(int(TrafficQueue::WakeBytes / 4), 'b');
    int wakes = 0;
    for (int i = 0; i < 12; ++i)
        wakes += q.append(i % 2, big.constData(), big.size()) ? 1 : 0;
    QCOMPARE(wakes, 1);
    q.takeAll(&b);
    QCOMPARE(int(b.units.size()), 12);
    QCOMPARE(qsizetype(b.bytes.size()), 12 * qsizetype(big.size()));
    QVERIFY(q.append(false, big.constData(), big.size()) == false);
    int i = 0;
    while (!q.append(true, "u", 1))
        ++i;
    // Many small units wake the reader too.
    QCOMPARE(size_t(i + 2), TrafficQueue::WakeUnits);
    q.takeAll(&b);
    b.clear();
    QVERIFY(b.isEmpty());
    QVERIFY(b.bytes.empty());
}

namespace {
/// A short conversation: login, statements with result sets, an error, a
/// database change; returned as (server?, bytes) pieces in stream order.
QList<QPair<bool, QByteArray>> conversation()
{
    QList<QPair<bool, QByteArray>> c;
    c << qMakePair(true, greeting(0xFFFFFFFE));
    c << qMakePair(false, handshake(BaseCaps, "ann", QByteArray(20, 'p'), "shop"));
    c << qMakePair(true, packet(okPayload(), 2));
    for (int i = 0; i < 5; ++i) {
        c << qMakePair(false, query("SELECT " + QByteArray::number(i)));
        c << qMakePair(true, resultSet(1, {{QByteArray::number(i)}, {"x"}}, false).bytes);
    }
    c << qMakePair(false, query("SELECT nope"));
    c << qMakePair(true, packet(errPayload(1054, "unknown column"), 1));
    c << qMakePair(false, command(COM_INIT_DB, "sales"));
    c << qMakePair(true, packet(okPayload(), 1));
    c << qMakePair(false, query("SELECT 9"));
    c << qMakePair(true, packet(okPayload(), 1));
    return c;
}

QStringList describe(const QList<QVariantList>& tuples)
{
    QStringList out;
    for (const QVariantList& t : tuples) {
        QStringList f;
        for (int i = 1; i < t.size(); ++i)
            f << t.at(i).toString();
        out << f.join('|');
    }
    return out;
}
} // namespace

void TestThreadHandler::queuedTrafficLikeDirectCalls()
{
    // The same traffic, once as one call per unit and once queued in pieces
    // cut anywhere, gives the same statements and events in the same order.
    const auto conv = conversation();
    ThreadHandler direct;
    QSignalSpy directBatches(&direct, &ThreadHandler::newQueries);
    QSignalSpy directDbs(&direct, &ThreadHandler::newDbName);
    double ms = 0;
    for (const auto& unit : conv) {
        if (unit.first)
            direct.handlerMysql(unit.second, ms += 1.25);
        else
            direct.handlerClient(unit.second);
    }
    direct.onTimeout();

    ThreadHandler queued;
    QStringList events;
    QList<QVariantList> tuples;
    connect(&queued, &ThreadHandler::startSession, this, [&](QDateTime, QString u, QString d, bool ok) {
        events << QStringLiteral("login %1 %2 %3").arg(u, d).arg(ok);
    });
    connect(&queued, &ThreadHandler::newQueries, this, [&](QList<QVariantList> b) {
        tuples += b;
        events << QStringLiteral("batch %1").arg(b.size());
    });
    connect(&queued, &ThreadHandler::newDbName, this, [&](QString d) { events << "db " + d; });
    QSignalSpy ends(&queued, &ThreadHandler::disconnectDb);
    const qint64 at = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 89)).toMSecsSinceEpoch();
    ms = 0;
    int cut = 1;
    for (const auto& unit : conv) {
        const QByteArray& b = unit.second;
        if (unit.first)
            ms += 1.25;
        for (int off = 0; off < b.size(); off += cut, cut = cut % 7 + 1) {
            const int n = qMin(cut, b.size() - off);
            if (unit.first)
                queued.queueMysql(b.constData() + off, n, ms, at + qint64(ms * 4));
            else
                queued.queueClient(b.constData() + off, n);
        }
    }
    // Nothing is decoded before the tick or the disconnection.
    QVERIFY(events.isEmpty());
    QVERIFY(queued.pendingQueries().isEmpty());
    queued.onDisconnectSession(QTime(0, 0, 1));
    QCOMPARE(ends.count(), 1);

    QCOMPARE(directBatches.count(), 2);   // flushed before the database change, then at the tick
    QList<QVariantList> expected;
    for (const auto& args : directBatches)
        expected += args.at(0).value<QList<QVariantList>>();
    QCOMPARE(expected.size(), 7);
    QCOMPARE(describe(tuples), describe(expected));
    QCOMPARE(events, (QStringList{"login ann shop 1", "batch 6", "db sales", "batch 1"}));
    // Answered at: the moment the relay forwarded the answer's last bytes.
    for (const QVariantList& t : tuples)
        QCOMPARE(t.at(0).toDateTime().toMSecsSinceEpoch(), at + qint64(t.at(1).toDouble() * 4));
    QCOMPARE(directDbs.count(), 1);
}

void TestThreadHandler::pipelinedTrafficFromAnotherThread()
{
    // A relay thread queues pipelined statements much faster than the
    // decoder thread runs, then reports the disconnection: every statement
    // arrives once, in order, before disconnectDb.
    constexpr int Statements = 30000;
    constexpr int Pipeline = 64;
    auto* handler = new ThreadHandler;
    handler->moveToThread(handler);
    QMutex lock;
    QList<QVariantList> got;
    QStringList logins;
    int endsAfterLast = 0, ends = 0;
    connect(handler, &ThreadHandler::startSession, handler, [&](QDateTime, QString u, QString, bool ok) {
        QMutexLocker l(&lock);
        logins << u + (ok ? " ok" : " failed");
    }, Qt::DirectConnection);
    connect(handler, &ThreadHandler::newQueries, handler, [&](QList<QVariantList> b) {
        QMutexLocker l(&lock);
        got += b;
    }, Qt::DirectConnection);
    connect(handler, &ThreadHandler::disconnectDb, handler, [&](QTime) {
        QMutexLocker l(&lock);
        ++ends;
        if (got.size() == Statements)
            ++endsAfterLast;
        handler->quit();
    }, Qt::DirectConnection);
    handler->start();

    std::atomic<bool> produced{false};
    QThread* relay = QThread::create([&] {
        QRandomGenerator rng(7);
        auto pieces = [&](const QByteArray& b, bool server, double ms) {
            for (int off = 0; off < b.size();) {
                const int n = qMin(int(rng.bounded(1, 200)), b.size() - off);
                if (server)
                    handler->queueMysql(b.constData() + off, n, ms, 1600000000000LL + qint64(ms));
                else
                    handler->queueClient(b.constData() + off, n);
                off += n;
            }
        };
        pieces(greeting(0xFFFFFFFE), true, 0);
        pieces(handshake(BaseCaps, "zed", QByteArray(20, 'p')), false, 0);
        pieces(packet(okPayload(), 2), true, 0);
        for (int first = 0; first < Statements; first += Pipeline) {
            QByteArray requests, answers;
            for (int i = first; i < first + Pipeline && i < Statements; ++i) {
                requests += query("SELECT " + QByteArray::number(i));
                answers += i % 3 == 0 ? resultSet(1, {{QByteArray::number(i)}}, false).bytes
                                      : packet(okPayload(), 1);
            }
            pieces(requests, false, 0);
            // Each answer of the group is cut on its own, so that it ends in
            // a piece whose time tells which statement it was.
            int off = 0;
            for (int i = first; i < first + Pipeline && i < Statements; ++i) {
                const int len = i % 3 == 0 ? resultSet(1, {{QByteArray::number(i)}}, false).bytes.size()
                                           : packet(okPayload(), 1).size();
                pieces(answers.mid(off, len), true, double(i));
                off += len;
            }
        }
        produced = true;
        QMetaObject::invokeMethod(handler, [handler] { handler->onDisconnectSession(QTime(0, 1)); },
                                  Qt::QueuedConnection);
    });
    relay->start();
    QVERIFY(relay->wait(600000));
    QVERIFY(produced);
    QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&lock); return ends == 1; }(), 120000);
    QVERIFY(handler->wait(60000));
    delete relay;
    delete handler;

    QCOMPARE(logins, QStringList{"zed ok"});
    QCOMPARE(got.size(), Statements);
    QCOMPARE(endsAfterLast, 1);
    for (int i = 0; i < Statements; ++i) {
        const QVariantList& t = got.at(i);
        if (t.at(2).toByteArray() != "SELECT " + QByteArray::number(i))
            QFAIL(qPrintable(QStringLiteral("statement %1 is %2").arg(i).arg(QString::fromLatin1(t.at(2).toByteArray()))));
        QCOMPARE(t.at(1).toDouble(), double(i));
        QCOMPARE(t.at(0).toDateTime().toMSecsSinceEpoch(), 1600000000000LL + i);
        QCOMPARE(t.at(5).toInt(), i % 3 == 0 ? 1 : 0);
    }
}

QTEST_GUILESS_MAIN(TestThreadHandler)
#include "tst_threadhandler.moc"
