// Decoder throughput: a large result set (GB/s of server bytes) and many
// small statements (statements/s), fed in 64 KiB pieces as the relay would.
// Prints figures; asserts nothing.

#include "MysqlDecoder.h"
#include "MysqlProtocol.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cstdio>

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

} // namespace

int main()
{
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
    return 0;
}
