// quarvel-capture --archive with real clients against the test server, in
// one run: every session saved when it ends into the window's own file,
// its statements byte for byte, numbers continuing after the saved ones, a
// number the window took meanwhile, a session that cannot be saved, and the
// file left with its plain journal.
#include "ArchiveFiles.h"
#include "ArchiveFormat.h"
#include "CaptureProcess.h"
#include "RunLive.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
/// A client that sends each statement exactly as given and nothing else (the
/// mariadb client rewrites white space and comments).
const char* const client = R"(
import json, sys, pymysql
host, port, user, password, db = sys.argv[1:6]
conn = pymysql.connect(host=host, port=int(port), user=user, password=password, database=db,
                       charset='utf8mb4', autocommit=None)
for sql in json.load(sys.stdin):
    try:
        with conn.cursor() as cur:
            cur.execute(sql)
            cur.fetchall()
    except pymysql.MySQLError:
        pass
conn.close()
)";

/// One client session through `c` sending `statements`; the client's exit code.
int session(const Capture& c, const TestDb& db, const QStringList& statements)
{
    const QByteArray json = QJsonDocument(QJsonArray::fromStringList(statements)).toJson();
    const LiveRun r = runLive("/usr/bin/python3", {"-c", client, db.host, QString::number(c.port), db.user, db.password,
                                                    db.database}, json);
    if (r.exitCode != 0)
        qWarning() << r.err;
    return r.exitCode;
}
} // namespace

class TestCaptureArchive : public QObject
{
    Q_OBJECT

private slots:
    void savesEverySessionByteForByte()
    {
        REQUIRE_TESTDB(db);
        QCoreApplication::setOrganizationName("Tessam");
        QCoreApplication::setApplicationName("Quarvel");
        const QString file = ArchiveStore::defaultPath();
        QFile::remove(file);
        for (ulong id : {9, 10})
            QVERIFY(saveInto(file, id, {"SELECT earlier"}));
        QVERIFY(RawFile(file).run("CREATE TRIGGER refuse BEFORE INSERT ON queries WHEN NEW.query LIKE '%refuse me%' "
                                  "BEGIN SELECT RAISE(ABORT, 'refused by the file'); END"));
        QString binary = QStringLiteral("SELECT '");
        for (ushort c = 1; c < 0x20; ++c)
            binary += QChar(c);
        binary += QStringLiteral("\x7f \\0 \\x00'");
        const QStringList texts{R"(SELECT 'it''s', "dq", `x` FROM (SELECT 1 AS x) t -- it's)",
                                "SELECT 1\r\n,\n2\r\n\t-- end\n",
                                binary,
                                QString::fromUtf8("SELECT 'Grüße', 'Привет', '漢字', '🙂'"),
                                "SELECT * FROM no_such_table",
                                "  SELECT 3  "};

        Capture c(db, {"--archive"});
        QVERIFY2(c.waitListening(), qPrintable(c.err));
        // the window saves its own session 11 into the same file meanwhile
        QVERIFY(saveInto(file, 11, {"from the window"}));
        QCOMPARE(session(c, db, texts), 0);
        QCOMPARE(session(c, db, {"SELECT 'refuse me'"}), 0);
        // written through a write-ahead log while it runs, the plain journal again at the end
        QVERIFY(QFile::exists(file + "-wal"));
        QCOMPARE(c.stop(SIGINT), 3);
        QVERIFY(!QFile::exists(file + "-wal"));
        QCOMPARE(RawFile(file).rows("PRAGMA journal_mode"), QStringList{"delete"});
        QVERIFY2(c.out.contains("# session 0000011 saved to the archive as 0000012 (its number was taken)\n"),
                 qPrintable(c.out));
        QVERIFY2(c.err.contains("session 0000012 could not be saved to the archive: refused by the file"), qPrintable(c.err));
        QVERIFY2(c.out.contains("# archived sessions\t1\t" + file + "\n# sessions not archived\t1\n"), qPrintable(c.out));

        ArchiveStore saved(QStringLiteral("check"));
        QVERIFY(saved.open(file));
        QStringList ids;
        for (const ArchivedSession& s : saved.sessions())
            ids << s.id;
        QCOMPARE(ids, (QStringList{"0000012", "0000011", "0000010", "0000009"}));
        QCOMPARE(saved.statementTexts("0000011"), QStringList{"from the window"});
        QCOMPARE(saved.statementTexts("0000012"), texts);
        const ArchivedSession row = saved.session("0000012");
        QCOMPARE((QStringList{row.user, row.db, row.queries, row.error}),
                 (QStringList{db.user, db.database, QString::number(texts.size()), "no"}));
        QVERIFY(ArchiveFormat::readElapsed(row.elapsed).isValid());
    }
};

QTEST_GUILESS_MAIN(TestCaptureArchive)
#include "tst_capturearchive.moc"
