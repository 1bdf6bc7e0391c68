// The protocol decoder on crafted conversations: login variants, result
// sets, compression, prepared statements, pipelining, hostile input, and
// the same conversation cut at every byte giving the same facts.

#include "MysqlDecoder.h"
#include "MysqlWire.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace wire;
using namespace mysql;

struct Step
{
    bool client;
    QByteArray bytes;
    double ms = 0;
};
using Conversation = QList<Step>;
Q_DECLARE_METATYPE(Conversation)

namespace {

Step C(const QByteArray& b) { return {true, b, 0}; }
Step S(const QByteArray& b, double ms = 1.5) { return {false, b, ms}; }

/// Records what the decoder reports, one line per fact.
struct Recorder : MysqlDecoder::Sink
{
    QStringList events;
    QList<MysqlDecoder::Statement> statements;
    void login(const QString& user, const QString& db, bool ok) override
    {
        events << QStringLiteral("login %1 %2 %3").arg(user, db, ok ? "ok" : "failed");
    }
    void statement(MysqlDecoder::Statement&& st) override
    {
        events << QStringLiteral("stmt %1 rows=%2 resp=%3 req=%4 err=%5 ms=%6")
                      .arg(QString::fromLatin1(st.text.left(60)))
                      .arg(st.rows)
                      .arg(qRound64(double(st.responseKb) * 1024))
                      .arg(qRound64(double(st.requestKb) * 1024))
                      .arg(st.error)
                      .arg(st.ms);
        statements << st;
    }
    void databaseChanged(const QString& name) override { events << QStringLiteral("db %1").arg(name); }
};

/// Feeds a conversation; `cut` splits step `cutStep` into two pieces at that offset.
QStringList run(const Conversation& conv, int cutStep = -1, int cut = 0, Recorder* out = nullptr)
{
    Recorder rec;
    MysqlDecoder dec(&rec);
    for (int i = 0; i < conv.size(); ++i) {
        const Step& s = conv[i];
        QList<QByteArray> pieces;
        if (i == cutStep)
            pieces << s.bytes.left(cut) << s.bytes.mid(cut);
        else
            pieces << s.bytes;
        for (const QByteArray& p : pieces) {
            if (s.client)
                dec.feedClient(p.constData(), p.size());
            else
                dec.feedServer(p.constData(), p.size(), s.ms);
        }
    }
    if (out)
        *out = rec;
    return rec.events;
}

/// Every step fed one byte at a time.
QStringList runBytewise(const Conversation& conv)
{
    Recorder rec;
    MysqlDecoder dec(&rec);
    for (const Step& s : conv)
        for (int i = 0; i < s.bytes.size(); ++i) {
            if (s.client)
                dec.feedClient(s.bytes.constData() + i, 1);
            else
                dec.feedServer(s.bytes.constData() + i, 1, s.ms);
        }
    return rec.events;
}

/// Greeting, handshake and OK for the given client capabilities.
Conversation loginConv(quint32 caps, const QByteArray& user = "alice", const QByteArray& db = "shop",
                   quint32 serverCaps = 0xFFFFFFFE)
{
    return {S(greeting(serverCaps)), C(handshake(caps, user, QByteArray(20, 's'), db)), S(packet(okPayload(), 2))};
}

QString stmtLine(const QByteArray& text, quint64 rows, quint64 respBytes, qint64 reqBytes, bool err, double ms = 1.5)
{
    return QStringLiteral("stmt %1 rows=%2 resp=%3 req=%4 err=%5 ms=%6")
        .arg(QString::fromLatin1(text.left(60)))
        .arg(rows)
        .arg(respBytes)
        .arg(reqBytes)
        .arg(err)
        .arg(ms);
}

/// A conversation touching most of the decoder: auth switch, default
/// database, result sets, multi-results, error, pipelining, prepared statements.
Conversation richConversation(quint32 extra)
{
    const bool dep = extra & CLIENT_DEPRECATE_EOF;
    Conversation c;
    c << S(greeting(0xFFFFFFFE)) << C(handshake(BaseCaps | extra, "bob", QByteArray(20, 'x'), "shop"))
      << S(packet(QByteArray(1, char(0xFE)) + "client_ed25519" + '\0' + QByteArray(32, 'n'), 2))
      << C(packet(QByteArray(1, char(COM_QUERY)) + QByteArray(63, 'k'), 3)) << S(packet(okPayload(), 4));
    const ResultSet rs = resultSet(2, {{"1", "apple"}, {"2", "pear"}, {"3", QByteArray(300, 'z')}}, dep);
    c << C(query("SELECT id, name FROM fruit")) << S(rs.bytes, 2.25);
    const ResultSet first = resultSet(1, {{"a"}}, dep, 0x000A);
    const ResultSet second = resultSet(1, {{"b"}, {"c"}}, dep, 0x000A, first.nextSeq);
    c << C(query("CALL two_sets()")) << S(first.bytes + second.bytes, 3.0) << S(packet(okPayload(), second.nextSeq), 4.0);
    c << C(query("SELECT nope")) << S(packet(errPayload(1054, "Unknown column"), 1));
    c << C(query("INSERT INTO t VALUES (1)") + query("DELETE FROM t"))
      << S(packet(okPayload(0x0002, 1), 1) + packet(okPayload(0x0002, 1), 1), 5.0);
    QByteArray prepOk = QByteArray(1, '\0') + le(7, 4) + le(1, 2) + le(1, 2) + char(0) + le(0, 2);
    QByteArray prepAnswer = packet(prepOk, 1) + packet(columnDef("?"), 2);
    if (!dep)
        prepAnswer += packet(eofPayload(), 3);
    prepAnswer += packet(columnDef("id"), 4);
    if (!dep)
        prepAnswer += packet(eofPayload(), 5);
    c << C(command(COM_STMT_PREPARE, "SELECT id FROM t WHERE id > ?")) << S(prepAnswer);
    QByteArray binRows = packet(lenenc(1), 1) + packet(columnDef("id"), 2);
    if (!dep)
        binRows += packet(eofPayload(), 3);
    binRows += packet(QByteArray(1, '\0') + QByteArray(1, '\0') + le(5, 4), 4)
        + packet(QByteArray(1, '\0') + QByteArray(1, '\0') + le(6, 4), 5)
        + packet(dep ? okPayload(0x0002, 0, char(0xFE)) : eofPayload(), 6);
    c << C(command(COM_STMT_EXECUTE, le(7, 4) + char(0) + le(1, 4) + char(0) + char(1) + le(3, 2) + le(4, 4)))
      << S(binRows, 6.0);
    c << C(command(COM_STMT_CLOSE, le(7, 4))) << C(command(COM_QUIT, {}));
    return c;
}

} // namespace

