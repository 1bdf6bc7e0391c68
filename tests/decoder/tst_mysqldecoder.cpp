// The protocol decoder on crafted conversations, fed whole and byte by byte;
// a rich one cut at every byte, plain, with DEPRECATE_EOF and compressed.
// QUARVEL_FUZZ_SEEDS names a folder for the conversations as fuzzing seeds.

#include "FuzzInput.h"
#include "MysqlDecoder.h"
#include "MysqlWire.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace wire;
using namespace mysql;

struct Step { bool client; QByteArray bytes; double ms; };
using Conversation = QList<Step>;
Q_DECLARE_METATYPE(Conversation)

namespace {

Step C(const QByteArray& b) { return {true, b, 0}; }
Step S(const QByteArray& b, double ms = 1.5) { return {false, b, ms}; }

/// A statement as reported; a long text by its head, length and tail.
QString line(const QByteArray& text, quint64 rows, quint64 respBytes, qint64 reqBytes, bool err, double ms = 1.5)
{
    const QByteArray shown = text.size() <= 60 ? text : text.left(20) + ".." + QByteArray::number(text.size()) + ".." + text.right(10);
    return QString::asprintf("stmt %s rows=%llu resp=%llu req=%lld err=%d ms=%g", shown.constData(), rows, respBytes,
                             reqBytes, int(err), ms);
}

/// Records what the decoder reports, one line per fact; a text beyond the cut is "runaway".
struct Recorder : MysqlDecoder::Sink
{
    QStringList events;
    void login(const QString& user, const QString& db, bool ok) override
    {
        events << QStringLiteral("login %1 %2 %3").arg(user, db, ok ? "ok" : "failed");
    }
    void statement(MysqlDecoder::Statement&& st) override
    {
        events << (st.text.size() > MysqlDecoder::MaxText + 5 ? "runaway"
                   : line(st.text, st.rows, quint64(qRound64(double(st.responseKb) * 1024)),
                          qRound64(double(st.requestKb) * 1024), st.error, st.ms));
    }
    void databaseChanged(const QString& name) override { events << "db " + name; }
};

/// Writes the current table row's conversation as a fuzzing seed, when asked
/// to; conversations of megabytes would only slow the fuzzer down.
void writeSeed(const Conversation& conv)
{
    const QString dir = qEnvironmentVariable("QUARVEL_FUZZ_SEEDS");
    if (dir.isEmpty() || !QTest::currentDataTag())
        return;
    QByteArray seed;
    for (const Step& s : conv)
        fuzzinput::append(&seed, !s.client, s.bytes, s.ms);
    if (seed.size() > (64 << 10))
        return;
    QFile f(dir + "/" + QString("%1-%2").arg(QTest::currentTestFunction(), QTest::currentDataTag())
                              .replace(QRegularExpression("[^A-Za-z0-9]+"), "_"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(seed) == seed.size());
}

/// Feeds a conversation: step `cutStep` in two pieces at `cut`, or every step
/// byte by byte when `cutStep` is -2. A decoder left in TLS or lost says so last.
QStringList run(const Conversation& conv, int cutStep = -1, int cut = 0)
{
    if (cutStep == -1)
        writeSeed(conv);
    Recorder rec;
    MysqlDecoder dec(&rec);
    for (int i = 0; i < conv.size(); ++i) {
        const Step& s = conv[i];
        for (int off = 0, n = 0; off < s.bytes.size(); off += n) {
            n = cutStep == -2 ? 1 : i == cutStep && off < cut ? cut : s.bytes.size() - off;
            s.client ? dec.feedClient(s.bytes.constData() + off, n) : dec.feedServer(s.bytes.constData() + off, n, s.ms);
        }
    }
    rec.events << (dec.encrypted() ? "tls" : dec.lost() ? "lost" : "");
    rec.events.removeAll({});
    return rec.events;
}

/// Greeting, handshake and OK for the given client capabilities.
Conversation loginConv(quint32 caps, const QByteArray& user = "alice", const QByteArray& db = "shop")
{
    return {S(greeting(0xFFFFFFFE)), C(handshake(caps, user, QByteArray(20, 's'), db)), S(packet(okPayload(), 2))};
}

/// Auth switch, default database, result sets, multi-results, an error,
/// pipelining and a prepared statement; after the login everything travels
/// in compressed frames of 37 bytes when `algo` is given.
Conversation richConversation(quint32 extra, int algo = -1)
{
    const bool dep = extra & CLIENT_DEPRECATE_EOF;
    Conversation c{S(greeting(0xFFFFFFFE)), C(handshake(BaseCaps | extra, "bob", QByteArray(20, 'x'), "shop")),
                   S(authSwitch("client_ed25519", QByteArray(32, 'n'))),
                   C(packet(char(COM_QUERY) + QByteArray(63, 'k'), 3)), S(packet(okPayload(), 4))};
    const ResultSet rs = resultSet(2, {{"1", "apple"}, {"2", "pear"}, {"3", QByteArray(300, 'z')}}, dep);
    c << C(query("SELECT id, name FROM fruit")) << S(rs.bytes, 2.25);
    const ResultSet first = resultSet(1, {{"a"}}, dep, 0x000A);
    const ResultSet second = resultSet(1, {{"b"}, {"c"}}, dep, 0x000A, first.nextSeq);
    c << C(query("CALL two_sets()")) << S(first.bytes + second.bytes, 3.0) << S(packet(okPayload(), second.nextSeq), 4.0);
    c << C(query("SELECT nope")) << S(packet(errPayload(1054, "Unknown column"), 1));
    c << C(query("INSERT INTO t VALUES (1)") + query("DELETE FROM t"))
      << S(packet(okPayload(0x0002, 1), 1) + packet(okPayload(0x0002, 1), 1), 5.0);
    const QByteArray eof = dep ? QByteArray() : packet(eofPayload(), 3);
    c << C(command(COM_STMT_PREPARE, "SELECT id FROM t WHERE id > ?"))
      << S(packet(prepareOk(7, 1, 1), 1) + packet(columnDef("?"), 2) + eof + packet(columnDef("id"), 4)
           + (dep ? QByteArray() : packet(eofPayload(), 5)));
    c << C(command(COM_STMT_EXECUTE, le(7, 4) + char(0) + le(1, 4) + char(0) + char(1) + le(3, 2) + le(4, 4)))
      << S(packet(lenenc(1), 1) + packet(columnDef("id"), 2) + eof + packet(QByteArray(2, '\0') + le(5, 4), 4)
               + packet(QByteArray(2, '\0') + le(6, 4), 5) + packet(dep ? okPayload(0x0002, 0, char(0xFE)) : eofPayload(), 6),
           6.0);
    c << C(command(COM_STMT_CLOSE, le(7, 4))) << C(command(COM_QUIT, {}));
    for (int i = 5; algo >= 0 && i < c.size(); ++i)
        c[i].bytes = compress(c[i].bytes, Algo(algo), 0, 37);
    return c;
}

void addResultSetRows()
{
    for (bool dep : {false, true}) {
        const quint32 caps = BaseCaps | (dep ? quint32(CLIENT_DEPRECATE_EOF) : 0u);
        for (int rows : {0, 1000}) {
            QList<QList<QByteArray>> data;
            for (int i = 0; i < rows; ++i)
                data << QList<QByteArray>{QByteArray::number(i), QByteArray(i % 50, 'v'), QByteArray()};
            const ResultSet rs = resultSet(3, data, dep);
            // The answer comes in three units that split packets; the last one's time counts.
            const int a = rs.bytes.size() / 3, b = 2 * rs.bytes.size() / 3;
            Conversation c = loginConv(caps);
            c << C(query("SELECT * FROM t")) << S(rs.bytes.left(a), 1.0) << S(rs.bytes.mid(a, b - a), 2.0)
              << S(rs.bytes.mid(b), 7.5) << C(query("DO 1")) << S(packet(okPayload(), 1), 0.5);
            QTest::addRow("result set, %s, %d rows", dep ? "deprecate eof" : "classic", rows)
                << c << QStringList{"login alice shop ok", line("SELECT * FROM t", rows, rs.rowBytes, 15, false, 7.5),
                                    line("DO 1", 0, 0, 4, false, 0.5)};
        }
        // Result sets of one statement are summed; an error ends the answer;
        // an OK with more results pending is followed by a result set.
        const ResultSet one = resultSet(1, {{"a"}, {"bb"}}, dep, 0x000A);
        const ResultSet two = resultSet(2, {{"c", "dd"}}, dep, 0x000A, one.nextSeq);
        const ResultSet three = resultSet(1, {{"x"}}, dep, 0x000A);
        const ResultSet four = resultSet(1, {{"y"}}, dep, 0x0002, 2);
        Conversation c = loginConv(caps);
        c << C(query("SELECT 'a'; SELECT 'c', 'dd'")) << S(one.bytes, 1.0) << S(two.bytes, 2.0)
          << S(packet(okPayload(), two.nextSeq), 3.0);
        c << C(query("SELECT 'x'; SELECT nope")) << S(three.bytes + packet(errPayload(1054, "bad"), three.nextSeq), 4.0);
        c << C(query("UPDATE t SET a=1; SELECT 'y'")) << S(packet(okPayload(0x000A, 3), 1) + four.bytes, 5.0);
        QTest::addRow("multi-results, %s", dep ? "deprecate eof" : "classic")
            << c << QStringList{"login alice shop ok",
                                line("SELECT 'a'; SELECT 'c', 'dd'", 3, one.rowBytes + two.rowBytes, 28, false, 3.0),
                                line("SELECT 'x'; SELECT nope", 1, three.rowBytes, 23, true, 4.0),
                                line("UPDATE t SET a=1; SELECT 'y'", 1, four.rowBytes, 28, false, 5.0)};
    }
}

} // namespace

class TestMysqlDecoder : public QObject
{
    Q_OBJECT
private slots:
    void conversations_data()
    {
        QTest::addColumn<Conversation>("conv");
        QTest::addColumn<QStringList>("expected");
        const QByteArray ok1 = packet(okPayload(), 1), denied = errPayload(1045, "Access denied");
        const QString alice = "login alice shop ok";

        // One-byte auth length instead of a length-encoded one (a plain login starts every other row).
        QTest::newRow("login, short auth, no database")
            << loginConv(CLIENT_PROTOCOL_41 | CLIENT_SECURE_CONNECTION, "dave", {}) << QStringList{"login dave  ok"};
        // Auth switch, fast-auth and public key: the client's answers look like commands.
        QTest::newRow("auth switch and more data")
            << Conversation{S(greeting(0xFFFFFFFE, "8.0.36")), C(handshake(BaseCaps, "erin", "p", "shop")),
                            S(authSwitch("caching_sha2_password", QByteArray(20, 'n'))), C(packet(char(COM_QUERY) + QByteArray(31, 'h'), 3)),
                            S(packet("\x01\x04", 4)), C(packet(char(COM_STMT_PREPARE) + QByteArray("SELECT 1"), 5)),
                            S(packet("\x01-----BEGIN PUBLIC KEY-----", 6)), C(packet(char(COM_QUERY) + QByteArray(255, 'e'), 7)),
                            S(packet(okPayload(), 8))}
            << QStringList{"login erin shop ok"};
        QTest::newRow("failed login records nothing after")
            << Conversation{S(greeting(0xFFFFFFFE)), C(handshake(BaseCaps, "mallory", "w", "shop")), S(packet(denied, 2)),
                            C(query("SELECT 1")), S(ok1)}
            << QStringList{"login mallory shop failed"};
        QTest::newRow("failed after auth switch")
            << Conversation{S(greeting(0xFFFFFFFE)), C(handshake(BaseCaps, "oscar", "w")), S(authSwitch("client_ed25519")),
                            C(packet(QByteArray(64, 's'), 3)), S(packet(denied, 4))}
            << QStringList{"login oscar  failed"};
        // A very old client: two capability bytes, zero-terminated fields.
        QTest::newRow("4.0 client") << Conversation{S(greeting(0xFFFF, "4.0.30")),
                                                    C(packet(le(CLIENT_CONNECT_WITH_DB | CLIENT_LONG_PASSWORD, 2) + le(0xFFFFFF, 3)
                                                                 + QByteArray("peggy\0" "12345678\0" "legacy\0", 22), 1)),
                                                    S(packet(okPayload(), 2))}
                                    << QStringList{"login peggy legacy ok"};
        // Compression asked for: auth switch and more data stay plain, frames start after the final OK.
        QTest::newRow("compression after the final OK")
            << Conversation{S(greeting(0xFFFFFFFE)), C(handshake(BaseCaps | CLIENT_COMPRESS, "zed", "p")),
                            S(authSwitch("client_ed25519", QByteArray(32, 'n'))), C(packet(QByteArray(64, 's'), 3)),
                            S(packet("\x01\x03", 4) + packet(okPayload(), 5)), C(compress(query("SELECT 42"), Algo::Zlib)),
                            S(compress(resultSet(1, {{"42"}}, false).bytes, Algo::Zlib))}
            << QStringList{"login zed  ok", line("SELECT 42", 1, 3, 9, false)};
        // A frame that does not inflate stops decoding instead of inventing statements.
        QTest::newRow("broken frame") << (loginConv(BaseCaps | CLIENT_COMPRESS) << C(QByteArray::fromHex("0a000000200000") + "not zlib!!")
                                          << C(compress(query("SELECT 1"), Algo::Zlib)) << S(compress(ok1, Algo::Zlib)))
                                      << QStringList{alice, "lost"};
        // COM_CHANGE_USER, with an auth switch whose answer is no query, and refused.
        const QByteArray cu = command(COM_CHANGE_USER, QByteArray("trent\0\x14", 7) + QByteArray(20, 'q') + "archive" + '\0' + le(33, 2));
        QTest::newRow("change user")
            << (loginConv(BaseCaps) << C(query("SELECT 1")) << S(resultSet(1, {{"1"}}, false).bytes) << C(cu)
                                    << S(authSwitch("mysql_native_password", QByteArray(20, 'n'), 1))
                                    << C(packet(char(COM_QUERY) + QByteArray(19, 'r'), 2)) << S(packet(okPayload(), 3))
                                    << C(query("SELECT 2")) << S(resultSet(1, {{"2"}}, false).bytes, 2.0))
            << QStringList{alice, line("SELECT 1", 1, 2, 8, false), "login trent archive ok", line("SELECT 2", 1, 2, 8, false, 2)};
        QTest::newRow("change user refused") << (loginConv(BaseCaps) << C(cu) << S(packet(denied, 1)))
                                             << QStringList{alice, "login trent archive failed"};
        // A refused schema is no change; other commands are no statements.
        QTest::newRow("init db") << (loginConv(BaseCaps) << C(command(COM_INIT_DB, "sales")) << S(ok1)
                                     << C(command(COM_INIT_DB, "missing")) << S(packet(errPayload(1049, "Unknown database"), 1))
                                     << C(command(COM_PING, {})) << S(ok1) << C(query("SELECT 3")) << S(ok1))
                                 << QStringList{alice, "db sales", line("SELECT 3", 0, 0, 8, false)};

        addResultSetRows();

        // Progress reports (error code 0xFFFF) come before the real answer; an error amid the rows.
        const QByteArray progress = char(0xFF) + le(0xFFFF, 2) + "\x01\x01\x02" + le(5000, 3) + lenencStr("copy to tmp table");
        const QByteArray partial = resultSet(1, {{"1"}}, false).bytes;
        QTest::newRow("errors and progress")
            << (loginConv(BaseCaps) << C(query("INSERT INTO t VALUES (1)")) << S(packet(okPayload(0x0002, 1), 1))
                                    << C(query("SELECT * FROM missing")) << S(packet(errPayload(1146, "no table"), 1))
                                    << C(query("ALTER TABLE t ADD c INT")) << S(packet(progress, 1)) << S(packet(progress, 2), 9)
                                    << S(packet(okPayload(), 3), 12) << C(query("SELECT f() FROM t"))
                                    << S(partial.left(partial.size() - 9) + packet(errPayload(1365, "Division by 0"), 5)))
            << QStringList{alice, line("INSERT INTO t VALUES (1)", 0, 0, 24, false), line("SELECT * FROM missing", 0, 0, 21, true),
                           line("ALTER TABLE t ADD c INT", 0, 0, 23, false, 12), line("SELECT f() FROM t", 1, 2, 17, true)};
        // Three commands in one unit, the answers split mid-packet: each statement its own text and answer.
        const QByteArray answers = resultSet(1, {{"1"}, {"2"}}, false).bytes + packet(errPayload(1064, "syntax"), 1);
        QTest::newRow("pipelining")
            << (loginConv(BaseCaps) << C(query("SELECT a FROM t") + query("SELEC oops") + command(COM_STMT_CLOSE, le(99, 4)))
                                    << S(answers.left(answers.size() - 16), 1.0) << S(answers.right(16), 2.0))
            << QStringList{alice, line("SELECT a FROM t", 2, 4, 15, false, 1), line("SELEC oops", 0, 0, 10, true, 2)};

        // Executions carry the prepared text; closed statements are forgotten,
        // all of them after COM_RESET_CONNECTION; a failed prepare names none;
        // id 0xFFFFFFFF is the statement prepared in the same unit.
        QByteArray fourRows = packet(lenenc(1), 1) + packet(columnDef("v"), 2) + packet(eofPayload(), 3);
        for (quint8 i = 0; i < 4; ++i)
            fourRows += packet(QByteArray(2, '\0') + lenencStr("value"), 4 + i);
        const QByteArray exec3 = command(COM_STMT_EXECUTE, le(3, 4) + char(0) + le(1, 4)),
                         unknown = packet(errPayload(1243, "Unknown prepared statement"), 1);
        QTest::newRow("prepared statements")
            << (loginConv(BaseCaps) << C(command(COM_STMT_PREPARE, "SELECT v FROM kv"))
                                    << S(packet(prepareOk(3, 1, 0), 1) + packet(columnDef("v"), 2) + packet(eofPayload(), 3))
                                    << C(exec3) << S(fourRows + packet(eofPayload(), 8), 2.0) << C(exec3)
                                    << S(packet(errPayload(1213, "Deadlock"), 1), 3.0)
                                    << C(command(COM_STMT_PREPARE, "SELEC broken")) << S(packet(errPayload(1064, "syntax"), 1))
                                    << C(command(COM_STMT_PREPARE, "DELETE FROM kv")
                                         + command(COM_STMT_EXECUTE, le(0xFFFFFFFF, 4) + char(0) + le(1, 4)))
                                    << S(packet(prepareOk(4, 0, 0), 1) + packet(okPayload(0x0002, 2), 1), 4.0)
                                    << C(command(COM_STMT_CLOSE, le(4, 4))) << C(command(COM_STMT_EXECUTE, le(4, 4) + char(0) + le(1, 4)))
                                    << S(unknown, 5.0) << C(command(COM_RESET_CONNECTION, {})) << S(ok1) << C(exec3) << S(unknown, 6.0))
            << QStringList{alice, line("SELECT v FROM kv", 0, 0, 16, false), line("SELECT v FROM kv", 4, 32, 9, false, 2),
                           line("SELECT v FROM kv", 0, 0, 9, true, 3), line("SELEC broken", 0, 0, 12, true),
                           line("DELETE FROM kv", 0, 0, 14, false, 4), line("DELETE FROM kv", 0, 0, 9, false, 4),
                           line("", 0, 0, 9, true, 5), line("", 0, 0, 9, true, 6)};
        // Column definitions left out when the client caches them: a byte after the column count says so.
        const QByteArray exec1 = command(COM_STMT_EXECUTE, le(1, 4) + char(0) + le(1, 4)), binRow = QByteArray(2, '\0') + le(1, 4);
        QTest::newRow("cached metadata")
            << Conversation{S(greeting(0xFFFFFFFE, "11.4.2-MariaDB", MARIADB_CLIENT_CACHE_METADATA)),
                            C(packet(le(BaseCaps & ~CLIENT_LONG_PASSWORD, 4) + le(16 << 20, 4) + char(33) + QByteArray(19, '\0')
                                         + le(MARIADB_CLIENT_CACHE_METADATA, 4) + QByteArray("meta\0\0", 6), 1)),
                            S(packet(okPayload(), 2)), C(command(COM_STMT_PREPARE, "SELECT n FROM t")),
                            S(packet(prepareOk(1, 1, 0), 1) + packet(columnDef("n"), 2) + packet(eofPayload(), 3)), C(exec1),
                            S(packet(lenenc(1) + char(1), 1) + packet(columnDef("n"), 2) + packet(eofPayload(), 3)
                              + packet(binRow, 4) + packet(eofPayload(), 5)), C(exec1),
                            S(packet(lenenc(1) + char(0), 1) + packet(eofPayload(), 2) + packet(binRow, 3)
                              + packet(binRow, 4) + packet(eofPayload(), 5))}
            << QStringList{"login meta  ok", line("SELECT n FROM t", 0, 0, 15, false), line("SELECT n FROM t", 1, 6, 9, false),
                           line("SELECT n FROM t", 2, 12, 9, false)};

        // After an SSL request everything is TLS, even bytes that look like commands and answers.
        QTest::newRow("tls") << Conversation{S(greeting(0xFFFFFFFE)), C(sslRequest()),
                                             C(QByteArray::fromHex("1603010200010001fc0303") + query("SELECT secret")),
                                             S(ok1), C(query("SELECT 1")), S(resultSet(1, {{"1"}}, false).bytes)}
                             << QStringList{"login unknown  ok", "tls"};
        // LOCAL INFILE content that looks like commands is no command.
        QTest::newRow("local infile")
            << (loginConv(BaseCaps) << C(query("LOAD DATA LOCAL INFILE 'a.csv' INTO TABLE t")) << S(packet("\xfb" "a.csv", 1))
                                    << C(packet(char(COM_QUERY) + QByteArray("DROP TABLE x\n1,2\n"), 2))
                                    << C(packet(char(COM_STMT_PREPARE) + QByteArray("3,4\n"), 3) + packet({}, 4))
                                    << S(packet(okPayload(0x0002, 2), 5), 8.0) << C(query("SELECT 5")) << S(ok1, 1.0))
            << QStringList{alice, line("LOAD DATA LOCAL INFILE 'a.csv' INTO TABLE t", 0, 0, 43, false, 8),
                           line("SELECT 5", 0, 0, 8, false, 1)};
        // Query attributes (none; a string, an integer and a null) precede the text and are not part of it.
        const QByteArray attrs = lenenc(3) + lenenc(1) + "\x04\x01" + le(0xFD, 2) + lenencStr("trace") + le(0x08, 2)
            + lenencStr("n") + le(0x06, 2) + lenencStr("z") + lenencStr("abc-123") + le(77, 8);
        QTest::newRow("query attributes")
            << (loginConv(BaseCaps | CLIENT_QUERY_ATTRIBUTES) << C(command(COM_QUERY, lenenc(0) + lenenc(1) + "SELECT 1"))
                                                              << S(ok1) << C(command(COM_QUERY, attrs + "SELECT 2")) << S(ok1))
            << QStringList{alice, line("SELECT 1", 0, 0, 10, false), line("SELECT 2", 0, 0, attrs.size() + 8, false)};

        // Texts beyond 20000 bytes are cut and marked; a 20 MiB one comes in two packets.
        for (int length : {20000, 20001, 20 << 20}) {
            const QByteArray text = "SELECT '" + QByteArray(length - 9, 'a') + "'", req = query(text);
            QTest::addRow("text of %d bytes", length)
                << (loginConv(BaseCaps) << C(req.left(1000)) << C(req.mid(1000)) << S(packet(okPayload(), length >> 24 ? 2 : 1)))
                << QStringList{alice, line(length > 20000 ? text.left(20000) + "[...]" : text, 0, 0, length, false)};
        }
        // A row of 17 MiB starts with 0xFE (8-byte length): a row, not the end.
        const QByteArray bigRow = row({QByteArray(17 << 20, 'r')});
        const QByteArray big = packet(lenenc(1), 1) + packet(columnDef("b"), 2) + packet(eofPayload(), 3) + packet(bigRow, 4)
            + packet(row({"tail"}), 6) + packet(eofPayload(), 7);
        QTest::newRow("16 MiB rows")
            << (loginConv(BaseCaps) << C(query("SELECT b FROM blobs")) << S(big.left(3 << 20), 1) << S(big.mid(3 << 20), 4))
            << QStringList{alice, line("SELECT b FROM blobs", 2, quint64(bigRow.size()) + 5, 19, false, 4)};
    }

