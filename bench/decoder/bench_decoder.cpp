// Decoder throughput: a large result set (GB/s of server bytes) and many
// small statements (statements/s), fed in 64 KiB pieces as the relay would;
// then the hand-over from a relay thread to the decoder thread, one request
// and one answer per statement at a steady pace, as queued slot calls and
// through the decoder's traffic queue (CPU and context switches per
// statement of the whole process).
// Prints figures; asserts nothing.

#include "MysqlDecoder.h"
#include "MysqlProtocol.h"
#include "ThreadHandler.h"

#include <QAtomicInteger>
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <sys/resource.h>
#include <time.h>

namespace {

QByteArray le(quint64 v, int n)
{
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
    return b;
}
QByteArray packet(const QByteArray& payload, quint8 seq) { return le(quint64(payload.size()), 3) + char(seq) + payload; }
QByteArray ok() { return QByteArray(1, '\0') + char(0) + char(0) + le(2, 2) + le(0, 2); }

struct Counter : MysqlDecoder::Sink
{
    quint64 statements = 0, rows = 0;
    void login(const QString&, const QString&, bool) override {}
    void statement(MysqlDecoder::Statement&& st) override
    {
        ++statements;
        rows += st.rows;
    }
    void databaseChanged(const QString&) override {}
};

void loginTo(MysqlDecoder& dec)
{
    const QByteArray greet = packet(QByteArray(1, 0x0A) + "10.11.6-MariaDB" + '\0' + le(1, 4) + QByteArray(8, 'a') + '\0'
                                        + le(0xF7FE, 2) + char(33) + le(2, 2) + le(0x81BF, 2) + char(21) + QByteArray(10, '\0'),
                                    0);
    const quint32 caps = mysql::CLIENT_PROTOCOL_41 | mysql::CLIENT_SECURE_CONNECTION;
    const QByteArray hs = packet(le(caps, 4) + le(1 << 24, 4) + char(33) + QByteArray(23, '\0') + "bench" + '\0' + char(0), 1);
    dec.feedServer(greet.constData(), greet.size(), 0);
    dec.feedClient(hs.constData(), hs.size());
    const QByteArray okp = packet(ok(), 2);
    dec.feedServer(okp.constData(), okp.size(), 0);
}

void feedInPieces(MysqlDecoder& dec, const QByteArray& data, bool client)
{
    constexpr int Piece = 64 * 1024;
    for (int off = 0; off < data.size(); off += Piece) {
        const int n = qMin(Piece, data.size() - off);
        client ? dec.feedClient(data.constData() + off, n) : dec.feedServer(data.constData() + off, n, 1.0);
    }
}

struct Usage
{
    double cpuUs = 0;
    long switches = 0;
    static Usage now()
    {
        rusage r {};
        getrusage(RUSAGE_SELF, &r);
        Usage u;
        u.cpuUs = double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e6 + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
        u.switches = r.ru_nvcsw + r.ru_nivcsw;
        return u;
    }
};

enum class Path { None, QueuedCalls, TrafficQueue };

/// Hands `count` statements to a decoder thread, one client and one server
/// unit each, pausing `pauseUs` after each unit (the time a peer would
/// take); returns CPU µs and context switches per statement. Path::None
/// only pauses: the cost of the pauses themselves.
Usage handOver(Path path, int count, int pauseUs)
{
    const QByteArray greet = packet(QByteArray(1, 0x0A) + "10.11.6-MariaDB" + '\0' + le(1, 4) + QByteArray(8, 'a') + '\0'
                                        + le(0xF7FE, 2) + char(33) + le(2, 2) + le(0x81BF, 2) + char(21) + QByteArray(10, '\0'),
                                    0);
    const quint32 caps = mysql::CLIENT_PROTOCOL_41 | mysql::CLIENT_SECURE_CONNECTION;
    const QByteArray hs = packet(le(caps, 4) + le(1 << 24, 4) + char(33) + QByteArray(23, '\0') + "bench" + '\0' + char(0), 1);
    const QByteArray okLogin = packet(ok(), 2);
    const QByteArray request = packet(QByteArray(1, mysql::COM_QUERY) + "SELECT c FROM sbtest1 WHERE id=4711", 0);
    const QByteArray answer = packet(ok(), 1);

    auto* handler = new ThreadHandler;
    handler->moveToThread(handler);
    QAtomicInteger<int> decoded(0);
    QAtomicInteger<int> ended(0);
    QObject::connect(handler, &ThreadHandler::newQueries, handler,
                     [&](QList<QVariantList> b) { decoded.fetchAndAddRelaxed(b.size()); }, Qt::DirectConnection);
    QObject::connect(handler, &ThreadHandler::disconnectDb, handler, [&](QTime) {
        ended.storeRelease(1);
        handler->quit();
    }, Qt::DirectConnection);
    handler->start();

    const bool queued = path == Path::TrafficQueue;
    auto client = [&](const QByteArray& b) {
        if (path == Path::None)
            return;
        if (queued)
            handler->queueClient(b.constData(), b.size());
        else
            QMetaObject::invokeMethod(handler, "handlerClient", Qt::QueuedConnection, Q_ARG(QByteArray, b));
    };
    auto server = [&](const QByteArray& b) {
        if (path == Path::None)
            return;
        if (queued)
            handler->queueMysql(b.constData(), b.size(), 0.1, 1600000000000LL);
        else
            QMetaObject::invokeMethod(handler, "handlerMysql", Qt::QueuedConnection, Q_ARG(QByteArray, b),
                                      Q_ARG(double, 0.1));
    };
    server(greet);
    client(hs);
    server(okLogin);
    const Usage before = Usage::now();
    const timespec pause {0, long(pauseUs) * 1000};
    for (int i = 0; i < count; ++i) {
        client(request);
        nanosleep(&pause, nullptr);
        server(answer);
        nanosleep(&pause, nullptr);
    }
    QMetaObject::invokeMethod(handler, "onDisconnectSession", Qt::QueuedConnection, Q_ARG(QTime, QTime(0, 0)));
    handler->wait();
    const Usage after = Usage::now();
    delete handler;
    if (path != Path::None && decoded.loadAcquire() != count)
        std::fprintf(stderr, "decoded %d statements instead of %d\n", decoded.loadAcquire(), count);
    Usage per;
    per.cpuUs = (after.cpuUs - before.cpuUs) / count;
    per.switches = after.switches - before.switches;
    return per;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // 1. One large result set: 2 million rows of about 120 bytes (about 250 MB).
    QByteArray rs = packet(QByteArray(1, 3), 1);
    for (int c = 0; c < 3; ++c)
        rs += packet(QByteArray(40, 'd'), quint8(2 + c));
    rs += packet(QByteArray(1, char(0xFE)) + le(0, 2) + le(2, 2), 5);
    QByteArray rowPayload = QByteArray(1, 8) + "12345678" + char(10) + "abcdefghij" + char(99) + QByteArray(99, 'x');
    const QByteArray onePacket = packet(rowPayload, 0);
    const int rows = 2000000;
    rs.reserve(rs.size() + rows * onePacket.size() + 16);
    for (int i = 0; i < rows; ++i)
        rs += onePacket;
    rs += packet(QByteArray(1, char(0xFE)) + le(0, 2) + le(2, 2), 0);
    const QByteArray q = packet(QByteArray(1, mysql::COM_QUERY) + "SELECT a, b, c FROM big", 0);

    double bestGbps = 0;
    for (int round = 0; round < 5; ++round) {
        Counter sink;
        MysqlDecoder dec(&sink);
        loginTo(dec);
        dec.feedClient(q.constData(), q.size());
        QElapsedTimer t;
        t.start();
        feedInPieces(dec, rs, false);
        const double s = double(t.nsecsElapsed()) / 1e9;
        if (sink.rows != quint64(rows)) {
            std::fprintf(stderr, "decoded %llu rows instead of %d\n", static_cast<unsigned long long>(sink.rows), rows);
            return 1;
        }
        bestGbps = qMax(bestGbps, double(rs.size()) / s / 1e9);
    }
    std::printf("large result set: %.1f MB, %d rows: %.2f GB/s (best of 5)\n", double(rs.size()) / 1e6, rows, bestGbps);

    // 2. Small statements: each a COM_QUERY answered with an OK packet, in
    // units of 500 statements.
    const int perUnit = 500, units = 4000;
    QByteArray clientUnit, serverUnit;
    for (int i = 0; i < perUnit; ++i) {
        clientUnit += packet(QByteArray(1, mysql::COM_QUERY) + "SELECT c FROM sbtest1 WHERE id=" + QByteArray::number(i), 0);
        serverUnit += packet(ok(), 1);
    }
    double bestRate = 0;
    for (int round = 0; round < 5; ++round) {
        Counter sink;
        MysqlDecoder dec(&sink);
        loginTo(dec);
        QElapsedTimer t;
        t.start();
        for (int u = 0; u < units; ++u) {
            dec.feedClient(clientUnit.constData(), clientUnit.size());
            dec.feedServer(serverUnit.constData(), serverUnit.size(), 0.2);
        }
        const double s = double(t.nsecsElapsed()) / 1e9;
        if (sink.statements != quint64(perUnit) * units) {
            std::fprintf(stderr, "decoded %llu statements\n", static_cast<unsigned long long>(sink.statements));
            return 1;
        }
        bestRate = qMax(bestRate, double(sink.statements) / s);
    }
    std::printf("small statements: %d: %.2f million statements/s (best of 5)\n", perUnit * units, bestRate / 1e6);

    // 3. Hand-over from the relay thread, one statement per 2 x 20 µs.
    constexpr int Statements = 50000;
    const char* names[] = {"pauses only", "queued calls", "traffic queue"};
    for (Path path : {Path::None, Path::QueuedCalls, Path::TrafficQueue}) {
        const Usage u = handOver(path, Statements, 20);
        std::printf("hand-over, %-13s: %6.2f us CPU, %.2f context switches per statement\n", names[int(path)],
                    u.cpuUs, double(u.switches) / Statements);
    }
    return 0;
}
