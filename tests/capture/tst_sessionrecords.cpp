// The statement log of one session: tuples to records, USE and SET NAMES
// followed, ratings against the session's total and slowest statement.
#include <QSignalSpy>
#include <QTextCodec>
#include <QtTest>

#include "Session.h"
#include "SessionData.h"

namespace {

QVariantList tuple(const QByteArray& text, double ms, int rows = 0, bool error = false, float reqKb = 0.01f,
                   float respKb = 0.0f)
{
    return QVariantList{QDateTime(QDate(2024, 5, 1), QTime(10, 0)), ms, text, reqKb, respKb, rows, error};
}

} // namespace

class TstSessionRecords : public QObject
{
    Q_OBJECT
private slots:
    void tupleBecomesQuery();
    void loginCreatesRecord();
    void useFollowed_data();
    void useFollowed();
    void useWithErrorIgnored();
    void initDbKeepsFirstDatabase();
    void setNamesChangesCodec_data();
    void setNamesChangesCodec();
    void batchRaisingMaximumRerates();
    void batchBelowMaximumKeepsOlderRatings();
    void totalsAndAnnouncement();
    void closeBeforeLogin();
    void closeAfterLoginSetsDuration();
    void secondLoginMakesSecondRecord();
};

void TstSessionRecords::tupleBecomesQuery()
{
    const QDateTime at(QDate(2024, 1, 2), QTime(3, 4, 5, 6));
    const QVariantList t{at, 12.5, QByteArray("SELECT 'caf\xc3\xa9'"), 0.25f, 3.5f, 42, true};
    QScopedPointer<Query> q(QueryLog::fromTuple(t, QTextCodec::codecForName("utf8")));
    QCOMPARE(q->finishedAt, at);
    QCOMPARE(q->durationMs, 12.5);
    QCOMPARE(q->text, QString::fromUtf8("SELECT 'caf\xc3\xa9'"));
    QCOMPARE(q->requestKb, 0.25f);
    QCOMPARE(q->responseKb, 3.5f);
    QCOMPARE(q->rows, 42u);
    QVERIFY(q->isError);
    QCOMPARE(q->shareOfTotal, 0.0f);

    // A short tuple gives what it has, and never reads past its end.
    QScopedPointer<Query> shortQ(QueryLog::fromTuple(QVariantList{at, 3.0}, nullptr));
    QCOMPARE(shortQ->durationMs, 3.0);
    QVERIFY(shortQ->text.isEmpty());
    QCOMPARE(shortQ->rows, 0u);
}

void TstSessionRecords::loginCreatesRecord()
{
    Session s;
    QSignalSpy add(&s, &Session::add);
    QVERIFY(!s.getSessionData());
    const QDateTime start = QDateTime::currentDateTime();
    s.onStartSession(start, "alice", "shop", true);
    QCOMPARE(add.count(), 1);
    auto* d = add.at(0).at(0).value<SessionData*>();
    QScopedPointer<SessionData> owned(d);
    QCOMPARE(d, s.getSessionData());
    QCOMPARE(d->startedAt, start);
    QCOMPARE(d->userName, QString("alice"));
    QCOMPARE(d->dbName, QString("shop"));
    QCOMPARE(s.currentDb, QString("shop"));
    QVERIFY(d->authenticated);
    QVERIFY(d->duration.isNull());
    QVERIFY(d->codec);
    QCOMPARE(d->codec->name(), QByteArray("UTF-8"));
    QVERIFY(d->queries.isEmpty());
}

void TstSessionRecords::useFollowed_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("db");
    QTest::newRow("backquotes") << QByteArray("USE `shop`") << "shop";
    QTest::newRow("lower case") << QByteArray("use sales") << "sales";
    QTest::newRow("quotes and blanks") << QByteArray("Use  'my db' ") << "my db";
    QTest::newRow("double quotes") << QByteArray("USE \"x\"") << "x";
}