class TestMysqlDecoder : public QObject
{
    Q_OBJECT
private slots:
    void login_data();
    void login();
    void changeUser();
    void initDb();
    void resultSets_data();
    void resultSets();
    void multipleResults();
    void errorsAndProgress();
    void truncation_data();
    void truncation();
    void pipelining();
    void splitAnywhere_data();
    void splitAnywhere();
    void compression_data();
    void compression();
    void compressionStartsAfterFinalOk();
    void preparedStatements();
    void tls();
    void localInfile();
    void queryAttributes();
    void hugePackets();
    void cachedMetadata();
    void hostileInput();
    void randomBytes();
};

void TestMysqlDecoder::login_data()
{
    QTest::addColumn<Conversation>("conv");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("plain with database") << loginConv(BaseCaps) << QStringList{"login alice shop ok"};
    QTest::newRow("no database") << loginConv(BaseCaps, "carol", {}) << QStringList{"login carol  ok"};

    // One-byte auth length instead of a length-encoded one.
    const quint32 secure = CLIENT_PROTOCOL_41 | CLIENT_SECURE_CONNECTION | CLIENT_LONG_PASSWORD;
    QTest::newRow("secure connection") << loginConv(secure, "dave", "inventory") << QStringList{"login dave inventory ok"};

    // Auth switch to caching_sha2_password, then fast-auth success and OK.
    // The client's answers start with 0x03 and 0x16: they are not commands.
    Conversation sw{S(greeting(0xFFFFFFFE, "8.0.36")), C(handshake(BaseCaps, "erin", QByteArray(20, 'p'), "shop")),
                    S(packet(QByteArray(1, char(0xFE)) + "caching_sha2_password" + '\0' + QByteArray(20, 'n'), 2)),
                    C(packet(QByteArray(1, char(COM_QUERY)) + QByteArray(31, 'h'), 3)),
                    S(packet(QByteArray(1, char(0x01)) + char(0x04), 4)),
                    C(packet(QByteArray(1, char(COM_STMT_PREPARE)) + "SELECT 1", 5)),
                    S(packet(QByteArray(1, char(0x01)) + "-----BEGIN PUBLIC KEY-----", 6)),
                    C(packet(QByteArray(1, char(COM_QUERY)) + QByteArray(255, 'e'), 7)), S(packet(okPayload(), 8))};
    QTest::newRow("auth switch and more data") << sw << QStringList{"login erin shop ok"};

    Conversation failed{S(greeting(0xFFFFFFFE)), C(handshake(BaseCaps, "mallory", QByteArray(20, 'w'), "shop")),
                        S(packet(errPayload(1045, "Access denied"), 2)), C(query("SELECT 1")), S(packet(okPayload(), 1))};
    QTest::newRow("failed login records nothing after") << failed << QStringList{"login mallory shop failed"};

    Conversation switchFailed{S(greeting(0xFFFFFFFE)), C(handshake(BaseCaps, "oscar", QByteArray(20, 'w'))),
                              S(packet(QByteArray(1, char(0xFE)) + "client_ed25519" + '\0', 2)),
                              C(packet(QByteArray(64, 's'), 3)), S(packet(errPayload(1045, "Access denied"), 4))};
    QTest::newRow("failed after auth switch") << switchFailed << QStringList{"login oscar  failed"};

    // A very old client: two capability bytes, zero-terminated fields.
    QByteArray old = le(CLIENT_CONNECT_WITH_DB | CLIENT_LONG_PASSWORD, 2) + le(0xFFFFFF, 3) + "peggy" + '\0' + "12345678"
        + '\0' + "legacy" + '\0';
    QTest::newRow("4.0 client") << Conversation{S(greeting(0xFFFF, "4.0.30")), C(packet(old, 1)), S(packet(okPayload(), 2))}
                                << QStringList{"login peggy legacy ok"};
}

