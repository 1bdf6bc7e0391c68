// The session manager: numbering, the record limit, signals under list
// positions, top lists (against the plain linear algorithm) and the
// statement-kind counters.
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QtTest>

#include "MngrSessions.h"
#include "Session.h"
#include "TopListModel.h"

namespace {

QVariantList tuple(const QByteArray& text, double ms = 1.0)
{
    return QVariantList{QDateTime::currentDateTime(), ms, text, 0.01f, 0.0f, 0, false};
}

/// A session without a connection, adopted by the manager and logged in.
Session* login(MngrSessions& m, QObject* parent, const QString& user = "u", const QString& db = QString())
{
    auto* s = new Session(parent);
    m.adoptSession(s);
    s->onStartSession(QDateTime::currentDateTime(), user, db, true);
    return s;
}

/// Every row of a model as displayed (columns joined).
QStringList rows(const QAbstractItemModel* model)
{
    QStringList out;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c).data().toString();
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

} // namespace

class TstMngrSessions : public QObject
{
    Q_OBJECT
private slots:
    // numbering and the record list
    void numbersFromOne();
    void numberingContinuesArchive();
    void numbersNeverReusedAfterClear();
    void limitDropsOldest();
    void defaultLimitIs10000();
    void droppedActiveSessionIgnored();
    void lookups();
    void closeEmitsPositionAndForgetsSession();
    void stoppedSessionCloseDeletesNothing();
    // signals under list positions
    void queriesReemittedWithPosition();
    // top lists
    void sameTextCountedInOneRow();
    void topQueryShowsHighlightedTrimmedText();
    void topQueriesMatchLinearAlgorithm_data();
    void topQueriesMatchLinearAlgorithm();
    void topListSurvivesExternalRemoval();
    void addTopOnPlainModel();
    void topDatabasesCountSelectedDb();
    void elementsOrdering();
    // statement kinds
    void countQueriesGroup_data();
    void countQueriesGroup();
    void countQueriesGroupResets();
};

void TstMngrSessions::numbersFromOne()
{
    QObject owner;
    MngrSessions m(nullptr);
    QSignalSpy add(&m, &MngrSessions::addSession);
    Session* a = login(m, &owner);
    Session* b = login(m, &owner);
    QCOMPARE(a->getSessionData()->id, 1ul);
    QCOMPARE(b->getSessionData()->id, 2ul);
    QCOMPARE(add.count(), 2);
    QCOMPARE(add.at(0).at(0).toUInt(), 0u);
    QCOMPARE(add.at(1).at(0).toUInt(), 1u);
}

void TstMngrSessions::numberingContinuesArchive()
{
    QObject owner;
    MngrSessions m(nullptr);
    m.lastId = 57;
    QCOMPARE(login(m, &owner)->getSessionData()->id, 58ul);
}

void TstMngrSessions::numbersNeverReusedAfterClear()
{
    QObject owner;
    MngrSessions m(nullptr);
    login(m, &owner);
    login(m, &owner);
    m.clearAllSessions();
    QVERIFY(m.sessions.isEmpty());
    QVERIFY(m.activeSessions.isEmpty());
    QSignalSpy add(&m, &MngrSessions::addSession);
    Session* c = login(m, &owner); // a new connection after the clear
    QCOMPARE(c->getSessionData()->id, 3ul);
    QCOMPARE(add.at(0).at(0).toUInt(), 0u);
    QCoreApplication::processEvents(); // records freed later must not take c's along
    QCOMPARE(m.getSessionData(0)->id, 3ul);
}

void TstMngrSessions::limitDropsOldest()
{
    QObject owner;
    MngrSessions m(nullptr);
    m.maxSessions = 3;
    QStringList order;
    connect(&m, &MngrSessions::removeSession, [&](ulong id) { order << QString("remove %1").arg(id); });
    connect(&m, &MngrSessions::addSession, [&](uint index) { order << QString("add %1").arg(index); });
    for (int i = 0; i < 5; ++i)
        login(m, &owner);
    QCOMPARE(order, (QStringList{"add 0", "add 1", "add 2", "remove 1", "add 2", "remove 2", "add 2"}));
    QCOMPARE(m.sessions.size(), 3);
    QCOMPARE(m.getSessionData(0)->id, 3ul);
    QCOMPARE(m.getSessionIndex(1), -1);
    QCOMPARE(m.getSessionIndex(5), 2);
}