void TstSessionRecords::useFollowed()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, db);
    Session s;
    s.onStartSession(QDateTime::currentDateTime(), "u", "main", true);
    QScopedPointer<SessionData> d(s.getSessionData());
    s.onNewQueries({tuple("SELECT 1", 1), tuple(text, 1), tuple("SELECT 2", 1)});
    QCOMPARE(d->queries.size(), 3);
    QCOMPARE(d->queries.at(0)->dbName, QString("main"));
    QCOMPARE(d->queries.at(1)->dbName, db); // the USE itself runs in the new database
    QCOMPARE(d->queries.at(2)->dbName, db);
    QCOMPARE(s.currentDb, db);
    QCOMPARE(d->dbName, QString("main"));
}

void TstSessionRecords::useWithErrorIgnored()
{
    Session s;
    s.onStartSession(QDateTime::currentDateTime(), "u", "main", true);
    QScopedPointer<SessionData> d(s.getSessionData());
    s.onNewQueries({tuple("USE nowhere", 1, 0, true), tuple("SET NAMES latin1", 1, 0, true),
                    tuple("SELECT 'caf\xc3\xa9'", 1)});
    QCOMPARE(s.currentDb, QString("main"));
    QCOMPARE(d->queries.at(1)->dbName, QString("main"));
    QCOMPARE(d->queries.at(2)->text, QString::fromUtf8("SELECT 'caf\xc3\xa9'"));
}

void TstSessionRecords::initDbKeepsFirstDatabase()
{
    Session s;
    s.onStartSession(QDateTime::currentDateTime(), "u", QString(), true);
    QScopedPointer<SessionData> d(s.getSessionData());
    d->id = 7;
    QSignalSpy spy(&s, &Session::setDbName);
    s.onNewDbName("first");
    s.onNewDbName("second");
    QCOMPARE(d->dbName, QString("first"));
    QCOMPARE(s.currentDb, QString("second"));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).value<ulong>(), 7ul);
    QCOMPARE(spy.at(0).at(1).toString(), QString("first"));
    QCOMPARE(spy.at(0).at(2).toString(), QString("first"));
    QCOMPARE(spy.at(1).at(1).toString(), QString("first"));
    QCOMPARE(spy.at(1).at(2).toString(), QString("second"));
    s.onNewQueries({tuple("SELECT 1", 1)});
    QCOMPARE(d->queries.at(0)->dbName, QString("second"));
}

void TstSessionRecords::setNamesChangesCodec_data()
{
    QTest::addColumn<QByteArray>("setNames");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("expected");
    QTest::newRow("latin1") << QByteArray("SET NAMES latin1") << QByteArray("SELECT '\xe9'")
                            << QString::fromUtf8("SELECT '\xc3\xa9'");
    QTest::newRow("utf8mb4 falls back to utf8") << QByteArray("set names utf8mb4")
                                                << QByteArray("SELECT '\xc3\xa9'")
                                                << QString::fromUtf8("SELECT '\xc3\xa9'");
    QTest::newRow("quoted cp1251 with collate") << QByteArray("SET NAMES 'cp1251' COLLATE cp1251_general_ci")
                                                << QByteArray("SELECT '\xc4\xe0'")
                                                << QString::fromUtf8("SELECT '\xd0\x94\xd0\xb0'");
}

void TstSessionRecords::setNamesChangesCodec()
{
    QFETCH(QByteArray, setNames);
    QFETCH(QByteArray, raw);
    QFETCH(QString, expected);
    Session s;
    s.onStartSession(QDateTime::currentDateTime(), "u", QString(), true);
    QScopedPointer<SessionData> d(s.getSessionData());
    s.onNewQueries({tuple(setNames, 1), tuple(raw, 1)});
    QCOMPARE(d->queries.at(1)->text, expected);
    // Statements logged before keep the text they were decoded with.
    QCOMPARE(d->queries.at(0)->text, QString::fromLatin1(setNames));
}

void TstSessionRecords::batchRaisingMaximumRerates()
{
    Session s;
    s.onStartSession(QDateTime::currentDateTime(), "u", QString(), true);
    QScopedPointer<SessionData> d(s.getSessionData());
    s.onNewQueries({tuple("a", 0.5)});
    QCOMPARE(d->queries.at(0)->percentOfMax, 50); // rated against 1 ms until a slower one comes
    QCOMPARE(d->queries.at(0)->shareOfTotal, 100.0f);

    s.onNewQueries({tuple("b", 2), tuple("c", 1), tuple("d", 8)});
    QCOMPARE(s.maxDurationMs, 8.0);
    QCOMPARE(s.totalDurationMs, 11.5);
    const QList<int> percent{6, 25, 13, 100}; // 6.25 -> 6, 12.5 -> 13 (halves up)
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(d->queries.at(i)->percentOfMax, percent.at(i));
        QVERIFY(qAbs(d->queries.at(i)->shareOfTotal - float(d->queries.at(i)->durationMs / 11.5 * 100)) < 1e-4);
    }
}

