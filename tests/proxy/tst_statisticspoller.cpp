// The statistics poll against the real test server: rates of known
// statements, command table, process list, top lists, recovery.
#include "MngrSessions.h"
#include "ProxyServer.h"
#include "ProxyTestUtil.h"
#include "Settings.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTimer>
#include <QtTest>

namespace {
/// A second, ordinary connection of the test itself.
QSqlDatabase openOwn(const TestDb& db, const QString& name)
{
    QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
    c.setHostName(db.host);
    c.setPort(db.port);
    c.setUserName(db.user);
    c.setPassword(db.password);
    c.setDatabaseName(db.database);
    c.open();
    return c;
}

struct Poll
{
    QString uptime;
    QList<double> params, flow, graph;
};

Poll lastPoll(const QSignalSpy& spy)
{
    const QList<QVariant> a = spy.last();
    return {a.at(0).toString(), a.at(1).value<QList<double>>(), a.at(2).value<QList<double>>(),
            a.at(3).value<QList<double>>()};
}

/// Rows of a model column as display texts.
QStringList column(const QAbstractItemModel* m, int col, int role = Qt::DisplayRole)
{
    QStringList out;
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->data(m->index(r, col), role).toString();
    return out;
}
} // namespace

class TestStatisticsPoller : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void ratesOfKnownStatements();
    void commandTable();
    void processListAndTopLists();
    void periodBelowOneSecondPollsEverySecond();
    void recoveryAfterKill();
    void recoveryThatFails();

private:
    TestDb db;
};

void TestStatisticsPoller::initTestCase()
{
    db = TestDb::load();
    if (!db.valid)
        return;
    QSqlDatabase c = openOwn(db, QStringLiteral("setup"));
    QVERIFY2(c.isOpen(), qPrintable(c.lastError().text()));
    QSqlQuery q(c);
    QVERIFY(q.exec(QStringLiteral("DROP TABLE IF EXISTS poll_t")));
    QVERIFY(q.exec(QStringLiteral("CREATE TABLE poll_t (id INT PRIMARY KEY, v INT)")));
    QVERIFY(q.exec(QStringLiteral("INSERT INTO poll_t VALUES (1, 0), (2, 0)")));
}

void TestStatisticsPoller::cleanupTestCase()
{
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
}

void TestStatisticsPoller::ratesOfKnownStatements()
{
    REQUIRE_TESTDB(tdb);
    Settings settings;
    useTestServer(&settings, tdb);
    settings.currentProfile()->StatusPeriod = 1;
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    {
        QSqlDatabase own = openOwn(tdb, QStringLiteral("own"));
        QVERIFY(own.isOpen());
        QSqlQuery q(own);

        QSignalSpy stats(&proxy, &ProxyServer::updateStatSignal);
        proxy.startProxy(); // poll 1: references only
        QVERIFY(proxy.isRunning());
        QCOMPARE(stats.count(), 1);
        QCOMPARE(lastPoll(stats).params, (QList<double>{0, 0, 0, 0, 0, 0}));
        QCOMPARE(lastPoll(stats).graph[2], 0.0);
        QCOMPARE(lastPoll(stats).graph[3], 0.0);

        // the event loop does not run here, so the timer adds no poll
        proxy.updateStatistics(); // poll 2: only the poller's own statements in between
        QCOMPARE(stats.count(), 2);
        const Poll base = lastPoll(stats);
        QCOMPARE(base.params.size(), 6);
        QVERIFY(base.params[0] > 0); // the poller's statements count too
        QCOMPARE(base.graph[0], base.params[0]); // period 1: the difference is the rate

        for (int i = 0; i < 10; ++i)
            QVERIFY(q.exec(QStringLiteral("SELECT %1").arg(i)));
        for (int i = 0; i < 5; ++i)
            QVERIFY(q.exec(QStringLiteral("UPDATE poll_t SET v = v + 1 WHERE id = 1")));
        for (int i = 0; i < 2; ++i)
            QVERIFY(q.exec(QStringLiteral("INSERT INTO poll_t VALUES (%1, 0)").arg(100 + i)));
        QVERIFY(q.exec(QStringLiteral("DELETE FROM poll_t WHERE id >= 100")));
        for (int i = 0; i < 3; ++i)
            QVERIFY(q.exec(QStringLiteral("DO %1").arg(i)));
        q.finish();

        proxy.updateStatistics(); // poll 3
        QCOMPARE(stats.count(), 3);
        const Poll p = lastPoll(stats);
        QCOMPARE(p.params.size(), 6);
        QCOMPARE(p.params[1] - base.params[1], 10.0);
        QCOMPARE(p.params[2] - base.params[2], 5.0);
        QCOMPARE(p.params[3] - base.params[3], 2.0);
        QCOMPARE(p.params[4] - base.params[4], 1.0);
        QCOMPARE(p.params[5] - base.params[5], 3.0);
        QCOMPARE(p.params[0] - base.params[0], 21.0);
        QCOMPARE(p.graph[0] - base.graph[0], 21.0);
        // other = all - (SELECT + UPDATE + INSERT + DELETE), within every poll
        QCOMPARE(p.params[5], p.params[0] - p.params[1] - p.params[2] - p.params[3] - p.params[4]);
        QVERIFY(p.graph[1] >= 2); // the statistics connection and ours
        QVERIFY(p.graph[2] > 0); // the server sent the answers
        QVERIFY(p.graph[3] > 0);
        // nothing went through the profiler port
        QCOMPARE(p.flow, (QList<double>{0, 0, 0, 0, 0, 0}));
        proxy.stopProxy();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("own"));
}