void TstMngrSessions::defaultLimitIs10000()
{
    QObject owner;
    MngrSessions m(nullptr);
    QCOMPARE(m.maxSessions, 10000);
    for (int i = 0; i < 10000; ++i) {
        Session* s = login(m, &owner);
        s->disconnectDB(QTime(0, 0)); // closed sessions are forgotten, records stay
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QStringList order;
    connect(&m, &MngrSessions::removeSession, [&](ulong id) { order << QString("remove %1").arg(id); });
    connect(&m, &MngrSessions::addSession, [&](uint index) { order << QString("add %1").arg(index); });
    login(m, &owner);
    QCOMPARE(order, (QStringList{"remove 1", "add 9999"}));
    QCOMPARE(m.sessions.size(), 10000);
}

void TstMngrSessions::droppedActiveSessionIgnored()
{
    QObject owner;
    MngrSessions m(nullptr);
    m.maxSessions = 1;
    Session* first = login(m, &owner);
    login(m, &owner);
    QCOMPARE(m.getSessionIndex(1), -1);
    QSignalSpy queries(&m, &MngrSessions::newQueriesSession);
    QSignalSpy closed(&m, &MngrSessions::closeSession);
    // The dropped session still logs into its record, but is no longer announced.
    first->onNewQueries({tuple("SELECT 1")});
    QCOMPARE(first->getSessionData()->queries.size(), 1);
    QCOMPARE(queries.count(), 0);
    QCOMPARE(m.modelTopQueries->rowCount(), 0);
    first->disconnectDB(QTime(0, 0));
    QCOMPARE(closed.count(), 0);
    QVERIFY(!m.activeSessions.contains(first));
}

void TstMngrSessions::lookups()
{
    QObject owner;
    MngrSessions m(nullptr);
    Session* a = login(m, &owner);
    login(m, &owner);
    QCOMPARE(m.getSessionIndex(2), 1);
    QCOMPARE(m.getSessionIndex(99), -1);
    QCOMPARE(m.getSessionData(0), a->getSessionData());
    QVERIFY(!m.getSessionData(2));
    QVERIFY(m.checkActiveSession(1));
    a->disconnectDB(QTime(0, 0));
    QVERIFY(!m.checkActiveSession(1));
    QVERIFY(m.checkActiveSession(2));
    QVERIFY(!m.checkActiveSession(3));
}

void TstMngrSessions::closeEmitsPositionAndForgetsSession()
{
    QObject owner;
    MngrSessions m(nullptr);
    login(m, &owner);
    QPointer<Session> b = login(m, &owner);
    QSignalSpy closed(&m, &MngrSessions::closeSession);
    b->disconnectDB(QTime(0, 0, 2));
    QCOMPARE(closed.count(), 1);
    QCOMPARE(closed.at(0).at(0).toUInt(), 1u);
    QCOMPARE(m.activeSessions.size(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(b.isNull());
    QCOMPARE(m.getSessionData(1)->duration, QTime(0, 0, 2)); // the record outlives its Session

    // A connection that ends before any login: nothing recorded, nothing announced.
    auto* early = new Session(&owner);
    m.adoptSession(early);
    early->disconnectDB(QTime(0, 0));
    QCOMPARE(closed.count(), 1);
    QCOMPARE(m.activeSessions.size(), 1);
}

void TstMngrSessions::stoppedSessionCloseDeletesNothing()
{
    QObject owner;
    MngrSessions m(nullptr);
    Session* a = login(m, &owner);
    m.stopActiveSessions();
    QVERIFY(m.activeSessions.isEmpty());
    QSignalSpy closed(&m, &MngrSessions::closeSession);
    QSignalSpy queries(&m, &MngrSessions::newQueriesSession);
    // Statements flushed after the stop are still counted; the close is still announced.
    a->onNewQueries({tuple("SELECT 1")});
    QCOMPARE(queries.count(), 1);
    a->disconnectDB(QTime(0, 0));
    QCOMPARE(closed.count(), 1);
    QCOMPARE(m.sessions.size(), 1);
}

void TstMngrSessions::queriesReemittedWithPosition()
{
    QObject owner;
    MngrSessions m(nullptr);
    m.maxSessions = 2;
    login(m, &owner);
    Session* b = login(m, &owner);
    login(m, &owner); // drops session 1: session 2 moves to position 0
    QSignalSpy spy(&m, &MngrSessions::newQueriesSession);
    b->onNewQueries({tuple("SELECT 1"), tuple("SELECT 2")});
    b->onNewQueries({tuple("SELECT 3")});
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0), (QList<QVariant>{0u, 0u, 2u}));
    QCOMPARE(spy.at(1), (QList<QVariant>{0u, 2u, 1u}));
}

void TstMngrSessions::sameTextCountedInOneRow()
{
    QObject owner;
    MngrSessions m(nullptr);
    Session* a = login(m, &owner, "alice", "shop");
    Session* b = login(m, &owner, "bob", "sales");
    a->onNewQueries({tuple("SELECT * FROM t"), tuple("SELECT 2")});
    b->onNewQueries({tuple("SELECT * FROM t")});
    QAbstractItemModel* top = m.modelTopQueries;
    QCOMPARE(top->rowCount(), 2);
    QCOMPARE(top->columnCount(), 6);
    QCOMPARE(top->index(0, 0).data().toInt(), 1);
    QCOMPARE(top->index(0, 1).data().toString(), QString("alice")); // the first user stays
    QCOMPARE(top->index(0, 3).data().toString(), QString("shop"));
    QCOMPARE(top->index(0, 4).data().toInt(), 2);
    QCOMPARE(top->index(0, 5).data().toString(), QString("SELECT * FROM t"));
    QCOMPARE(top->index(1, 0).data().toInt(), 2);
    QCOMPARE(top->index(1, 5).data().toString(), QString("SELECT 2"));
    QCOMPARE(m.countTopQueries, 3);
}

void TstMngrSessions::topQueryShowsHighlightedTrimmedText()
{
    MngrSessions m(nullptr);
    m.addTopQuery("  SELECT a<b \n", "db", "u");
    QCOMPARE(m.modelTopQueries->index(0, 2).data().toString(), QString("SELECT a&lt;b"));
    m.highlighter = [](const QString& t) { return "<b>" + t + "</b>"; };
    m.addTopQueryDb(" SHOW TABLES", "Query", "root");
    QCOMPARE(m.modelTopQueriesDb->index(0, 2).data().toString(), QString("<b>SHOW TABLES</b>"));
    QCOMPARE(m.modelTopQueriesDb->index(0, 5).data().toString(), QString(" SHOW TABLES"));
    QCOMPARE(m.countTopQueriesDb, 1);
    QCOMPARE(m.countTopQueries, 1);
}

void TstMngrSessions::topQueriesMatchLinearAlgorithm_data()
{
    QTest::addColumn<int>("vocabulary");
    QTest::addColumn<int>("maxBatch");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("few texts, one per batch") << 5 << 1 << 1u;
    QTest::newRow("few texts, large batches") << 6 << 40 << 2u;
    QTest::newRow("many texts, mixed batches") << 60 << 15 << 3u;
    QTest::newRow("skewed, mixed batches") << 200 << 25 << 4u;
}

void TstMngrSessions::topQueriesMatchLinearAlgorithm()
{
    QFETCH(int, vocabulary);
    QFETCH(int, maxBatch);
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed);
    MngrSessions m(nullptr);
    QStandardItemModel linear(0, 6);
    QSignalSpy changed(m.modelTopQueries, &QAbstractItemModel::dataChanged);
    for (int round = 0; round < 60; ++round) {
        const int n = 1 + int(rng.bounded(maxBatch));
        m.modelTopQueries->beginBatch();
        for (int i = 0; i < n; ++i) {
            // Squaring skews the choice so that some texts become frequent.
            const double x = rng.generateDouble();
            const QString text = QString("SELECT %1").arg(int(x * x * vocabulary));
            const QString user = QString("user%1").arg(rng.bounded(3));
            m.addTopQuery(text, "db", user);
            TopListModel::addLinear(&linear, 5, 4, text,
                                    {QString(), user, text.toHtmlEscaped(), "db", QString(), text});
        }
        m.modelTopQueries->endBatch();
        QCOMPARE(rows(m.modelTopQueries), rows(&linear));
    }
    QVERIFY(changed.count() > 0);
}