void TestMysqlDecoder::login()
{
    QFETCH(Conversation, conv);
    QFETCH(QStringList, expected);
    QCOMPARE(run(conv), expected);
}

void TestMysqlDecoder::changeUser()
{
    Conversation c = loginConv(BaseCaps);
    c << C(query("SELECT 1")) << S(resultSet(1, {{"1"}}, false).bytes);
    QByteArray cu = QByteArray("trent") + '\0' + char(20) + QByteArray(20, 'q') + "archive" + '\0' + le(33, 2);
    c << C(command(COM_CHANGE_USER, cu))
      << S(packet(QByteArray(1, char(0xFE)) + "mysql_native_password" + '\0' + QByteArray(20, 'n'), 1))
      << C(packet(QByteArray(1, char(COM_QUERY)) + QByteArray(19, 'r'), 2))   // auth data, not a query
      << S(packet(okPayload(), 3)) << C(query("SELECT 2")) << S(resultSet(1, {{"2"}}, false).bytes, 2.0);
    QCOMPARE(run(c), (QStringList{"login alice shop ok", stmtLine("SELECT 1", 1, 2, 8, false),
                                  "login trent archive ok", stmtLine("SELECT 2", 1, 2, 8, false, 2.0)}));

    Conversation bad = loginConv(BaseCaps);
    bad << C(command(COM_CHANGE_USER, cu)) << S(packet(errPayload(1045, "Access denied"), 1));
    QCOMPARE(run(bad), (QStringList{"login alice shop ok", "login trent archive failed"}));
}

void TestMysqlDecoder::initDb()
{
    Conversation c = loginConv(BaseCaps);
    c << C(command(COM_INIT_DB, "sales")) << S(packet(okPayload(), 1)) << C(command(COM_INIT_DB, "missing"))
      << S(packet(errPayload(1049, "Unknown database"), 1)) << C(command(COM_PING, {})) << S(packet(okPayload(), 1))
      << C(query("SELECT 3")) << S(packet(okPayload(), 1));
    // A refused schema is no change; other commands are not statements.
    QCOMPARE(run(c), (QStringList{"login alice shop ok", "db sales", stmtLine("SELECT 3", 0, 0, 8, false)}));
}

void TestMysqlDecoder::resultSets_data()
{
    QTest::addColumn<bool>("deprecateEof");
    QTest::addColumn<int>("rows");
    for (bool dep : {false, true})
        for (int rows : {0, 1, 3, 1000}) {
            QTest::addRow("%s, %d rows", dep ? "deprecate eof" : "classic eof", rows) << dep << rows;
        }
}

void TestMysqlDecoder::resultSets()
{
    QFETCH(bool, deprecateEof);
    QFETCH(int, rows);
    QList<QList<QByteArray>> data;
    for (int i = 0; i < rows; ++i)
        data << QList<QByteArray>{QByteArray::number(i), QByteArray(i % 50, 'v'), QByteArray()};
    const ResultSet rs = resultSet(3, data, deprecateEof);
    const quint32 caps = BaseCaps | (deprecateEof ? quint32(CLIENT_DEPRECATE_EOF) : 0u);
    Conversation c = loginConv(caps);
    // The answer is delivered in three units that split packets.
    const int a = rs.bytes.size() / 3, b = 2 * rs.bytes.size() / 3;
    c << C(query("SELECT * FROM t")) << S(rs.bytes.left(a), 1.0) << S(rs.bytes.mid(a, b - a), 2.0)
      << S(rs.bytes.mid(b), 7.5) << C(query("DO 1")) << S(packet(okPayload(), 1), 0.5);
    Recorder rec;
    run(c, -1, 0, &rec);
    QCOMPARE(rec.statements.size(), 2);
    const auto& st = rec.statements[0];
    QCOMPARE(st.text, QByteArray("SELECT * FROM t"));
    QCOMPARE(st.rows, quint32(rows));
    QCOMPARE(st.responseKb, float(double(rs.rowBytes) / 1024.0));
    QCOMPARE(st.ms, 7.5);   // the unit that completed the answer
    QVERIFY(!st.error);
    QCOMPARE(rec.statements[1].text, QByteArray("DO 1"));
    QCOMPARE(rec.statements[1].ms, 0.5);
}

