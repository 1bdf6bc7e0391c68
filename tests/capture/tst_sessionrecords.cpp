// The statement log of one session: tuples to records, USE and SET NAMES
// followed, ratings against the session's total and slowest statement.
#include <QSignalSpy>
#include <QTextCodec>
#include <QtTest>

#include "Session.h"
#include "SessionData.h"

namespace {
QVariantList tuple(const QByteArray& text, double ms = 1, int rows = 0, bool error = false, float reqKb = 0.01f,
                   float respKb = 0.0f)
{
    return QVariantList{QDateTime(QDate(2024, 5, 1), QTime(10, 0)), ms, text, reqKb, respKb, rows, error};
}

/// A session logged in to `db`; the test owns its record.
struct Logged
{
    Session s;
    QScopedPointer<SessionData> d;
    explicit Logged(const QString& db = QString(), bool auth = true)
    {
        s.onStartSession(QDateTime::currentDateTime(), "u", db, auth);
        d.reset(s.getSessionData());
    }
    /// "database|text" of each statement logged.
    QStringList log() const
    {
        QStringList out;
        for (const Query* q : d->queries)
            out << q->dbName + '|' + q->text;
        return out;
    }
};
} // namespace

class TstSessionRecords : public QObject
{
    Q_OBJECT
private slots:
    void tupleBecomesQuery()
    {
        const QDateTime at(QDate(2024, 1, 2), QTime(3, 4, 5, 6));
        QScopedPointer<Query> q(QueryLog::fromTuple({at, 12.5, QByteArray("SELECT 'caf\xc3\xa9'"), 0.25f, 3.5f, 42, true},
                                                    QTextCodec::codecForName("utf8")));
        QCOMPARE(q->finishedAt, at);
        QCOMPARE(QStringLiteral("%1 ms, %2, %3/%4 KiB, %5 rows, error %6").arg(q->durationMs).arg(q->text).arg(q->requestKb)
                     .arg(q->responseKb).arg(q->rows).arg(q->isError),
                 QString::fromUtf8("12.5 ms, SELECT 'caf\xc3\xa9', 0.25/3.5 KiB, 42 rows, error 1"));
        // a short tuple gives what it has, and is never read past its end
        QScopedPointer<Query> shortQ(QueryLog::fromTuple({at, 3.0}, nullptr));
        QVERIFY(shortQ->durationMs == 3.0 && shortQ->text.isEmpty() && shortQ->rows == 0);
    }

    void loginsAndClose()
    {
        Session s;
        QSignalSpy add(&s, &Session::add), closed(&s, &Session::close);
        s.onNewQueries({tuple("lost")}); // before a login: nothing to log into, ignored
        QVERIFY(!s.getSessionData());
        const QDateTime start = QDateTime::currentDateTime();
        s.onStartSession(start, "alice", "shop", true);
        s.onStartSession(start, "bob", QString(), false); // a second login: a second record
        QCOMPARE(add.count(), 2);
        QScopedPointer<SessionData> a(add.at(0).at(0).value<SessionData*>()), b(add.at(1).at(0).value<SessionData*>());
        QCOMPARE(s.getSessionData(), b.data());
        QCOMPARE(a->startedAt, start);
        QCOMPARE(a->userName + '@' + a->dbName, QStringLiteral("alice@shop"));
        QVERIFY(a->authenticated && !b->authenticated && a->duration.isNull() && b->queries.isEmpty());
        QCOMPARE(a->codec->name(), QByteArray("UTF-8"));
        b->id = 12;
        s.disconnectDB(QTime(0, 0).addMSecs(1500));
        QCOMPARE(b->duration, QTime(0, 0, 1, 500));
        QCOMPARE(closed.at(0).at(0).value<ulong>(), 12ul);
        Session early; // a connection that ends before any login closes as 0
        QSignalSpy earlyClosed(&early, &Session::close);
        early.disconnectDB(QTime(0, 0));
        QCOMPARE(earlyClosed.at(0).at(0).value<ulong>(), 0ul);
    }