void TstMngrSessions::topListSurvivesExternalRemoval()
{
    MngrSessions m(nullptr);
    for (const char* t : {"a", "b", "b", "c", "c", "c"})
        m.addTopQuery(t, "", "u");
    QCOMPARE(rows(m.modelTopQueries).size(), 3);
    m.modelTopQueries->removeRows(1, 1); // "b"
    m.addTopQuery("b", "", "v");
    m.addTopQuery("c", "", "u");
    QCOMPARE(m.modelTopQueries->countOf("b"), 1);
    QCOMPARE(rows(m.modelTopQueries), (QStringList{"1|u|c||4|c", "2|u|a||1|a", "3|v|b||1|b"}));
    m.modelTopQueries->setRowCount(0); // how the window empties its lists
    QCOMPARE(m.modelTopQueries->countOf("c"), 0);
    m.addTopQuery("c", "", "w");
    QCOMPARE(rows(m.modelTopQueries), QStringList{"1|w|c||1|c"});
    m.modelTopQueries->clear();
    m.addTopQuery("a", "x", "w");
    QCOMPARE(m.modelTopQueries->columnCount(), 6);
    QCOMPARE(rows(m.modelTopQueries), QStringList{"1|w|a|x|1|a"});
}

void TstMngrSessions::addTopOnPlainModel()
{
    MngrSessions m(nullptr);
    QStandardItemModel plain(0, 3);
    for (const char* name : {"x", "y", "y", "z", "z"})
        m.addTop(name, &plain);
    QCOMPARE(rows(&plain), (QStringList{"1|y|2", "2|z|2", "3|x|1"}));
    m.addTop("x", nullptr); // nothing to count into: ignored
}