void TestMysqlDecoder::multipleResults()
{
    for (bool dep : {false, true}) {
        const quint32 caps = BaseCaps | (dep ? quint32(CLIENT_DEPRECATE_EOF) : 0u);
        const ResultSet one = resultSet(1, {{"a"}, {"bb"}}, dep, 0x000A);
        const ResultSet two = resultSet(2, {{"c", "dd"}}, dep, 0x000A, one.nextSeq);
        Conversation c = loginConv(caps);
        c << C(query("SELECT 'a'; SELECT 'c', 'dd'")) << S(one.bytes, 1.0) << S(two.bytes, 2.0)
          << S(packet(okPayload(0x0002), two.nextSeq), 3.0);
        // A statement whose second part fails: the error ends the answer.
        const ResultSet three = resultSet(1, {{"x"}}, dep, 0x000A);
        c << C(query("SELECT 'x'; SELECT nope")) << S(three.bytes + packet(errPayload(1054, "bad"), three.nextSeq), 4.0);
        // An OK with more results pending, then a result set.
        const ResultSet four = resultSet(1, {{"y"}}, dep, 0x0002, 2);
        c << C(query("UPDATE t SET a=1; SELECT 'y'")) << S(packet(okPayload(0x000A, 3), 1) + four.bytes, 5.0);
        QCOMPARE(run(c), (QStringList{"login alice shop ok",
                                      stmtLine("SELECT 'a'; SELECT 'c', 'dd'", 3, one.rowBytes + two.rowBytes, 28, false, 3.0),
                                      stmtLine("SELECT 'x'; SELECT nope", 1, three.rowBytes, 23, true, 4.0),
                                      stmtLine("UPDATE t SET a=1; SELECT 'y'", 1, four.rowBytes, 28, false, 5.0)}));
    }
}

void TestMysqlDecoder::errorsAndProgress()
{
    Conversation c = loginConv(BaseCaps);
    c << C(query("INSERT INTO t VALUES (1)")) << S(packet(okPayload(0x0002, 1), 1));
    c << C(query("SELECT * FROM missing")) << S(packet(errPayload(1146, "Table doesn't exist"), 1));
    // Progress reports (error code 0xFFFF) come before the real answer.
    const QByteArray progress = QByteArray(1, char(0xFF)) + le(0xFFFF, 2) + char(1) + char(1) + char(2) + le(5000, 3)
        + lenencStr("copy to tmp table");
    c << C(query("ALTER TABLE t ADD c INT")) << S(packet(progress, 1)) << S(packet(progress, 2), 9.0)
      << S(packet(okPayload(), 3), 12.0);
    // An error in the middle of the rows.
    const ResultSet partial = resultSet(1, {{"1"}}, false);
    c << C(query("SELECT f() FROM t"))
      << S(partial.bytes.left(partial.bytes.size() - 9) + packet(errPayload(1365, "Division by 0"), 5));
    QCOMPARE(run(c), (QStringList{"login alice shop ok", stmtLine("INSERT INTO t VALUES (1)", 0, 0, 24, false),
                                  stmtLine("SELECT * FROM missing", 0, 0, 21, true),
                                  stmtLine("ALTER TABLE t ADD c INT", 0, 0, 23, false, 12.0),
                                  stmtLine("SELECT f() FROM t", 1, 2, 17, true)}));
}

void TestMysqlDecoder::truncation_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("cut");
    QTest::newRow("short") << 10 << false;
    QTest::newRow("exactly 20000") << 20000 << false;
    QTest::newRow("20001") << 20001 << true;
    QTest::newRow("25000") << 25000 << true;
    QTest::newRow("2 MiB") << (2 << 20) << true;
}

void TestMysqlDecoder::truncation()
{
    QFETCH(int, length);
    QFETCH(bool, cut);
    QByteArray text("SELECT '");
    while (text.size() < length - 1)
        text += char('a' + text.size() % 26);
    text += '\'';
    text = text.left(length);
    Conversation c = loginConv(BaseCaps);
    c << C(query(text)) << S(packet(okPayload(), 1));
    Recorder rec;
    run(c, -1, 0, &rec);
    QCOMPARE(rec.statements.size(), 1);
    const QByteArray expected = cut ? text.left(20000) + "[...]" : text;
    QCOMPARE(rec.statements[0].text, expected);
    QCOMPARE(rec.statements[0].requestKb, float(length) / 1024.0f);
}

void TestMysqlDecoder::pipelining()
{
    Conversation c = loginConv(BaseCaps);
    const ResultSet rs = resultSet(1, {{"1"}, {"2"}}, false);
    // Two commands in one unit, their answers in one unit (split mid-packet
    // in the second), each statement with its own text and answer.
    const QByteArray answers = rs.bytes + packet(errPayload(1064, "syntax"), 1);
    c << C(query("SELECT a FROM t") + query("SELEC oops") + command(COM_STMT_CLOSE, le(99, 4)))
      << S(answers.left(rs.bytes.size() + 3), 1.0) << S(answers.mid(rs.bytes.size() + 3), 2.0);
    Recorder rec;
    run(c, -1, 0, &rec);
    QCOMPARE(rec.statements.size(), 2);
    QCOMPARE(rec.statements[0].text, QByteArray("SELECT a FROM t"));
    QCOMPARE(rec.statements[0].rows, 2u);
    QCOMPARE(rec.statements[0].requestKb, 15.0f / 1024);
    QVERIFY(!rec.statements[0].error);
    QCOMPARE(rec.statements[1].text, QByteArray("SELEC oops"));
    QCOMPARE(rec.statements[1].rows, 0u);
    QVERIFY(rec.statements[1].error);
    QCOMPARE(rec.statements[1].ms, 2.0);
}

