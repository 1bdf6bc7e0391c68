// The statistics poll against the real test server: rates of known
// statements, command table, process list, top lists, recovery.
#include "ProxyTestUtil.h"
#include "TestSql.h"

#include <QSqlQuery>

namespace {

/// Rows of a model column.
QStringList column(const QAbstractItemModel* m, int col, int role = Qt::DisplayRole)
{
    QStringList out;
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->data(m->index(r, col), role).toString();
    return out;
}

qlonglong connectionId(const QSqlDatabase& c)
{
    QSqlQuery q(c);
    return q.exec("SELECT CONNECTION_ID()") && q.next() ? q.value(0).toLongLong() : -1;
}

} // namespace

class TestStatisticsPoller : public QObject
{
    Q_OBJECT
    TestDb db;
    QSqlDatabase own; ///< the test's own connection

    void run(const QString& sql, int times = 1)
    {
        QSqlQuery q(own);
        for (int i = 0; i < times; ++i)
            QVERIFY2(q.exec(sql.contains("%1") ? sql.arg(i) : sql), qPrintable(q.lastError().text()));
    }

private slots:
    void initTestCase()
    {
        db = TestDb::load();
        if (!db.valid)
            QSKIP("the MariaDB test server fixture is not running");
        own = openTestDb(db, "own");
        QVERIFY(own.isOpen());
        run("CREATE OR REPLACE TABLE poll_t (id INT PRIMARY KEY, v INT)");
        run("INSERT INTO poll_t VALUES (1, 0), (2, 0)");
    }

    void ratesOfKnownStatements()
    {
        // a period of 0 polls every second: the difference between polls is the rate
        Rig rig(db, [](Profile* p, Settings*) { p->StatusPeriod = 0; });
        QSignalSpy stats(rig.proxy.get(), &ProxyServer::updateStatSignal);
        QVERIFY(rig.start()); // poll 1: references only
        QTimer* timer = rig.proxy->findChild<QTimer*>();
        QVERIFY(timer && timer->isActive() && timer->interval() == 1000);
        timer->stop(); // from here on only the test polls
        rig.pollAndWait(3); // poll 2: only the poller's own statements in between
        const QList<double> base = lastPoll(stats, 1), baseGraph = lastPoll(stats, 3);
        run("SELECT %1", 10);
        run("UPDATE poll_t SET v = v + 1 WHERE id = 1", 5);
        run("INSERT INTO poll_t VALUES (10%1, 0)", 2);
        run("DELETE FROM poll_t WHERE id >= 100");
        run("DO %1", 3);
        rig.pollAndWait(4); // poll 3: all, SELECT, UPDATE, INSERT, DELETE, other
        const QList<double> params = lastPoll(stats, 1), graph = lastPoll(stats, 3);
        QList<double> sent;
        for (int i = 0; i < params.size(); ++i)
            sent << params[i] - base.value(i);
        QCOMPARE(sent, (QList<double>{21, 10, 5, 2, 1, 3}));
        QCOMPARE(graph[0] - baseGraph[0], 21.0);
        QVERIFY(graph[1] >= 2 && graph[2] > 0 && graph[3] > 0); // two connections at least; bytes sent and received
        QCOMPARE(lastPoll(stats, 2), (QList<double>{0, 0, 0, 0, 0, 0})); // nothing went through the profiler
        rig.proxy->stopProxy();
        QVERIFY(!timer->isActive());
    }