void TstMngrSessions::topDatabasesCountSelectedDb()
{
    QObject owner;
    MngrSessions m(nullptr);
    Session* s = login(m, &owner, "u", "shop");
    QSignalSpy spy(&m, &MngrSessions::setDbName);
    s->onNewDbName("sales");
    s->onNewDbName("stock");
    s->onNewDbName("sales");
    QCOMPARE(rows(m.modelTopDb), (QStringList{"1|sales|2", "2|stock|1"}));
    QCOMPARE(m.countTopDb, 3);
    QCOMPARE(s->getSessionData()->dbName, QString("shop"));
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(2).at(0).value<ulong>(), 1ul);
    QCOMPARE(spy.at(2).at(1).toString(), QString("shop")); // the session's row shows its first database
}

void TstMngrSessions::elementsOrdering()
{
    TopListModel model(3, 1, 2);
    for (const char* name : {"b", "a", "c", "c"})
        model.add(name);
    QList<TopElement> e = model.elements();
    QCOMPARE(e.size(), 3);
    QCOMPARE(e.at(0).name, QString("c"));
    QCOMPARE(e.at(1).name, QString("b")); // equal counts: the one counted first stays first
    std::sort(e.begin(), e.end(), sorting);
    QCOMPARE(e.at(1).name, QString("a")); // the ordering rule sorts equal counts by name
    QList<TopElementQuery> q{{"y", "", "", 1}, {"x", "", "", 1}, {"z", "", "", 2}};
    std::sort(q.begin(), q.end(), sortingQuery);
    QCOMPARE(q.at(0).text, QString("z"));
    QCOMPARE(q.at(1).text, QString("x"));
}

void TstMngrSessions::countQueriesGroup_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("group");
    QTest::newRow("select") << QByteArray("SELECT 1") << 1;
    QTest::newRow("lower case select") << QByteArray("select * from t") << 1;
    QTest::newRow("select then line break") << QByteArray("SELECT\n1") << 5;
    QTest::newRow("insert with select") << QByteArray("INSERT INTO t SELECT * FROM u") << 1;
    QTest::newRow("update") << QByteArray("update t set a=1") << 2;
    QTest::newRow("insert") << QByteArray("INSERT INTO t VALUES (1)") << 3;
    QTest::newRow("delete") << QByteArray("DELETE FROM t") << 4;
    QTest::newRow("other") << QByteArray("SHOW TABLES") << 5;
}

void TstMngrSessions::countQueriesGroup()
{
    QFETCH(QByteArray, text);
    QFETCH(int, group);
    QObject owner;
    MngrSessions m(nullptr);
    Session* s = login(m, &owner);
    s->onNewQueries({tuple(text), tuple(text)});
    QList<int> expected{2, 0, 0, 0, 0, 0};
    expected[group] = 2;
    QCOMPARE(m.countQueriesGroup(), expected);
}

void TstMngrSessions::countQueriesGroupResets()
{
    QObject owner;
    MngrSessions m(nullptr);
    Session* s = login(m, &owner);
    s->onNewQueries({tuple("SELECT 1"), tuple("DELETE FROM t"), tuple("SET a=1")});
    QCOMPARE(m.countQueriesGroup(), (QList<int>{3, 1, 0, 0, 1, 1}));
    QCOMPARE(m.countQueriesGroup(), (QList<int>{0, 0, 0, 0, 0, 0}));
}

QTEST_GUILESS_MAIN(TstMngrSessions)
#include "tst_mngrsessions.moc"
