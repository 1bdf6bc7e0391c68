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
QVariantList tuple(const QByteArray& text) { return QVariantList{QDateTime::currentDateTime(), 1.0, text, 0.01f, 0.0f, 0, false}; }

/// Every row of a model as displayed (columns joined).
QStringList rows(const QAbstractItemModel* model)
{
    QStringList out;
    for (int r = 0; r < model->rowCount(); ++r) {
        out << model->index(r, 0).data().toString();
        for (int c = 1; c < model->columnCount(); ++c)
            out.last() += '|' + model->index(r, c).data().toString();
    }
    return out;
}

/// True when a dataChanged signal caught by `spy` covers the cell.
bool announced(const QSignalSpy& spy, int row, int column)
{
    return std::any_of(spy.begin(), spy.end(), [&](const QVariantList& a) {
        const QModelIndex from = a.at(0).toModelIndex(), to = a.at(1).toModelIndex();
        return from.row() <= row && row <= to.row() && from.column() <= column && column <= to.column();
    });
}
} // namespace

class TstMngrSessions : public QObject
{
    Q_OBJECT
    QObject owner;
    MngrSessions* m = nullptr;
    QStringList events; ///< the manager's signals about sessions

    /// A session without a connection, adopted by the manager and logged in.
    Session* login(const QString& user = "u", const QString& db = QString())
    {
        auto* s = new Session(&owner);
        m->adoptSession(s);
        s->onStartSession(QDateTime::currentDateTime(), user, db, true);
        return s;
    }

private slots:
    void init()
    {
        m = new MngrSessions(nullptr);
        events.clear();
        connect(m, &MngrSessions::addSession, [this](uint index) { events << QString("add %1").arg(index); });
        connect(m, &MngrSessions::removeSession, [this](ulong id) { events << QString("remove %1").arg(id); });
        connect(m, &MngrSessions::closeSession, [this](uint index) { events << QString("close %1").arg(index); });
        connect(m, &MngrSessions::newQueriesSession, [this](uint i, uint from, uint n) { events << QString("queries %1 %2 %3").arg(i).arg(from).arg(n); });
    }

    void cleanup() { delete m; qDeleteAll(owner.children()); }

    void numbering()
    {
        m->lastId = 57; // numbering goes on from the archive
        QVERIFY(login()->getSessionData()->id == 58 && login()->getSessionData()->id == 59);
        m->clearAllSessions();
        QVERIFY(m->sessions.isEmpty() && m->activeSessions.isEmpty());
        // a new connection after the clear: numbers are never reused
        QCOMPARE(login()->getSessionData()->id, 60ul);
        QCOMPARE(events, (QStringList{"add 0", "add 1", "add 0"}));
        QCoreApplication::processEvents(); // records freed later must not take the new one along
        QCOMPARE(m->getSessionData(0)->id, 60ul);
    }

    void limitDropsOldest()
    {
        m->maxSessions = 2;
        Session* first = login();
        Session* second = login();
        login(); // drops session 1: session 2 moves to position 0
        QVERIFY(m->getSessionData(0)->id == 2 && m->getSessionIndex(1) == -1 && m->getSessionIndex(3) == 1);
        // statements are announced under the list position; the dropped session still logs
        // into its record, but is neither announced nor counted, nor is its close
        second->onNewQueries({tuple("SELECT 1"), tuple("SELECT 2")});
        second->onNewQueries({tuple("SELECT 3")});
        first->onNewQueries({tuple("SELECT 9")});
        first->disconnectDB(QTime(0, 0));
        QCOMPARE(events, (QStringList{"add 0", "add 1", "remove 1", "add 1", "queries 0 0 2", "queries 0 2 1"}));
        QVERIFY(first->getSessionData()->queries.size() == 1 && !m->modelTopQueries->countOf("SELECT 9"));
        QVERIFY(!m->activeSessions.contains(first));
    }

    void closeAndLookups()
    {
        Session* a = login();
        QPointer<Session> b = login();
        QVERIFY(m->getSessionData(0) == a->getSessionData() && !m->getSessionData(2) && m->getSessionIndex(2) == 1);
        QVERIFY(m->checkActiveSession(2) && !m->checkActiveSession(3));
        b->disconnectDB(QTime(0, 0, 2));
        QVERIFY(!m->checkActiveSession(2) && m->checkActiveSession(1));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(b.isNull());
        QCOMPARE(m->getSessionData(1)->duration, QTime(0, 0, 2)); // the record outlives its Session
        // a connection that ends before any login: nothing recorded, nothing announced
        auto* early = new Session(&owner);
        m->adoptSession(early);
        early->disconnectDB(QTime(0, 0));
        QCOMPARE(m->activeSessions.size(), 1);
        // after a stop, statements flushed late are still counted and the close still announced
        m->stopActiveSessions();
        QVERIFY(m->activeSessions.isEmpty());
        a->onNewQueries({tuple("SELECT 1")});
        a->disconnectDB(QTime(0, 0));
        QCOMPARE(events, (QStringList{"add 0", "add 1", "close 1", "queries 0 0 1", "close 0"}));
        QVERIFY(m->modelTopQueries->countOf("SELECT 1") == 1 && m->sessions.size() == 2);
    }