    void conversations()
    {
        QFETCH(Conversation, conv);
        QFETCH(QStringList, expected);
        QCOMPARE(run(conv), expected);
        qsizetype size = 0;
        for (const Step& s : conv)
            size += s.bytes.size();
        if (size < (1 << 20))
            QCOMPARE(run(conv, -2), expected);
    }

    void splitAnywhere_data()
    {
        QTest::addColumn<Conversation>("conv");
        QTest::newRow("classic") << richConversation(0);
        QTest::newRow("deprecate eof") << richConversation(CLIENT_DEPRECATE_EOF);
        QTest::newRow("zlib") << richConversation(CLIENT_COMPRESS, int(Algo::Zlib));
        QTest::newRow("zstd") << richConversation(CLIENT_ZSTD_COMPRESSION_ALGORITHM, int(Algo::Zstd));
        QTest::newRow("uncompressed frames") << richConversation(CLIENT_COMPRESS, int(Algo::Raw));
    }

    void splitAnywhere()
    {
        QFETCH(Conversation, conv);
        const QStringList whole = run(conv);
        QCOMPARE(whole, (QStringList{"login bob shop ok", line("SELECT id, name FROM fruit", 3, 320, 26, false, 2.25),
                                     line("CALL two_sets()", 3, 6, 15, false, 4.0), line("SELECT nope", 0, 0, 11, true),
                                     line("INSERT INTO t VALUES (1)", 0, 0, 24, false, 5.0),
                                     line("DELETE FROM t", 0, 0, 13, false, 5.0),
                                     line("SELECT id FROM t WHERE id > ?", 0, 0, 29, false),
                                     line("SELECT id FROM t WHERE id > ?", 2, 12, 17, false, 6.0)}));
        for (int step = 0; step < conv.size(); ++step)
            for (int cut = 1; cut < conv[step].bytes.size(); ++cut) {
                const QStringList got = run(conv, step, cut);
                if (got != whole)
                    QFAIL(qPrintable(QStringLiteral("step %1 cut at %2: %3").arg(step).arg(cut).arg(got.join('|'))));
            }
        QCOMPARE(run(conv, -2), whole);
    }

