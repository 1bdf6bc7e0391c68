// The decoder thread's hand-over (tuples, batches, order of logins and
// database changes, the traffic queue) and the relay's framing tracker.

#include "MysqlLinkTracker.h"
#include "MysqlWire.h"
#include "ThreadHandler.h"

#include <QMutex>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

using namespace wire;
using namespace mysql;

namespace {

/// What a handler emits, in order: "login ...", "batch N", "db ...", "end ...".
struct Events
{
    QStringList log;
    QList<QVariantList> tuples;
    QObject ctx;   // the connections end with this record
    explicit Events(ThreadHandler* h)
    {
        QObject::connect(h, &ThreadHandler::startSession, &ctx, [this](QDateTime, QString u, QString d, bool ok) {
            log << QStringLiteral("login %1 %2 %3").arg(u, d).arg(ok);
        });
        QObject::connect(h, &ThreadHandler::newQueries, &ctx, [this](QList<QVariantList> b) {
            tuples += b;
            log << QStringLiteral("batch %1").arg(b.size());
        });
        QObject::connect(h, &ThreadHandler::newDbName, &ctx, [this](QString d) { log << "db " + d; });
        QObject::connect(h, &ThreadHandler::disconnectDb, &ctx, [this](QTime t) { log << "end " + t.toString("ss.zzz"); });
    }
};

/// Login, statements with result sets, an error, a database change and a
/// change of user, as (server?, bytes) units in stream order.
using Units = QList<QPair<bool, QByteArray>>;
Units conversation()
{
    const QByteArray ok = packet(okPayload(), 1);
    Units c{{true, greeting(0xFFFFFFFE)}, {false, handshake(BaseCaps, "ann", QByteArray(20, 'p'), "shop")},
            {true, packet(okPayload(), 2)}};
    for (int i = 0; i < 5; ++i)
        c += Units{{false, query("SELECT " + QByteArray::number(i))},
                   {true, resultSet(1, {{QByteArray::number(i)}, {"x"}}, false).bytes}};
    return c + Units{{false, query("SELECT nope")}, {true, packet(errPayload(1054, "unknown column"), 1)},
                     {false, command(COM_INIT_DB, "sales")}, {true, ok}, {false, query("SELECT 9")}, {true, ok},
                     {false, command(COM_CHANGE_USER, QByteArray("bea") + '\0' + char(0) + "hr" + '\0')}, {true, ok},
                     {false, query("SELECT 10")}, {true, ok}};
}

} // namespace