void TestStatisticsPoller::commandTable()
{
    REQUIRE_TESTDB(tdb);
    Settings settings;
    useTestServer(&settings, tdb);
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    proxy.startProxy();
    QVERIFY(proxy.isRunning());
    QStandardItemModel* m = mngr.modelStatus;
    QVERIFY(m->rowCount() > 20);
    QCOMPARE(m->columnCount(), 5);
    const QStringList names = column(m, 0);
    QVERIFY(names.contains(QStringLiteral("select")));
    QVERIFY(names.contains(QStringLiteral("show_status")));
    for (const QString& n : names)
        QVERIFY2(!n.startsWith(QStringLiteral("Com_"), Qt::CaseInsensitive), qPrintable(n));

    const int sel = names.indexOf(QStringLiteral("show_status"));
    const qlonglong value = m->data(m->index(sel, 1)).toLongLong();
    QVERIFY(value > 0);
    QCOMPARE(m->data(m->index(sel, 1), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    // per hour and per second are shown with one decimal; the number is in the user role
    const QString perSecond = m->data(m->index(sel, 3)).toString();
    QVERIFY2(perSecond.contains(QRegularExpression(QStringLiteral("^[\\d,. ]+[.,]\\d$"))), qPrintable(perSecond));
    QVERIFY(m->data(m->index(sel, 2), Qt::UserRole).toDouble() >= m->data(m->index(sel, 3), Qt::UserRole).toDouble());

    // percentages are of the command total: they add up to about 100
    qlonglong total = 0;
    int percents = 0;
    for (int r = 0; r < m->rowCount(); ++r) {
        total += m->data(m->index(r, 1)).toLongLong();
        percents += m->data(m->index(r, 4)).toInt();
    }
    QVERIFY(total > 0);
    QVERIFY2(qAbs(percents - 100) <= m->rowCount() / 2 + 1, qPrintable(QString::number(percents)));
    QCOMPARE(m->data(m->index(sel, 4)).toInt(), int(qRound(double(value) / double(total) * 100.0)));

    // a second poll replaces the rows instead of adding to them
    const int rows = m->rowCount();
    proxy.updateStatistics();
    QCOMPARE(m->rowCount(), rows);
    proxy.stopProxy();
}

void TestStatisticsPoller::processListAndTopLists()
{
    REQUIRE_TESTDB(tdb);
    Settings settings;
    useTestServer(&settings, tdb);
    MngrSessions mngr(&settings);
    mngr.highlighter = [](const QString& text) { return QStringLiteral("<b>") + text.toHtmlEscaped() + QStringLiteral("</b>"); };
    ProxyServer proxy(&settings, &mngr, nullptr);
    {
        // a sleeping connection with a database, and one running a long statement
        QSqlDatabase own = openOwn(tdb, QStringLiteral("sleeper"));
        QVERIFY(own.isOpen());
        QSqlQuery q(own);
        QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*) FROM poll_t")));
        q.finish();
        QProcess runner;
        runner.start(QStringLiteral("mariadb"),
                     {QStringLiteral("--no-defaults"), QStringLiteral("-h"), tdb.host, QStringLiteral("-P"),
                      QString::number(tdb.port), QStringLiteral("-u") + tdb.user, QStringLiteral("-p") + tdb.password,
                      tdb.database, QStringLiteral("-e"), QStringLiteral("SELECT SLEEP(4) AS `x<y`")});
        QVERIFY(runner.waitForStarted());
        QSqlQuery probe(own);
        QTRY_VERIFY_WITH_TIMEOUT(
            probe.exec(QStringLiteral("SELECT 1 FROM information_schema.PROCESSLIST WHERE INFO LIKE 'SELECT SLEEP(4)%'"))
                && probe.next(),
            10000);
        probe.finish();

        proxy.startProxy();
        QVERIFY(proxy.isRunning());
        QStandardItemModel* pl = mngr.modelProcesses;
        QCOMPARE(pl->columnCount(), 7);
        const QStringList commands = column(pl, 4);
        const QStringList users = column(pl, 1);
        const QStringList dbs = column(pl, 3);
        const QStringList infos = column(pl, 6, Qt::UserRole);
        const QStringList shown = column(pl, 6);

        // our sleeping connection is listed, without a statement
        bool sleeper = false;
        for (int r = 0; r < pl->rowCount(); ++r)
            if (commands[r] == QLatin1String("Sleep") && users[r] == tdb.user && dbs[r] == tdb.database
                && infos[r].isEmpty())
                sleeper = true;
        QVERIFY2(sleeper, qPrintable(commands.join(QLatin1Char(','))));

        // the running statement, in the highlighted form, and counted as a top statement
        const int running = infos.indexOf(QStringLiteral("SELECT SLEEP(4) AS `x<y`"));
        QVERIFY2(running >= 0, qPrintable(infos.join(QLatin1Char('|'))));
        QCOMPARE(shown[running], QStringLiteral("<b>SELECT SLEEP(4) AS `x&lt;y`</b>"));
        QCOMPARE(pl->data(pl->index(running, 5), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
        QVERIFY(pl->data(pl->index(running, 0)).toLongLong() > 0);

        TopListModel* top = mngr.modelTopQueriesDb;
        QCOMPARE(top->countOf(QStringLiteral("SELECT SLEEP(4) AS `x<y`")), 1);
        // the poller's own SHOW FULL PROCESSLIST runs while it reads the list
        QCOMPARE(top->countOf(QStringLiteral("SHOW FULL PROCESSLIST")), 1);
        // sleeping connections are not counted
        QCOMPARE(top->countOf(QString()), 0);
        const int countedQueries = mngr.countTopQueriesDb;
        QVERIFY(countedQueries >= 2);
        for (const TopElementQuery& e : top->queryElements())
            if (e.text == QLatin1String("SELECT SLEEP(4) AS `x<y`")) {
                QCOMPARE(e.user, tdb.user);
                QCOMPARE(e.db, tdb.database);
            }

        // open tables: counted once per poll in which they are open
        QCOMPARE(mngr.modelTopTablesDb->countOf(QStringLiteral("poll_t")), 1);
        const int dbCount = mngr.modelTopDbDb->countOf(tdb.database);
        QVERIFY(dbCount >= 1);
        const int tablesCounted = mngr.countTopTablesDb;
        QVERIFY(tablesCounted >= 1);
        QCOMPARE(mngr.countTopDbDb, tablesCounted);
        proxy.updateStatistics();
        QCOMPARE(mngr.modelTopTablesDb->countOf(QStringLiteral("poll_t")), 2);
        QCOMPARE(mngr.modelTopDbDb->countOf(tdb.database), 2 * dbCount);

        QVERIFY(runner.waitForFinished(30000));
        proxy.stopProxy();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("sleeper"));
}

void TestStatisticsPoller::periodBelowOneSecondPollsEverySecond()
{
    REQUIRE_TESTDB(tdb);
    Settings settings;
    useTestServer(&settings, tdb);
    settings.currentProfile()->StatusPeriod = 0;
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    QSignalSpy stats(&proxy, &ProxyServer::updateStatSignal);
    proxy.startProxy();
    QVERIFY(proxy.isRunning());
    QTimer* timer = proxy.findChild<QTimer*>();
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 1000);
    // the timer polls, and rates are finite numbers
    QVERIFY(stats.wait(5000));
    for (double v : lastPoll(stats).params)
        QVERIFY(qIsFinite(v));
    proxy.stopProxy();
    QVERIFY(!timer->isActive());
}

void TestStatisticsPoller::recoveryAfterKill()
{
    REQUIRE_TESTDB(tdb);
    Settings settings;
    useTestServer(&settings, tdb);
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    proxy.startProxy();
    QVERIFY(proxy.isRunning());
    qlonglong before = 0;
    {
        QSqlQuery q(proxy.database());
        QVERIFY(q.exec(QStringLiteral("SELECT CONNECTION_ID()")) && q.next());
        before = q.value(0).toLongLong();
    }
    {
        QSqlDatabase own = openOwn(tdb, QStringLiteral("killer"));
        QSqlQuery k(own);
        QVERIFY2(k.exec(QStringLiteral("KILL %1").arg(before)), qPrintable(k.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("killer"));

    QList<bool> states;
    QObject::connect(&proxy, &ProxyServer::serverStateChanged, [&](bool s) { states << s; });
    QSignalSpy errors(&proxy, &ProxyServer::errorReported);
    QSignalSpy stops(&proxy, &ProxyServer::stopCaptureRequested);
    QSignalSpy stats(&proxy, &ProxyServer::updateStatSignal);
    proxy.updateStatistics(); // fails on the dead connection and reconnects
    QCOMPARE(states, (QList<bool>{false, true}));
    QCOMPARE(stats.count(), 0); // a failed poll emits nothing
    QCOMPARE(errors.count(), 0);
    QCOMPARE(stops.count(), 0);
    QVERIFY(proxy.dbIsOpen());
    QVERIFY(proxy.isRunning());
    QTimer* timer = proxy.findChild<QTimer*>();
    QVERIFY(timer && timer->isActive());

    // polling goes on, on a new connection
    proxy.updateStatistics();
    QCOMPARE(stats.count(), 1);
    QCOMPARE(lastPoll(stats).params.size(), 6);
    {
        QSqlQuery q(proxy.database());
        QVERIFY(q.exec(QStringLiteral("SELECT CONNECTION_ID()")) && q.next());
        QVERIFY(q.value(0).toLongLong() != before);
    }
    proxy.stopProxy();
}

void TestStatisticsPoller::recoveryThatFails()
{
    REQUIRE_TESTDB(tdb);
    Settings settings;
    useTestServer(&settings, tdb);
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    proxy.startProxy();
    QVERIFY(proxy.isRunning());
    qlonglong id = 0;
    {
        QSqlQuery q(proxy.database());
        QVERIFY(q.exec(QStringLiteral("SELECT CONNECTION_ID()")) && q.next());
        id = q.value(0).toLongLong();
    }
    {
        QSqlDatabase own = openOwn(tdb, QStringLiteral("killer2"));
        QSqlQuery k(own);
        QVERIFY(k.exec(QStringLiteral("KILL %1").arg(id)));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("killer2"));
    // meanwhile the profile names a server that is not there
    settings.currentProfile()->Port = freePort();

    QStringList events;
    QObject::connect(&proxy, &ProxyServer::serverStateChanged,
                     [&](bool s) { events << (s ? QStringLiteral("up") : QStringLiteral("down")); });
    QObject::connect(&proxy, &ProxyServer::errorReported,
                     [&](const QString& title, const QString& text) { events << title + QLatin1Char('|') + text; });
    QObject::connect(&proxy, &ProxyServer::stopCaptureRequested, [&]() { events << QStringLiteral("stop"); });
    QObject::connect(&proxy, &ProxyServer::profilesDialogRequested, [&]() { events << QStringLiteral("profiles"); });
    proxy.updateStatistics();
    QCOMPARE(events, (QStringList{QStringLiteral("down"), QStringLiteral("Error|no_translate"), QStringLiteral("stop"),
                                  QStringLiteral("profiles")}));
    QVERIFY(!proxy.dbIsOpen());
    // the window's stop follows
    proxy.stopProxy();
    QVERIFY(!proxy.isListening());

    // while not profiling, a failed recovery only opens the profiles dialog
    events.clear();
    proxy.recoveryConnect();
    QCOMPARE(events, (QStringList{QStringLiteral("Error|no_translate"), QStringLiteral("profiles")}));
}

QTEST_MAIN(TestStatisticsPoller)
#include "tst_statisticspoller.moc"