    void tablesAndTopLists()
    {
        Rig rig(db);
        MngrSessions& mngr = *rig.mngr;
        mngr.highlighter = [](const QString& text) { return "<b>" + text.toHtmlEscaped() + "</b>"; };
        // our connection sleeps after reading poll_t; another one runs a long statement
        run("SELECT COUNT(*) FROM poll_t");
        const QString sleeper = "SELECT SLEEP(4) AS `x<y`";
        QProcess runner;
        runner.start("mariadb", clientArgs(db, db.port, {db.database, "-e", sleeper}));
        QSqlQuery q(own);
        QTRY_VERIFY_WITH_TIMEOUT(
            q.exec("SELECT 1 FROM information_schema.PROCESSLIST WHERE INFO LIKE 'SELECT SLEEP(4)%'") && q.next(), 10000);
        q.finish();
        QVERIFY(rig.start());

        // the command table: names without "Com_", counts, rates with one decimal
        QStandardItemModel* m = mngr.modelStatus;
        const int row = column(m, 0).indexOf("show_status"), commands = m->rowCount();
        QVERIFY(commands > 20 && row >= 0 && m->data(m->index(row, 1)).toLongLong() > 0);
        QVERIFY2(column(m, 3)[row].contains(QRegularExpression("^[\\d,. ]+[.,]\\d$")), qPrintable(column(m, 3)[row]));

        // the process list: our sleeping connection without a statement, the running one highlighted
        QStandardItemModel* pl = mngr.modelProcesses;
        const QStringList infos = column(pl, 6, Qt::UserRole);
        const int ownRow = column(pl, 0).indexOf(QString::number(connectionId(own)));
        QVERIFY(ownRow >= 0);
        QCOMPARE(QStringList({column(pl, 1)[ownRow], column(pl, 3)[ownRow], column(pl, 4)[ownRow], infos[ownRow]}),
                 (QStringList{db.user, db.database, "Sleep", ""}));
        const int running = infos.indexOf(sleeper);
        QVERIFY2(running >= 0, qPrintable(infos.join('|')));
        QCOMPARE(column(pl, 6)[running], QStringLiteral("<b>SELECT SLEEP(4) AS `x&lt;y`</b>"));
        // running statements are top statements, with their user and database; the poller's
        // own SHOW FULL PROCESSLIST runs while it reads the list; sleeping connections do not count
        TopListModel* top = mngr.modelTopQueriesDb;
        QCOMPARE(QList<int>({top->countOf(sleeper), top->countOf("SHOW FULL PROCESSLIST"), top->countOf(QString())}),
                 QList<int>({1, 1, 0}));
        for (const TopElementQuery& e : top->queryElements())
            if (e.text == sleeper)
                QCOMPARE(e.user + '@' + e.db, db.user + '@' + db.database);

        // open tables: counted once per poll in which they are open
        QCOMPARE(mngr.modelTopTablesDb->countOf("poll_t"), 1);
        const int dbCount = mngr.modelTopDbDb->countOf(db.database);
        QVERIFY(dbCount >= 1 && mngr.countTopTablesDb >= 1);
        QCOMPARE(mngr.countTopDbDb, mngr.countTopTablesDb);
        rig.pollAndWait(3);
        QCOMPARE(mngr.modelTopTablesDb->countOf("poll_t"), 2);
        QCOMPARE(mngr.modelTopDbDb->countOf(db.database), 2 * dbCount);
        QCOMPARE(m->rowCount(), commands); // the second poll replaced the rows
        QVERIFY(runner.waitForFinished(30000));
    }

    void recovery()
    {
        Rig rig(db);
        ProxyServer& proxy = *rig.proxy;
        QVERIFY(rig.start());
        const qlonglong first = proxy.statisticsConnectionId();
        run(QStringLiteral("KILL %1").arg(first));
        rig.events.clear();
        rig.pollAndWait(2); // fails on the dead connection, emits no poll and reconnects
        QCOMPARE(rig.events, (QStringList{"down", "up"}));
        QVERIFY(proxy.dbIsOpen() && proxy.isRunning() && proxy.findChild<QTimer*>()->isActive());
        QVERIFY(proxy.statisticsConnectionId() != first && proxy.statisticsConnectionId() > 0);
        rig.pollAndWait(3); // polling goes on, on the new connection
        QVERIFY2(rig.events[2].contains(":6/6/4:"), qPrintable(rig.events.join(',')));
        // while not profiling, a failed recovery only opens the profiles dialog
        proxy.stopProxy();
        rig.profile()->Port = freePort();
        rig.events.clear();
        proxy.recoveryConnect();
        QTRY_COMPARE(rig.events.size(), 2);
        QCOMPARE(rig.events, (QStringList{"Error|no_translate", "profiles"}));
    }
};

QTEST_MAIN(TestStatisticsPoller)
#include "tst_statisticspoller.moc"