class TestThreadHandler : public QObject
{
    Q_OBJECT
private slots:
    void queuedTrafficLikeDirectCalls()
    {
        // The same traffic as one call per unit and queued in pieces cut anywhere:
        // the same tuples and events in the same order. Statements leave in
        // batches on the tick, before a login or database change that follows
        // them; the disconnection flushes once.
        ThreadHandler direct, queued;
        Events directEvents(&direct), queuedEvents(&queued);
        const qint64 at = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 89)).toMSecsSinceEpoch();
        double ms = 0;
        int cut = 1;
        for (const auto& unit : conversation()) {
            const QByteArray& b = unit.second;
            unit.first ? direct.handlerMysql(b, ms += 1.25) : direct.handlerClient(b);
            for (int off = 0; off < b.size(); off += cut, cut = cut % 7 + 1) {
                const int n = qMin(cut, b.size() - off);
                unit.first ? queued.queueMysql(b.constData() + off, n, ms, at + qint64(ms * 4))
                           : queued.queueClient(b.constData() + off, n);
            }
        }
        // Nothing queued is decoded before the tick; the last statement waits for it.
        QVERIFY(queuedEvents.log.isEmpty() && queued.pendingQueries().isEmpty());
        QCOMPARE(direct.pendingQueries().size(), 1);
        direct.onTimeout();
        direct.onTimeout();   // an empty list is not handed over
        for (ThreadHandler* h : {&direct, &queued}) {
            h->onDisconnectSession(QTime(0, 0).addMSecs(4321));
            h->onDisconnectSession(QTime(0, 0).addMSecs(4321));
        }
        const QStringList expected{"login ann shop 1", "batch 6", "db sales", "batch 1", "login bea hr 1", "batch 1", "end 04.321"};
        QCOMPARE(directEvents.log, expected);
        QCOMPARE(queuedEvents.log, expected);
        // Answered at, ms, text, request and response KiB, rows, error: with these types.
        const QVariantList first{QDateTime(), 3.75, QByteArray("SELECT 0"), 8.0f / 1024, 4.0f / 1024, 2, false};
        for (int i = 0; i < first.size(); ++i)
            QCOMPARE(directEvents.tuples[0].at(i).userType(), first.at(i).userType());
        QCOMPARE(directEvents.tuples[0].mid(1), first.mid(1));
        QCOMPARE(directEvents.tuples[5].at(6), QVariant(true));
        QCOMPARE(queuedEvents.tuples.size(), directEvents.tuples.size());
        for (int i = 0; i < queuedEvents.tuples.size(); ++i) {
            const QVariantList& t = queuedEvents.tuples[i];
            QCOMPARE(t.mid(1), directEvents.tuples[i].mid(1));
            // Answered at: the moment the relay forwarded the answer's last bytes.
            QCOMPARE(t.at(0).toDateTime().toMSecsSinceEpoch(), at + qint64(t.at(1).toDouble() * 4));
        }
    }

    void pipelinedTrafficFromAnotherThread()
    {
        // A relay thread queues pipelined statements much faster than the
        // decoder thread runs, then reports the disconnection: every statement
        // arrives once, in order, before disconnectDb.
        constexpr int Pipeline = 64, Statements = 470 * Pipeline;
        auto* handler = new ThreadHandler;
        handler->moveToThread(handler);
        QMutex lock;
        QList<QVariantList> got;
        int endAfter = -1;
        connect(handler, &ThreadHandler::newQueries, handler, [&](QList<QVariantList> b) { QMutexLocker l(&lock); got += b; },
                Qt::DirectConnection);
        connect(handler, &ThreadHandler::disconnectDb, handler, [&](QTime) {
            QMutexLocker l(&lock);
            endAfter = got.size();
            handler->quit();
        }, Qt::DirectConnection);
        handler->start();
        QThread* relay = QThread::create([&] {
            QRandomGenerator rng(7);
            auto pieces = [&](const QByteArray& b, bool server, double ms) {
                for (int off = 0, n = 0; off < b.size(); off += n) {
                    n = qMin(int(rng.bounded(1, 200)), b.size() - off);
                    server ? handler->queueMysql(b.constData() + off, n, ms, 1600000000000LL + qint64(ms))
                           : handler->queueClient(b.constData() + off, n);
                }
            };
            pieces(greeting(0xFFFFFFFE), true, 0);
            pieces(handshake(BaseCaps, "zed", QByteArray(20, 'p')), false, 0);
            pieces(packet(okPayload(), 2), true, 0);
            for (int first = 0; first < Statements; first += Pipeline) {
                QByteArray requests;
                for (int i = first; i < first + Pipeline; ++i)
                    requests += query("SELECT " + QByteArray::number(i));
                pieces(requests, false, 0);
                // Each answer is cut on its own, so that its last piece's time tells which statement it was.
                for (int i = first; i < first + Pipeline; ++i)
                    pieces(i % 3 ? packet(okPayload(), 1) : resultSet(1, {{QByteArray::number(i)}}, false).bytes, true, i);
            }
            QMetaObject::invokeMethod(handler, [handler] { handler->onDisconnectSession(QTime(0, 1)); }, Qt::QueuedConnection);
        });
        relay->start();
        QVERIFY(relay->wait(600000));
        QVERIFY(handler->wait(600000));
        delete relay;
        delete handler;
        QCOMPARE(endAfter, Statements);
        for (int i = 0; i < Statements; ++i) {
            const QVariantList& t = got.at(i);
            if (t.at(2).toByteArray() != "SELECT " + QByteArray::number(i) || t.at(1).toDouble() != double(i)
                || t.at(0).toDateTime().toMSecsSinceEpoch() != 1600000000000LL + i || t.at(5).toInt() != (i % 3 ? 0 : 1))
                QFAIL(qPrintable(QStringLiteral("statement %1: %2 %3").arg(i).arg(t.at(2).toString()).arg(t.at(1).toDouble())));
        }
    }

    void trafficQueueWakesOncePerTake()
    {
        // One wake-up when the queue grows past its limit in bytes or units, none
        // after it until the reader took the queue; a batch taken into is emptied first.
        TrafficQueue q;
        const QByteArray big(int(TrafficQueue::WakeBytes / 4), 'b');
        int wakes = 0;
        for (int i = 0; i < 12; ++i)
            wakes += q.append(i % 2, big.constData(), big.size());
        QCOMPARE(wakes, 1);
        TrafficQueue::Batch b;
        b.units.push_back({});
        q.takeAll(&b);
        QVERIFY(q.isEmpty());
        QCOMPARE(b.units.size(), size_t(12));
        QCOMPARE(qsizetype(b.bytes.size()), 12 * qsizetype(big.size()));
        size_t count = 1;
        for (q.append(false, "u", 1); !q.append(true, "u", 1);)
            ++count;
        QCOMPARE(count + 1, TrafficQueue::WakeUnits);
    }

    void tracker()
    {
        // Boundaries exactly at packet ends, wherever the bytes are cut; the
        // login and LOAD DATA file packets begin no command, queries do.
        const QByteArray greet = greeting(0xFFFFFFFE), hs = handshake(BaseCaps, "u", "p"), okp = packet(okPayload(), 2);
        MysqlLinkTracker t;
        bool cmd = true;
        QVERIFY(!t.scanServer(greet.constData(), 10));
        QVERIFY(t.scanServer(greet.constData() + 10, greet.size() - 10));
        QVERIFY(t.scanClient(hs.constData(), hs.size(), &cmd) && !cmd);
        QVERIFY(t.scanServer(okp.constData(), okp.size()) && t.loggedIn());
        const QByteArray two = query("SELECT 1") + query("SELECT 2"), file = packet("1,2\n", 2) + packet({}, 3);
        QVERIFY(!t.scanClient(two.constData(), 10, &cmd) && cmd);
        QVERIFY(t.scanClient(two.constData() + 10, two.size() - 10, &cmd));
        QVERIFY(t.scanClient(file.constData(), file.size(), &cmd) && !cmd);
        const QByteArray rs = resultSet(2, {{"a", "b"}}, false).bytes;
        for (int cut = 1; cut < rs.size(); ++cut) {
            MysqlLinkTracker copy = t;
            const bool first = copy.scanServer(rs.constData(), cut);
            QVERIFY(copy.scanServer(rs.constData() + cut, rs.size() - cut));
            int off = 0;
            while (off < cut)
                off += 4 + int(decodedLength(rs.mid(off)));
            QCOMPARE(first, off == cut);
        }
        // Compression starts after the final OK, which may share a read with the first frame.
        MysqlLinkTracker z;
        const QByteArray hsz = handshake(BaseCaps | CLIENT_COMPRESS, "u", "p"), sw = authSwitch("client_ed25519"),
                         answer = packet(QByteArray(64, 's'), 3), q = compress(query("SELECT 1"), Algo::Zlib),
                         both = packet("\x01\x03", 4) + packet(okPayload(), 5) + compress(packet(okPayload(), 1), Algo::Zlib);
        QVERIFY(z.scanServer(greet.constData(), greet.size()) && z.scanClient(hsz.constData(), hsz.size()));
        QVERIFY(z.scanServer(sw.constData(), sw.size()) && z.scanClient(answer.constData(), answer.size()));
        QVERIFY(!z.scanServer(both.constData(), both.size() - 3));
        QCOMPARE(z.headerSize(), 7);
        QVERIFY(z.scanServer(both.constData() + both.size() - 3, 3));
        QVERIFY(z.scanClient(q.constData(), q.size(), &cmd) && cmd);
        // After an SSL request nothing is a command.
        MysqlLinkTracker s;
        const QByteArray ssl = sslRequest(), hello = QByteArray::fromHex("160301020001") + query("SELECT 1");
        QVERIFY(s.scanServer(greet.constData(), greet.size()) && s.scanClient(ssl.constData(), ssl.size()) && s.encrypted());
        QVERIFY(s.scanClient(hello.constData(), hello.size(), &cmd) && !cmd);
    }
};

QTEST_GUILESS_MAIN(TestThreadHandler)
#include "tst_threadhandler.moc"