    void databaseFollowed()
    {
        // statement and database it selects
        for (const QStringList& use : {QStringList{"USE `shop`", "shop"}, {"use sales", "sales"}, {"Use  'my db' ", "my db"},
                                      {"USE \"x\"", "x"}}) {
            Logged l("main");
            l.s.onNewQueries({tuple("SELECT 1"), tuple(use[0].toUtf8()), tuple("SELECT 2")});
            // the USE itself runs in the new database; the record keeps the first one
            QCOMPARE(l.log(), (QStringList{"main|SELECT 1", use[1] + '|' + use[0], use[1] + "|SELECT 2"}));
            QCOMPARE(l.s.currentDb + '/' + l.d->dbName, use[1] + "/main");
        }
        // a USE or SET NAMES that failed changes nothing
        Logged failed("main");
        failed.s.onNewQueries({tuple("USE nowhere", 1, 0, true), tuple("SET NAMES latin1", 1, 0, true),
                               tuple("SELECT 'caf\xc3\xa9'")});
        QCOMPARE(failed.log().last(), QString::fromUtf8("main|SELECT 'caf\xc3\xa9'"));
        // a database selected by the protocol's own command: announced with the record's first database
        Logged l;
        l.d->id = 7;
        QSignalSpy spy(&l.s, &Session::setDbName);
        l.s.onNewDbName("first");
        l.s.onNewDbName("second");
        l.s.onNewQueries({tuple("SELECT 1")});
        QCOMPARE(l.d->dbName, QString("first"));
        QCOMPARE(l.log(), QStringList{"second|SELECT 1"});
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0), (QList<QVariant>{QVariant::fromValue(7ul), "first", "first"}));
        QCOMPARE(spy.at(1), (QList<QVariant>{QVariant::fromValue(7ul), "first", "second"}));
    }

    void setNamesChangesCodec()
    {
        using Case = QList<QByteArray>; // SET NAMES, a statement in that character set, the statement in UTF-8
        for (const Case& c : {Case{"SET NAMES latin1", "SELECT '\xe9'", "SELECT '\xc3\xa9'"},
                              Case{"set names utf8mb4", "SELECT '\xc3\xa9'", "SELECT '\xc3\xa9'"},
                              Case{"SET NAMES 'cp1251' COLLATE cp1251_general_ci", "SELECT '\xc4\xe0'",
                                   "SELECT '\xd0\x94\xd0\xb0'"}}) {
            Logged l;
            l.s.onNewQueries({tuple(c[0]), tuple(c[1])});
            QCOMPARE(l.d->queries.at(1)->text, QString::fromUtf8(c[2]));
            // statements logged before keep the text they were decoded with
            QCOMPARE(l.d->queries.at(0)->text, QString::fromLatin1(c[0]));
        }
    }

    void ratingsTotalsAndAnnouncement()
    {
        Logged l;
        l.d->id = 3;
        QSignalSpy spy(&l.s, &Session::newQueries);
        const auto ratings = [&]() {
            QStringList out;
            for (const Query* q : l.d->queries)
                out << QStringLiteral("%1%/%2%").arg(q->percentOfMax).arg(double(q->shareOfTotal), 0, 'f', 2);
            return out.join(' ');
        };
        l.s.onNewQueries({tuple("a", 0.5, 10, false, 0.5f, 2.0f)});
        QCOMPARE(ratings(), QStringLiteral("50%/100.00%")); // rated against 1 ms until a slower one comes
        // a batch with a new maximum rates every statement again: 6.25 -> 6, 12.5 -> 13 (halves up)
        l.s.onNewQueries({tuple("b", 2, 5, false, 0.25f, 1.0f), tuple("c", 1, 1, true, 1.0f), tuple("d", 8)});
        QCOMPARE(QStringLiteral("%1 %2").arg(l.s.maxDurationMs).arg(l.s.totalDurationMs), QStringLiteral("8 11.5"));
        QCOMPARE(ratings(), QStringLiteral("6%/4.35% 25%/17.39% 13%/8.70% 100%/69.57%"));
        // below the maximum: older ratings stay, shares follow the new total
        l.d->queries.at(0)->percentOfMax = 41; // a marker that must not be rewritten
        l.s.onNewQueries({tuple("e", 4)});
        l.s.onNewQueries({}); // nothing to announce
        QCOMPARE(ratings(), QStringLiteral("41%/3.23% 25%/12.90% 13%/6.45% 100%/51.61% 50%/25.81%"));
        QCOMPARE(QStringLiteral("%1 rows, %2/%3 KiB").arg(l.d->rowsTotal).arg(l.d->requestKbTotal).arg(l.d->responseKbTotal),
                 QStringLiteral("16 rows, 1.77/3 KiB"));
        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.at(1), (QList<QVariant>{QVariant::fromValue(3ul), 1u, 3u}));
        QCOMPARE(spy.at(2), (QList<QVariant>{QVariant::fromValue(3ul), 4u, 1u}));
    }
};

QTEST_GUILESS_MAIN(TstSessionRecords)
#include "tst_sessionrecords.moc"