void TstSessionRecords::batchBelowMaximumKeepsOlderRatings()
{
    Session s;
    s.onStartSession(QDateTime::currentDateTime(), "u", QString(), true);
    QScopedPointer<SessionData> d(s.getSessionData());
    s.onNewQueries({tuple("a", 4), tuple("b", 10)});
    QCOMPARE(d->queries.at(0)->percentOfMax, 40);
    // 5 ms against a 10 ms maximum; older ratings stay, shares follow the new total.
    d->queries.at(0)->percentOfMax = 41; // marker: must not be rewritten without a new maximum
    s.onNewQueries({tuple("c", 5)});
    QCOMPARE(d->queries.at(2)->percentOfMax, 50);
    QCOMPARE(d->queries.at(0)->percentOfMax, 41);
    QVERIFY(qAbs(d->queries.at(0)->shareOfTotal - float(4.0 / 19.0 * 100)) < 1e-4);
}

void TstSessionRecords::totalsAndAnnouncement()
{
    Session s;
    s.onStartSession(QDateTime::currentDateTime(), "u", QString(), true);
    QScopedPointer<SessionData> d(s.getSessionData());
    d->id = 3;
    QSignalSpy spy(&s, &Session::newQueries);
    s.onNewQueries({tuple("a", 1, 10, false, 0.5f, 2.0f), tuple("b", 1, 5, false, 0.25f, 1.0f)});
    s.onNewQueries({tuple("c", 1, 1, true, 1.0f, 0.0f)});
    s.onNewQueries({});
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).value<ulong>(), 3ul);
    QCOMPARE(spy.at(0).at(1).toUInt(), 0u);
    QCOMPARE(spy.at(0).at(2).toUInt(), 2u);
    QCOMPARE(spy.at(1).at(1).toUInt(), 2u);
    QCOMPARE(spy.at(1).at(2).toUInt(), 1u);
    QCOMPARE(d->rowsTotal, 16u);
    QCOMPARE(d->requestKbTotal, 1.75f);
    QCOMPARE(d->responseKbTotal, 3.0f);
}

void TstSessionRecords::closeBeforeLogin()
{
    Session s;
    QSignalSpy spy(&s, &Session::close);
    s.onNewQueries({tuple("lost", 1)}); // nothing to log into: ignored, no crash
    s.disconnectDB(QTime(0, 0));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<ulong>(), 0ul);
}

void TstSessionRecords::closeAfterLoginSetsDuration()
{
    Session s;
    s.onStartSession(QDateTime::currentDateTime(), "u", QString(), false);
    QScopedPointer<SessionData> d(s.getSessionData());
    d->id = 12;
    QVERIFY(!d->authenticated);
    QSignalSpy spy(&s, &Session::close);
    s.disconnectDB(QTime(0, 0).addMSecs(1500));
    QCOMPARE(d->duration, QTime(0, 0, 1, 500));
    QCOMPARE(spy.at(0).at(0).value<ulong>(), 12ul);
}

void TstSessionRecords::secondLoginMakesSecondRecord()
{
    Session s;
    QSignalSpy add(&s, &Session::add);
    s.onStartSession(QDateTime::currentDateTime(), "u", QString(), false);
    s.onStartSession(QDateTime::currentDateTime(), "u", QString(), false);
    QCOMPARE(add.count(), 2);
    auto* a = add.at(0).at(0).value<SessionData*>();
    auto* b = add.at(1).at(0).value<SessionData*>();
    QVERIFY(a != b);
    QCOMPARE(s.getSessionData(), b);
    delete a;
    delete b;
}

QTEST_GUILESS_MAIN(TstSessionRecords)
#include "tst_sessionrecords.moc"