    void hostileInput()
    {
        // A peer gone mid-packet: every prefix gives a prefix of the facts.
        const Conversation conv = richConversation(CLIENT_COMPRESS, int(Algo::Zlib));
        const QStringList full = run(conv);
        for (int step = 0; step < conv.size(); ++step)
            for (int cut : {1, 3, 4, 5, 7, conv[step].bytes.size() / 2}) {
                Conversation prefix = conv.mid(0, step + 1);
                prefix[step].bytes.truncate(cut);
                const QStringList got = run(prefix);
                QCOMPARE(got, full.mid(0, got.size()));
            }
        // Lengths far past the data, malformed greetings and handshakes, noise,
        // and valid traffic with a few bytes flipped: no crash, no runaway text.
        QList<Conversation> odd{
            {S(packet("\x0a" "8", 0)), C(packet(QByteArray(3, char(0xFF)), 1)), S(packet(okPayload(), 2)),
             C(QByteArray::fromHex("ffffff00") + "SELECT")},
            {S(QByteArray::fromHex("0a000000")), C(QByteArray::fromHex("01000001")), S(QByteArray::fromHex("0100000200"))},
            loginConv(BaseCaps) << S(resultSet(2, {{"1", "2"}}, false).bytes) << C(query("")) << C(packet({}, 0))
                                << S(packet("\xfe", 1)) << S(packet("\xfd", 1)) << C(command(COM_STMT_EXECUTE, "x"))
                                << S(packet(lenenc(0xFFFFFFFFFFull), 1)),
            loginConv(BaseCaps | CLIENT_COMPRESS) << C(QByteArray::fromHex("0a000000ffffff") + "garbage!!!")
                                                  << S(QByteArray::fromHex("05000000100000") + "12345")};
        QRandomGenerator rng(20240611);
        for (int round = 0; round < 300; ++round) {
            Conversation c = richConversation(CLIENT_DEPRECATE_EOF);
            for (Step& s : c) {
                if (round % 2)
                    s.bytes = QByteArray(int(rng.bounded(200)), '\0');
                for (int k = 0; k < (round % 2 ? s.bytes.size() : 3); ++k)
                    s.bytes[int(rng.bounded(s.bytes.size()))] = char(rng.bounded(256));
            }
            odd << c;
        }
        for (const Conversation& c : odd)
            QVERIFY(!run(c).contains("runaway"));
    }
};

QTEST_APPLESS_MAIN(TestMysqlDecoder)
#include "tst_mysqldecoder.moc"
