// The statement log of one session: tuples to records, logins and close,
// USE and SET NAMES followed, totals and announcements.
#include <QSignalSpy>
#include <QtTest>

#include "Session.h"
#include "SessionData.h"

namespace {
QVariantList tuple(const QByteArray& text, double ms = 1, int rows = 0, bool error = false, float reqKb = 0.01f, float respKb = 0)
{
    return QVariantList{QDateTime(QDate(2024, 5, 1), QTime(10, 0)), ms, text, reqKb, respKb, rows, error};
}

/// A session logged in to `db`; the test owns its record.
struct Logged
{
    Session s;
    QScopedPointer<SessionData> d;
    explicit Logged(const QString& db = QString(), ulong id = 0)
    {
        s.onStartSession(QDateTime::currentDateTime(), "u", db, true);
        d.reset(s.getSessionData());
        d->id = id;
    }
    /// "database|text" of each statement logged.
    QStringList log() const
    {
        QStringList out;
        for (const Query& q : d->queries)
            out << q.dbName + '|' + q.text;
        return out;
    }
};
} // namespace

class TstSessionRecords : public QObject
{
    Q_OBJECT
private slots:
    void shortTupleGivesWhatItHas()
    {
        const QDateTime at(QDate(2024, 1, 2), QTime(3, 4, 5, 6));
        const Query q = QueryLog::fromTuple({at, 3.0}, nullptr);
        QVERIFY(q.finishedAt == at && q.durationMs == 3.0 && q.text.isEmpty() && q.rows == 0 && !q.isError);
    }

    void loginsAndClose()
    {
        Session s, early;
        QSignalSpy add(&s, &Session::add), closed(&s, &Session::close), earlyClosed(&early, &Session::close);
        s.onNewQueries({tuple("lost")}); // before a login: nothing to log into, ignored
        QVERIFY(!s.getSessionData());
        s.onStartSession(QDateTime::currentDateTime(), "alice", "shop", true);
        s.onStartSession(QDateTime::currentDateTime(), "bob", QString(), false); // a second login: a second record
        QCOMPARE(add.count(), 2);
        QScopedPointer<SessionData> a(add.at(0).at(0).value<SessionData*>()), b(add.at(1).at(0).value<SessionData*>());
        QVERIFY(s.getSessionData() == b.data() && a->userName + '@' + a->dbName == "alice@shop");
        QVERIFY(a->authenticated && !b->authenticated && a->duration.isNull() && b->queries.isEmpty());
        b->id = 12;
        s.disconnectDB(QTime(0, 0).addMSecs(1500));
        early.disconnectDB(QTime(0, 0)); // a connection that ends before any login closes as 0
        QCOMPARE(b->duration, QTime(0, 0, 1, 500));
        QVERIFY(closed.at(0).at(0).value<ulong>() == 12 && earlyClosed.at(0).at(0).value<ulong>() == 0);
    }

    void useAndSetNamesFollowed_data()
    {
        // statements of a session logged in to "main" ("!": failed), and the log: "database|text"
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<QStringList>("logged");
        for (const auto& [use, db] : {std::pair{"USE `shop`", "shop"}, {"use sales", "sales"}, {"Use  'my db' ", "my db"}, {"USE \"x\"", "x"}})
            QTest::newRow(use) << QList<QByteArray>{"SELECT 1", use, "SELECT 2"}
                               << QStringList{"main|SELECT 1", QString(db) + '|' + use, QString(db) + "|SELECT 2"};
        QTest::newRow("failed") << QList<QByteArray>{"!USE nowhere", "!SET NAMES latin1", "SELECT 'caf\xc3\xa9'"}
                                << QStringList{"main|USE nowhere", "main|SET NAMES latin1", QString::fromUtf8("main|SELECT 'caf\xc3\xa9'")};
        // after SET NAMES statements are read in that character set; earlier ones keep their text
        for (const auto& [names, text, utf8] : {std::tuple{"SET NAMES latin1", "SELECT '\xe9'", "SELECT '\xc3\xa9'"},
                                                {"set names utf8mb4", "SELECT '\xc3\xa9'", "SELECT '\xc3\xa9'"},
                                                {"SET NAMES 'cp1251' COLLATE cp1251_general_ci", "SELECT '\xc4\xe0'", "SELECT '\xd0\x94\xd0\xb0'"}})
            QTest::newRow(names) << QList<QByteArray>{names, text} << QStringList{QStringLiteral("main|") + names, "main|" + QString::fromUtf8(utf8)};
    }

    void useAndSetNamesFollowed()
    {
        QFETCH(QList<QByteArray>, sent);
        Logged l("main");
        QList<QVariantList> batch;
        for (const QByteArray& text : sent)
            batch << tuple(text.startsWith('!') ? text.mid(1) : text, 1, 0, text.startsWith('!'));
        l.s.onNewQueries(batch);
        QTEST(l.log(), "logged");
        QCOMPARE(l.d->dbName, QStringLiteral("main")); // the record keeps its first database
    }

    void totalsAndAnnouncement()
    {
        // (each statement's share of the total and percent of the slowest: the live ratings test)
        Logged l(QString(), 3);
        QSignalSpy spy(&l.s, &Session::newQueries);
        l.s.onNewQueries({tuple("a", 0.5, 10, false, 0.5f, 2.0f)});
        l.s.onNewQueries({tuple("b", 2, 5, false, 0.25f, 1.0f), tuple("c", 1, 1, true, 1.0f), tuple("d", 8)});
        l.s.onNewQueries({tuple("e", 4)});
        l.s.onNewQueries({}); // nothing to announce
        QCOMPARE(QStringLiteral("%1 ms at most, %2 ms, %3 rows, %4/%5 KiB").arg(l.s.maxDurationMs).arg(l.s.totalDurationMs)
                     .arg(l.d->rowsTotal).arg(l.d->requestKbTotal).arg(l.d->responseKbTotal), QStringLiteral("8 ms at most, 15.5 ms, 16 rows, 1.77/3 KiB"));
        QCOMPARE(spy, (QList<QVariantList>{{QVariant::fromValue(3ul), 0u, 1u}, {QVariant::fromValue(3ul), 1u, 3u}, {QVariant::fromValue(3ul), 4u, 1u}}));
    }
};

QTEST_GUILESS_MAIN(TstSessionRecords)
#include "tst_sessionrecords.moc"