void TestMysqlDecoder::splitAnywhere_data()
{
    QTest::addColumn<Conversation>("conv");
    QTest::addColumn<int>("statements");
    QTest::newRow("classic") << richConversation(0) << 7;
    QTest::newRow("deprecate eof") << richConversation(CLIENT_DEPRECATE_EOF) << 7;
    for (auto algo : {Algo::Zlib, Algo::Zstd, Algo::Raw}) {
        const quint32 flag = algo == Algo::Zstd ? CLIENT_ZSTD_COMPRESSION_ALGORITHM : CLIENT_COMPRESS;
        Conversation conv = richConversation(flag);
        // Everything after the login's final OK travels in compressed frames,
        // small ones here so that packets straddle frames.
        for (int i = 5; i < conv.size(); ++i)
            conv[i].bytes = compress(conv[i].bytes, algo, 0, 37);
        QTest::addRow("compressed %d", int(algo)) << conv << 7;
    }
}

void TestMysqlDecoder::splitAnywhere()
{
    QFETCH(Conversation, conv);
    QFETCH(int, statements);
    const QStringList whole = run(conv);
    QCOMPARE(whole.filter(QRegularExpression("^stmt")).size(), statements);
    QCOMPARE(whole.first(), QStringLiteral("login bob shop ok"));
    QVERIFY(whole.contains(stmtLine("SELECT id FROM t WHERE id > ?", 0, 0, 29, false)));
    for (int step = 0; step < conv.size(); ++step)
        for (int cut = 1; cut < conv[step].bytes.size(); ++cut) {
            const QStringList got = run(conv, step, cut);
            if (got != whole)
                QFAIL(qPrintable(QStringLiteral("step %1 cut at %2 differs: %3").arg(step).arg(cut).arg(got.join(" | "))));
        }
    QCOMPARE(runBytewise(conv), whole);
}

void TestMysqlDecoder::compression_data()
{
    QTest::addColumn<int>("algo");
    QTest::newRow("zlib") << int(Algo::Zlib);
    QTest::newRow("zstd") << int(Algo::Zstd);
    QTest::newRow("uncompressed frames") << int(Algo::Raw);
}

void TestMysqlDecoder::compression()
{
    QFETCH(int, algo);
    const quint32 flag = Algo(algo) == Algo::Zstd ? CLIENT_ZSTD_COMPRESSION_ALGORITHM : CLIENT_COMPRESS;
    QList<QList<QByteArray>> rows;
    for (int i = 0; i < 500; ++i)
        rows << QList<QByteArray>{QByteArray::number(i), QByteArray(i % 40, 'q')};
    const ResultSet rs = resultSet(2, rows, false);
    Conversation plain = loginConv(BaseCaps);
    plain << C(query("SELECT * FROM big")) << S(rs.bytes) << C(query("SELECT 1") + query("SELECT 2"))
          << S(resultSet(1, {{"1"}}, false).bytes + resultSet(1, {{"2"}}, false).bytes);
    Conversation packed = loginConv(BaseCaps | flag);
    for (int i = 3; i < plain.size(); ++i)
        packed << Step{plain[i].client, compress(plain[i].bytes, Algo(algo), 0, 1000), plain[i].ms};
    QStringList expected = run(plain);
    QCOMPARE(expected.size(), 4);
    QCOMPARE(run(packed), expected);
    Recorder rec;
    run(packed, -1, 0, &rec);
    QCOMPARE(rec.statements[0].rows, 500u);
}

void TestMysqlDecoder::compressionStartsAfterFinalOk()
{
    // Authentication packets after the handshake response are uncompressed,
    // even when compression was asked for; frames start after the final OK.
    Conversation c{S(greeting(0xFFFFFFFE)), C(handshake(BaseCaps | CLIENT_COMPRESS, "zed", QByteArray(20, 'p'))),
                   S(packet(QByteArray(1, char(0xFE)) + "client_ed25519" + '\0' + QByteArray(32, 'n'), 2)),
                   C(packet(QByteArray(64, 's'), 3)), S(packet(QByteArray(1, char(0x01)) + char(0x03), 4) + packet(okPayload(), 5)),
                   C(compress(query("SELECT 42"), Algo::Zlib)),
                   S(compress(resultSet(1, {{"42"}}, false).bytes, Algo::Zlib))};
    QCOMPARE(run(c), (QStringList{"login zed  ok", stmtLine("SELECT 42", 1, 3, 9, false)}));
    QCOMPARE(runBytewise(c), run(c));
}

