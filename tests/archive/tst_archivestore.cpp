// The archive file as earlier versions of the program read and write it:
// its tables and texts, step-by-step migration that is all or nothing,
// bound values, numbering and statement order, atomic saves, numbers
// written under any locale, and two programs writing one file.
#include "ArchiveFiles.h"
#include "ArchiveFormat.h"

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <thread>
#include <unistd.h>

class TestArchiveStore : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ArchiveStore> store;

    /// In a folder that does not exist yet, unless an old file was written there.
    QString file() const { return dir->path() + QStringLiteral("/data/savedSessions"); }
    void writeOld(const QString& version)
    {
        QDir().mkpath(dir->path() + "/data");
        writeOldFile(file(), version);
    }
    void openStore() { QVERIFY2(store->open(file()), qPrintable(store->lastError())); }
    void save(ulong id, const QStringList& texts)
    {
        std::unique_ptr<SessionData> s(makeSession(id, texts));
        QVERIFY2(store->save(*s), qPrintable(store->lastError()));
    }
    QString version() { return RawFile(file()).rows("SELECT version_compatible FROM system").join(','); }

private slots:
    void init() { dir = std::make_unique<QTemporaryDir>(); store = std::make_unique<ArchiveStore>(QStringLiteral("under test")); }
    void cleanup() { store.reset(); dir.reset(); }

    void freshFileAndItsTexts()
    {
        openStore();
        RawFile f(file());
        QCOMPARE(f.rows("SELECT sql FROM sqlite_master WHERE type = 'table' ORDER BY name"),
                 (QStringList{"CREATE TABLE queries (id VARCHAR, num INT, time VARCHAR, timeAll VARCHAR, great VARCHAR, "
                              "rows VARCHAR, send VARCHAR, get VARCHAR, query VARCHAR, db VARCHAR, error VARCHAR, PRIMARY KEY (id, num))",
                              "CREATE TABLE sessions (id VARCHAR PRIMARY KEY, datetime VARCHAR, db VARCHAR, user VARCHAR, "
                              "queries VARCHAR, elapsed VARCHAR, rows VARCHAR, receivedKb VARCHAR, comment VARCHAR, error VARCHAR)",
                              "CREATE TABLE system (version_compatible VARCHAR)"}));
        QCOMPARE(version(), QStringLiteral("4.0"));
        // the session list's texts; `send` is what the client received, `get` what it sent
        std::unique_ptr<SessionData> s(makeSession(12, {"SELECT 1", "!SELECT x"}));
        QVERIFY(store->save(*s));
        QCOMPARE(f.rows("SELECT * FROM sessions"),
                 QStringList{"0000012|05.03.26 14:03|shop|app|2|00:01:02.345|3|" + QLocale::system().toString(1.0, 'f', 3) + "||no"});
        QCOMPARE(f.rows("SELECT * FROM queries ORDER BY num"),
                 (QStringList{"0000012|0|1.250|0|40|0|0.500|0|SELECT 1|shop|0", "0000012|1|2.250|12.500|41|3|0.500|0.125|SELECT x|shop|1"}));
        std::unique_ptr<SessionData> back(store->load(store->session("0000012")));
        QVERIFY(statements(back.get()) == statements(s.get()) && back->startedAt == s->startedAt);
    }

    void olderFiles_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("before the system table") << QString();
        QTest::newRow("3.0") << "3.0";
    }
    void olderFiles()
    {
        QFETCH(QString, version);
        writeOld(version);
        openStore();
        RawFile f(file());
        QVERIFY(f.columns("sessions").contains("error") && f.columns("queries").contains("error"));
        QCOMPARE(this->version(), QStringLiteral("4.0"));
        // the old session reads back as it was, with an empty status
        const ArchivedSession old = store->session("0000003");
        QCOMPARE(old, (ArchivedSession{"0000003", "01.02.25 10:00", "shop", "app", "2", "00:00:01.500", "7", "1.250", "kept", ""}));
        std::unique_ptr<SessionData> back(store->load(old));
        QVERIFY(back);
        QCOMPARE(statements(back.get()), (QStringList{"SELECT 1|1.5|75|100|5|1|0.1|shop|0",
                                                      QStringLiteral("UPDATE t SET a = 'x'|0.5|25|33|2|0.25|0.05|shop|%1").arg(!version.isEmpty())}));
        QCOMPARE(QVariantList({back->duration, back->rowsTotal, back->responseKbTotal}), QVariantList({QTime(0, 0, 1, 500), 7u, 1.25f}));
        // and new sessions are saved beside it
        save(4, {"SELECT 2"});
        QCOMPARE(store->statementTexts("0000004"), QStringList{"SELECT 2"});
    }

    void failedMigrationIsNotStamped_data()
    {
        QTest::addColumn<QString>("obstacle");
        for (const char* obstacle : {"locked by another program", "version cannot be stamped", "read-only file"})
            QTest::newRow(obstacle) << QString(obstacle);
    }
    void failedMigrationIsNotStamped()
    {
        QFETCH(QString, obstacle);
        if (obstacle.startsWith("read-only") && ::geteuid() == 0)
            QSKIP("the superuser writes read-only files");
        writeOld("3.0");
        {
            RawFile other(file());
            if (obstacle.startsWith("locked")) {
                QVERIFY(other.run("BEGIN IMMEDIATE") && !store->open(file(), 50) && other.run("ROLLBACK"));
            } else if (obstacle.startsWith("version")) {
                QVERIFY(other.run("CREATE TRIGGER keep BEFORE UPDATE ON system BEGIN SELECT RAISE(ABORT, 'kept'); END"));
                QVERIFY(!store->open(file()) && other.run("DROP TRIGGER keep"));
            } else {
                QFile(file()).setPermissions(QFile::ReadOwner);
                QVERIFY(!store->open(file()));
            }
            QVERIFY(!other.columns("sessions").contains("error")); // nothing changed: no column added
        }
        QCOMPARE(version(), QStringLiteral("3.0"));
        // what is saved stays readable, and the next open migrates
        QCOMPARE(store->sessions().value(0).comment, QStringLiteral("kept"));
        QFile(file()).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        openStore();
        QCOMPARE(version(), QStringLiteral("4.0"));
    }

    void textsRoundTrip()
    {
        QString binary = QStringLiteral("SELECT '");
        for (ushort c = 1; c < 0x100; ++c)
            binary += QChar(c);
        const QStringList texts{R"(SELECT 'it''s', "dq", `bq` FROM t WHERE a = '\'' -- it's)", "  SELECT 1\r\n,\n2\r\n\r\n\t-- end\n",
                                binary + QStringLiteral("' \\0 \\x00"), QString::fromUtf8("SELECT 'Grüße', 'Привет', '漢字', '🙂'"),
                                "", "SELECT ?, :query, %1, $1", QString(200000, QLatin1Char('x'))};
        openStore();
        save(21, texts);
        QCOMPARE(store->statementTexts("0000021"), texts);
        std::unique_ptr<SessionData> back(store->load(store->session("0000021")));
        QCOMPARE(textsOf(back.get()), texts);
    }

    void localeNumbers()
    {
        // written under one locale, read under another
        for (const auto& [writer, reader, value] : {std::tuple{"C", "de_DE", 14.25}, {"de_DE", "C", 14.25}, {"en_US", "de_DE", 1234.5},
                                                    {"de_DE", "en_US", 1234.5}, {"fr_FR", "C", 98765.125}}) {
            bool ok = false;
            QCOMPARE(ArchiveFormat::readLocaleKb(ArchiveFormat::localeKb(value, QLocale(writer)), QLocale(reader), &ok), value);
            QVERIFY(ok);
            QVERIFY(ArchiveFormat::readLocaleKb("none", QLocale(reader), &ok) == 0.0 && !ok);
        }
    }

    void valuesAreBound()
    {
        openStore();
        save(1, {"SELECT 1"});
        save(2, {"SELECT 2"});
        QVERIFY(store->setComment("0000001", "it's done' --"));
        // ids are values too: a hostile one matches nothing
        QVERIFY(!store->setComment("x' OR '1'='1", "all") && store->remove({"0000002' OR '1'='1"}));
        RawFile f(file());
        QCOMPARE(f.rows("SELECT id, comment FROM sessions ORDER BY id"), (QStringList{"0000001|it's done' --", "0000002|"}));
        QCOMPARE(f.rows("SELECT COUNT(*) FROM queries"), QStringList{"2"});
    }

    void numberingPastSevenDigits()
    {
        openStore();
        for (ulong id : {9999999ul, 10000000ul})
            save(id, {QStringLiteral("SELECT %1").arg(id)});
        QVERIFY(store->maxId() == 10000000ull && store->sessions().value(0).id == "10000000");
    }

    void statementOrder()
    {
        QDir().mkpath(dir->path() + "/data");
        {
            // a file whose numbers are text (as literals left them in a VARCHAR column)
            RawFile f(file());
            QVERIFY(f.run("CREATE TABLE queries (id VARCHAR, num VARCHAR, time VARCHAR, timeAll VARCHAR, great VARCHAR, rows VARCHAR, "
                           "send VARCHAR, get VARCHAR, query VARCHAR, db VARCHAR, error VARCHAR, PRIMARY KEY (id, num))"));
            for (int n : {3, 11, 0, 10, 2, 1})
                QVERIFY(f.run(QStringLiteral("INSERT INTO queries VALUES('0000005', '%1', '1', '0', '1', '0', '0', '0', 's%1', '', '0')").arg(n)));
        }
        openStore();
        const QStringList expected{"s0", "s1", "s2", "s3", "s10", "s11"};
        QCOMPARE(store->statementTexts("0000005"), expected);
        ArchivedSession row;
        row.id = QStringLiteral("0000005");
        std::unique_ptr<SessionData> back(store->load(row));
        QCOMPARE(textsOf(back.get()), expected);
    }

    void failedSaveWritesNothing()
    {
        openStore();
        RawFile f(file());
        QVERIFY(f.run("CREATE TRIGGER refuse BEFORE INSERT ON queries WHEN NEW.num = 2 BEGIN SELECT RAISE(ABORT, 'disk quota exceeded'); END"));
        std::unique_ptr<SessionData> s(makeSession(7, {"a", "b", "c", "d"}));
        QVERIFY(!store->save(*s));
        QVERIFY2(store->lastError().contains("disk quota exceeded"), qPrintable(store->lastError()));
        QCOMPARE(f.rows("SELECT (SELECT COUNT(*) FROM sessions) || ' ' || (SELECT COUNT(*) FROM queries)"), QStringList{"0 0"});
        QVERIFY(f.run("DROP TRIGGER refuse") && store->save(*s));
        QCOMPARE(store->statementTexts("0000007"), (QStringList{"a", "b", "c", "d"}));
    }

    void saveWaitsForAnotherWriter()
    {
        openStore();
        std::atomic<bool> locked{false};
        std::thread other([this, &locked] {
            RawFile f(file());
            f.run("BEGIN IMMEDIATE");
            locked = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            f.run("COMMIT");
        });
        while (!locked)
            std::this_thread::yield();
        std::unique_ptr<SessionData> mine(makeSession(8, {"from the window"}));
        const bool saved = store->save(*mine);
        other.join();
        QVERIFY2(saved, qPrintable(store->lastError()));
        QCOMPARE(store->statementTexts("0000008"), QStringList{"from the window"});
    }
};

QTEST_GUILESS_MAIN(TestArchiveStore)
#include "tst_archivestore.moc"