    void topLists()
    {
        Session* a = login("alice", "shop");
        Session* b = login("bob", "sales");
        a->onNewQueries({tuple("SELECT * FROM t"), tuple("SELECT 2")});
        b->onNewQueries({tuple("SELECT * FROM t")});
        // rank, the first user, the shown text, the first database, count, raw text
        QCOMPARE(rows(m->modelTopQueries), (QStringList{"1|alice|SELECT * FROM t|shop|2|SELECT * FROM t", "2|alice|SELECT 2|shop|1|SELECT 2"}));
        QCOMPARE(m->countTopQueries, 3);
        // rows removed or cleared from outside are counted anew
        m->modelTopQueries->setRowCount(0);
        for (const char* t : {"a", "b", "b", "c", "c", "c"})
            m->addTopQuery(t, "", "u");
        m->modelTopQueries->removeRows(1, 1); // "b"
        m->addTopQuery("b", "", "v");
        m->addTopQuery("c", "", "u");
        QCOMPARE(rows(m->modelTopQueries), (QStringList{"1|u|c||4|c", "2|u|a||1|a", "3|v|b||1|b"}));
        m->modelTopQueries->setRowCount(0); // how the window empties its lists
        m->addTopQuery("c", "", "w");
        QCOMPARE(rows(m->modelTopQueries), QStringList{"1|w|c||1|c"});
        m->modelTopQueries->clear();
        m->addTopQuery("a", "x", "w");
        QCOMPARE(rows(m->modelTopQueries), QStringList{"1|w|a|x|1|a"});
        // any model counts with the plain algorithm; without a model nothing happens
        QStandardItemModel plain(0, 3);
        for (const char* name : {"x", "y", "y", "z", "z"})
            m->addTop(name, &plain);
        m->addTop("x", nullptr);
        QCOMPARE(rows(&plain), (QStringList{"1|y|2", "2|z|2", "3|x|1"}));
    }

    void topQueriesMatchLinearAlgorithm()
    {
        // After every batch the rows equal the plain linear algorithm's and every changed cell of a known
        // row is announced: few texts one per batch, few texts in large batches, many in mixed batches.
        for (const auto& [vocabulary, maxBatch] : {std::pair{5, 1}, {6, 40}, {200, 25}}) {
            MngrSessions mngr(nullptr);
            QRandomGenerator rng(vocabulary);
            QStandardItemModel linear(0, 6);
            QSignalSpy changed(mngr.modelTopQueries, &QAbstractItemModel::dataChanged);
            for (int round = 0; round < 60; ++round) {
                const QStringList before = rows(&linear);
                changed.clear();
                mngr.modelTopQueries->beginBatch();
                for (int i = 0, n = 1 + int(rng.bounded(maxBatch)); i < n; ++i) {
                    const double x = rng.generateDouble(); // squared: some texts become frequent
                    const QString text = QString("SELECT %1").arg(int(x * x * vocabulary)), user = QString("user%1").arg(rng.bounded(3));
                    mngr.addTopQuery(text, "db", user);
                    TopListModel::addLinear(&linear, 5, 4, text, {QString(), user, text.toHtmlEscaped(), "db", QString(), text});
                }
                mngr.modelTopQueries->endBatch();
                const QStringList after = rows(&linear);
                QCOMPARE(rows(mngr.modelTopQueries), after);
                for (int r = 0; r < before.size(); ++r)
                    for (int c = 1; c < 6; ++c)
                        if (before[r].section('|', c, c) != after[r].section('|', c, c))
                            QVERIFY2(announced(changed, r, c), qPrintable(QString("row %1 column %2").arg(r).arg(c)));
            }
        }
    }

    void countQueriesGroup()
    {
        // all, SELECT (also INSERT ... SELECT), UPDATE, INSERT, DELETE, other; read and reset
        login()->onNewQueries({tuple("SELECT 1"), tuple("select * from t"), tuple("INSERT INTO t SELECT * FROM u"), tuple("update t set a=1"),
                               tuple("INSERT INTO t VALUES (1)"), tuple("DELETE FROM t"), tuple("SHOW TABLES"), tuple("SELECT\n1")});
        QCOMPARE(m->countQueriesGroup(), (QList<int>{8, 3, 1, 1, 1, 2}));
        QCOMPARE(m->countQueriesGroup(), (QList<int>{0, 0, 0, 0, 0, 0}));
    }
};

QTEST_GUILESS_MAIN(TstMngrSessions)
#include "tst_mngrsessions.moc"