void TestMysqlDecoder::preparedStatements()
{
    Conversation c = loginConv(BaseCaps);
    const QByteArray prepOk = QByteArray(1, '\0') + le(3, 4) + le(1, 2) + le(0, 2) + char(0) + le(0, 2);
    c << C(command(COM_STMT_PREPARE, "SELECT v FROM kv")) << S(packet(prepOk, 1) + packet(columnDef("v"), 2) + packet(eofPayload(), 3));
    auto binResult = [](int rows) {
        QByteArray b = packet(lenenc(1), 1) + packet(columnDef("v"), 2) + packet(eofPayload(), 3);
        quint8 seq = 4;
        for (int i = 0; i < rows; ++i)
            b += packet(QByteArray(2, '\0') + lenencStr("value"), seq++);
        return b + packet(eofPayload(), seq);
    };
    const QByteArray exec = command(COM_STMT_EXECUTE, le(3, 4) + char(0) + le(1, 4));
    c << C(exec) << S(binResult(4), 2.0) << C(exec) << S(packet(errPayload(1213, "Deadlock"), 1), 3.0);
    // A failed prepare is recorded with its error, and names no statement.
    c << C(command(COM_STMT_PREPARE, "SELEC broken")) << S(packet(errPayload(1064, "syntax"), 1));
    // MariaDB's "last prepared" id, prepared and executed in one unit.
    const QByteArray prep2 = QByteArray(1, '\0') + le(4, 4) + le(0, 2) + le(0, 2) + char(0) + le(0, 2);
    c << C(command(COM_STMT_PREPARE, "DELETE FROM kv") + command(COM_STMT_EXECUTE, le(0xFFFFFFFF, 4) + char(0) + le(1, 4)))
      << S(packet(prep2, 1) + packet(okPayload(0x0002, 2), 1), 4.0);
    // Closed statements are forgotten; so are all after COM_RESET_CONNECTION.
    c << C(command(COM_STMT_CLOSE, le(4, 4))) << C(command(COM_STMT_EXECUTE, le(4, 4) + char(0) + le(1, 4)))
      << S(packet(errPayload(1243, "Unknown prepared statement"), 1), 5.0);
    c << C(command(COM_RESET_CONNECTION, {})) << S(packet(okPayload(), 1)) << C(exec)
      << S(packet(errPayload(1243, "Unknown prepared statement"), 1), 6.0);
    Recorder rec;
    run(c, -1, 0, &rec);
    QStringList texts;
    for (const auto& s : rec.statements)
        texts << QString::fromLatin1(s.text) + (s.error ? " !" : "") + " " + QString::number(s.rows);
    QCOMPARE(texts, (QStringList{"SELECT v FROM kv 0", "SELECT v FROM kv 4", "SELECT v FROM kv ! 0", "SELEC broken ! 0",
                                 "DELETE FROM kv 0", "DELETE FROM kv 0", " ! 0", " ! 0"}));
    QCOMPARE(rec.statements[1].responseKb, float(4 * 8) / 1024.0f);
    QCOMPARE(rec.statements[1].ms, 2.0);
}

void TestMysqlDecoder::tls()
{
    Conversation c{S(greeting(0xFFFFFFFE))};
    c << C(packet(le(BaseCaps | CLIENT_SSL, 4) + le(16 << 20, 4) + char(33) + QByteArray(23, '\0'), 1));
    // What follows is TLS: bytes that would look like commands and answers.
    c << C(QByteArray::fromHex("1603010200010001fc0303") + query("SELECT secret")) << S(packet(okPayload(), 1))
      << C(query("SELECT 1")) << S(resultSet(1, {{"1"}}, false).bytes);
    QCOMPARE(run(c), QStringList{"login unknown  ok"});
    Recorder rec;
    MysqlDecoder dec(&rec);
    for (const Step& s : c)
        s.client ? dec.feedClient(s.bytes.constData(), s.bytes.size()) : dec.feedServer(s.bytes.constData(), s.bytes.size(), 0);
    QVERIFY(dec.encrypted());
}

void TestMysqlDecoder::localInfile()
{
    Conversation c = loginConv(BaseCaps);
    // File content that looks like commands must not be taken for them.
    const QByteArray file1 = packet(QByteArray(1, char(COM_QUERY)) + "DROP TABLE x\n1,2\n", 2);
    const QByteArray file2 = packet(QByteArray(1, char(COM_STMT_PREPARE)) + "3,4\n", 3);
    c << C(query("LOAD DATA LOCAL INFILE 'a.csv' INTO TABLE t")) << S(packet(QByteArray(1, char(0xFB)) + "a.csv", 1))
      << C(file1) << C(file2 + packet({}, 4)) << S(packet(okPayload(0x0002, 2), 5), 8.0) << C(query("SELECT 5"))
      << S(packet(okPayload(), 1), 1.0);
    QCOMPARE(run(c), (QStringList{"login alice shop ok",
                                  stmtLine("LOAD DATA LOCAL INFILE 'a.csv' INTO TABLE t", 0, 0, 43, false, 8.0),
                                  stmtLine("SELECT 5", 0, 0, 8, false, 1.0)}));
}

void TestMysqlDecoder::queryAttributes()
{
    const quint32 caps = BaseCaps | CLIENT_QUERY_ATTRIBUTES;
    Conversation c = loginConv(caps);
    // No attributes: counts 0 and 1 precede the text.
    c << C(command(COM_QUERY, lenenc(0) + lenenc(1) + "SELECT 1")) << S(packet(okPayload(), 1));
    // Two attributes: a string and an integer, one null.
    QByteArray attrs = lenenc(3) + lenenc(1) + char(0x04) /*third is null*/ + char(1);
    attrs += le(0xFD, 2) + lenencStr("trace") + le(0x08, 2) + lenencStr("n") + le(0x06, 2) + lenencStr("z");
    attrs += lenencStr("abc-123") + le(77, 8);
    c << C(command(COM_QUERY, attrs + "SELECT 2")) << S(packet(okPayload(), 1));
    Recorder rec;
    run(c, -1, 0, &rec);
    QCOMPARE(rec.statements.size(), 2);
    QCOMPARE(rec.statements[0].text, QByteArray("SELECT 1"));
    QCOMPARE(rec.statements[1].text, QByteArray("SELECT 2"));
    // Without the capability the same bytes are the text.
    Conversation plain = loginConv(BaseCaps);
    plain << C(command(COM_QUERY, "SELECT 3")) << S(packet(okPayload(), 1));
    run(plain, -1, 0, &rec);
    QCOMPARE(rec.statements[0].text, QByteArray("SELECT 3"));
}

void TestMysqlDecoder::hugePackets()
{
    // A 20 MiB statement: two packets (0xFFFFFF + rest) decoded as one.
    QByteArray text = "INSERT INTO blobs VALUES ('" + QByteArray(20 << 20, 'b') + "')";
    Conversation c = loginConv(BaseCaps);
    const QByteArray req = query(text);
    QCOMPARE(req.size(), text.size() + 1 + 8);
    // A row of 17 MiB starts with 0xFE (8-byte length): a row, not the end.
    const QByteArray bigValue(17 << 20, 'r');
    QByteArray rs = packet(lenenc(1), 1) + packet(columnDef("b"), 2) + packet(eofPayload(), 3);
    const QByteArray bigRow = row({bigValue});
    QCOMPARE(uchar(bigRow.at(0)), uchar(0xFE));
    rs += packet(bigRow, 4);
    rs += packet(row({"tail"}), 6) + packet(eofPayload(), 7);
    c << C(req.left(1000)) << C(req.mid(1000)) << S(packet(okPayload(), 2));
    c << C(query("SELECT b FROM blobs")) << S(rs.left(3 << 20), 1.0) << S(rs.mid(3 << 20), 4.0);
    Recorder rec;
    run(c, -1, 0, &rec);
    QCOMPARE(rec.statements.size(), 2);
    QCOMPARE(rec.statements[0].text, text.left(20000) + "[...]");
    QCOMPARE(rec.statements[0].requestKb, float(text.size()) / 1024.0f);
    QCOMPARE(rec.statements[1].rows, 2u);
    QCOMPARE(rec.statements[1].responseKb, float(double(bigRow.size() + 5) / 1024.0));
    QCOMPARE(rec.statements[1].ms, 4.0);
}

void TestMysqlDecoder::cachedMetadata()
{
    // MariaDB may skip column definitions of a prepared statement's result
    // when the client caches them: a byte after the column count says so.
    const quint32 serverCaps = 0xFFFFFFFE & ~CLIENT_LONG_PASSWORD;
    Conversation c{S(greeting(serverCaps, "11.4.2-MariaDB", MARIADB_CLIENT_CACHE_METADATA)),
                   C(packet(le(BaseCaps & ~CLIENT_LONG_PASSWORD, 4) + le(16 << 20, 4) + char(33) + QByteArray(19, '\0')
                                + le(MARIADB_CLIENT_CACHE_METADATA, 4) + "meta" + '\0' + char(0),
                            1)),
                   S(packet(okPayload(), 2))};
    const QByteArray prepOk = QByteArray(1, '\0') + le(1, 4) + le(1, 2) + le(0, 2) + char(0) + le(0, 2);
    c << C(command(COM_STMT_PREPARE, "SELECT n FROM t")) << S(packet(prepOk, 1) + packet(columnDef("n"), 2) + packet(eofPayload(), 3));
    const QByteArray exec = command(COM_STMT_EXECUTE, le(1, 4) + char(0) + le(1, 4));
    c << C(exec)
      << S(packet(lenenc(1) + char(1), 1) + packet(columnDef("n"), 2) + packet(eofPayload(), 3)
           + packet(QByteArray(2, '\0') + le(1, 4), 4) + packet(eofPayload(), 5));
    c << C(exec)
      << S(packet(lenenc(1) + char(0), 1) + packet(eofPayload(), 2) + packet(QByteArray(2, '\0') + le(1, 4), 3)
           + packet(QByteArray(2, '\0') + le(2, 4), 4) + packet(eofPayload(), 5));
    Recorder rec;
    run(c, -1, 0, &rec);
    QCOMPARE(rec.statements.size(), 3);
    QCOMPARE(rec.statements[1].rows, 1u);
    QCOMPARE(rec.statements[2].rows, 2u);
    QCOMPARE(rec.statements[2].text, QByteArray("SELECT n FROM t"));
}

void TestMysqlDecoder::hostileInput()
{
    // Every prefix of a conversation (a peer gone mid-packet) is decoded
    // without a crash and never invents a statement.
    const Conversation conv = richConversation(CLIENT_COMPRESS);
    QByteArray all;
    for (const Step& s : conv)
        all += s.bytes;
    Recorder full;
    run(conv, -1, 0, &full);
    for (int step = 0; step < conv.size(); ++step) {
        Conversation cutConv = conv.mid(0, step + 1);
        for (int cut : {1, 3, 4, 5, 7, conv[step].bytes.size() / 2}) {
            cutConv[step].bytes = conv[step].bytes.left(cut);
            Recorder rec;
            run(cutConv, -1, 0, &rec);
            QVERIFY(rec.statements.size() <= full.statements.size());
            for (int i = 0; i < rec.statements.size(); ++i)
                QCOMPARE(rec.statements[i].text, full.statements[i].text);
        }
    }
    // Lengths that run far past the data, malformed greetings and handshakes.
    const QList<Conversation> odd{
        {S(packet(QByteArray(1, char(0x0A)) + "8", 0)), C(packet(QByteArray(3, char(0xFF)), 1)), S(packet(okPayload(), 2)),
         C(QByteArray::fromHex("ffffff00") + "SELECT")},
        {S(QByteArray::fromHex("0a000000")), C(QByteArray::fromHex("01000001")), S(QByteArray::fromHex("0100000200"))},
        {S(greeting(0xFFFFFFFE)), C(handshake(BaseCaps | CLIENT_CONNECT_WITH_DB, "u", QByteArray(250, 'a'))),
         S(packet(okPayload(), 2)), S(resultSet(2, {{"1", "2"}}, false).bytes), C(query("")), C(packet({}, 0)),
         S(packet(QByteArray::fromHex("fe"), 1)), S(packet(QByteArray::fromHex("fd"), 1)),
         C(command(COM_STMT_EXECUTE, "x")), S(packet(lenenc(0xFFFFFFFFFFull), 1))},
        {S(greeting(0xFFFFFFFE)), C(handshake(BaseCaps | CLIENT_COMPRESS, "u", "a")), S(packet(okPayload(), 2)),
         C(QByteArray::fromHex("0a000000ffffff") + "garbage!!!"), S(QByteArray::fromHex("05000000100000") + "12345")},
    };
    for (const Conversation& conv2 : odd) {
        Recorder rec;
        run(conv2, -1, 0, &rec);
        for (const auto& st : rec.statements)
            QVERIFY(st.text.size() <= MysqlDecoder::MaxText + 5);
    }
    // A frame that does not inflate stops decoding instead of inventing statements.
    Conversation broken = loginConv(BaseCaps | CLIENT_COMPRESS);
    broken << C(QByteArray::fromHex("0a000000200000") + "not zlib!!") << C(compress(query("SELECT 1"), Algo::Zlib))
           << S(compress(packet(okPayload(), 1), Algo::Zlib));
    QCOMPARE(run(broken), QStringList{"login alice shop ok"});
}

void TestMysqlDecoder::randomBytes()
{
    QRandomGenerator rng(20240611);
    const Conversation base = richConversation(CLIENT_DEPRECATE_EOF);
    for (int round = 0; round < 300; ++round) {
        Recorder rec;
        MysqlDecoder dec(&rec);
        if (round % 2 == 0) {
            // Pure noise in both directions.
            for (int i = 0; i < 20; ++i) {
                QByteArray b(int(rng.bounded(200)), '\0');
                for (char& ch : b)
                    ch = char(rng.bounded(256));
                (i % 2) ? dec.feedClient(b.constData(), b.size()) : dec.feedServer(b.constData(), b.size(), 0);
            }
        } else {
            // A valid conversation with a few bytes flipped.
            for (const Step& s : base) {
                QByteArray b = s.bytes;
                for (int k = 0; k < 3 && !b.isEmpty(); ++k)
                    b[int(rng.bounded(b.size()))] = char(rng.bounded(256));
                s.client ? dec.feedClient(b.constData(), b.size()) : dec.feedServer(b.constData(), b.size(), s.ms);
            }
        }
        for (const auto& st : rec.statements)
            QVERIFY(st.text.size() <= MysqlDecoder::MaxText + 5);
    }
}

QTEST_APPLESS_MAIN(TestMysqlDecoder)
#include "tst_mysqldecoder.moc"
