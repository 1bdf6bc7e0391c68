// The live views with real traffic: a mariadb client talks to the test server
// through the profiler port of a running proxy, and its statements, its
// failed statement and its session appear in the flow, the session list and
// a session tab.

#include "LiveFixture.h"
#include "AppFixture.h"

#include "ProxyServer.h"
#include "SessionWidget.h"
#include "SortFilterProxyModel.h"
#include "StatisticsPage.h"
#include "TabWidget.h"
#include "TestDb.h"
#include "ui_StatisticsPage.h"

#include <QProcess>
#include <QTcpServer>

class TestLiveTraffic : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(fx.create(false)); }
    void cleanup()
    {
        if (fx.win && fx.win->isCapturing())
            fx.ui()->startBtn->click();
        proxy.reset();
        fx.destroy();
    }

    void clientStatementsReachFlowListAndTab();
    void failedLoginRowGreyAndCounted();

private:
    /// Starts capture through a proxy to the test server; false when it failed.
    bool startCapture(const TestDb& db);
    /// Runs the mariadb client through the profiler port with `sql` (errors
    /// do not stop it), keeping the event loop running; returns its exit code.
    int runClient(const TestDb& db, const QString& sql, const QString& password);

    LiveFixture fx;
    std::unique_ptr<ProxyServer> proxy;
    quint16 profilerPort = 0;
};

bool TestLiveTraffic::startCapture(const TestDb& db)
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return false;
    profilerPort = probe.serverPort();
    probe.close();
    Profile* p = fx.settings->profiles.at(0);
    p->Host = db.host;
    p->Port = db.port;
    p->User = db.user;
    p->Password = db.password;
    p->ProfilerPort = profilerPort;
    p->StatusPeriod = 1;
    proxy = std::make_unique<ProxyServer>(fx.settings.get(), fx.mngr.get(), fx.lang.get());
    connect(proxy.get(), &ProxyServer::updateStatSignal, fx.win.get(), &MainWindow::serverStatisticUpdate);
    connect(fx.win.get(), &MainWindow::startBtnPress, proxy.get(), &ProxyServer::startProxy);
    connect(fx.win.get(), &MainWindow::stopBtnPress, proxy.get(), &ProxyServer::stopProxy);
    fx.win->setProxy(proxy.get());
    ModalWatcher watcher(fx.win.get());
    fx.ui()->startBtn->click();
    return watcher.boxes.isEmpty() && fx.win->isCapturing();
}

int TestLiveTraffic::runClient(const TestDb& db, const QString& sql, const QString& password)
{
    QProcess client;
    client.start(QStringLiteral("mariadb"),
                 {QStringLiteral("--no-defaults"), QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                  QStringLiteral("-P"), QString::number(profilerPort), QStringLiteral("-u") + db.user,
                  QStringLiteral("-p") + password, QStringLiteral("--batch"), QStringLiteral("--force"),
                  QStringLiteral("--skip-ssl"), db.database});
    if (!client.waitForStarted(10000))
        return -1;
    client.write(sql.toUtf8());
    client.closeWriteChannel();
    // The proxy lives in this thread: keep its event loop going while the client runs.
    QElapsedTimer clock;
    clock.start();
    while (client.state() != QProcess::NotRunning && clock.elapsed() < 60000)
        QTest::qWait(20);
    if (client.state() != QProcess::NotRunning) {
        client.kill();
        client.waitForFinished();
        return -1;
    }
    return client.exitCode();
}

void TestLiveTraffic::clientStatementsReachFlowListAndTab()
{
    REQUIRE_TESTDB(db);
    QVERIFY(startCapture(db));
    const QStringList statements{QStringLiteral("SELECT 1 AS one"), QStringLiteral("SELECT 'two' AS two"),
                                 QStringLiteral("SELECT * FROM no_such_table_here"),
                                 QStringLiteral("SELECT 40 + 2")};
    const int code = runClient(db, statements.join(QStringLiteral(";\n")) + QLatin1Char(';'), db.password);
    QVERIFY(code >= 0);

    QTRY_COMPARE(fx.sessions()->rowCount(), 1);
    SessionData* data = fx.mngr->sessions.value(0);
    QVERIFY(data);
    QTRY_VERIFY(fx.flow()->rowCount() >= statements.size());
    QTRY_VERIFY(!fx.mngr->checkActiveSession(data->id));

    // Every statement of the session is in the flow, newest first, once.
    const QStringList shown = fx.flowStatements();
    QCOMPARE(shown.size(), data->queries.size());
    int previous = shown.size();
    for (const QString& s : statements) {
        const int at = shown.indexOf(s);
        QVERIFY2(at >= 0, qPrintable(s + QLatin1String(" not in ") + shown.join(QLatin1Char('|'))));
        QVERIFY(at < previous);
        previous = at;
    }
    const int failedRow = shown.indexOf(statements.at(2));
    QCOMPARE(fx.flowView()->index(failedRow, FlowModel::ColStatus).data().toString(), QStringLiteral("no"));
    QCOMPARE(fx.flowView()->index(shown.indexOf(statements.at(3)), FlowModel::ColStatus).data().toString(),
             QStringLiteral("yes"));
    QCOMPARE(fx.win->errorQueries, 1u);
    QCOMPARE(fx.win->queryCount, quint32(data->queries.size()));

    // The session's row: user, statement count, the error mark, the duration.
    QCOMPARE(fx.sessionCell(data->id, SessionsPage::ColUser), db.user);
    QCOMPARE(fx.sessionCell(data->id, SessionsPage::ColStatus), QStringLiteral("no"));
    QCOMPARE(fx.sessionCell(data->id, SessionsPage::ColQueries), QString::number(data->queries.size()));
    QTRY_COMPARE(fx.sessionCell(data->id, SessionsPage::ColElapsed),
                 data->duration.toString(QStringLiteral("hh:mm:ss.zzz")));
    QCOMPARE(fx.sessionCell(data->id, SessionsPage::ColDb), db.database);

    // Double click on the failed statement: the session's tab on that statement.
    QVERIFY(QMetaObject::invokeMethod(fx.ui()->flowTable, "doubleClicked",
                                      Q_ARG(QModelIndex, fx.flowView()->index(failedRow, 0))));
    auto* view = qobject_cast<SessionWidget*>(fx.ui()->tabWidget->currentWidget());
    QVERIFY(view);
    QCOMPARE(fx.ui()->tabWidget->tabText(fx.ui()->tabWidget->currentIndex()), SessionsPage::paddedId(data->id));
    QCOMPARE(view->queryModel()->rowCount(), data->queries.size());
    const int current = view->proxyModel()->mapToSource(view->tableQueries()->currentIndex()).row();
    QCOMPARE(data->queries.at(current)->text, statements.at(2));
}

void TestLiveTraffic::failedLoginRowGreyAndCounted()
{
    REQUIRE_TESTDB(db);
    QVERIFY(startCapture(db));
    QVERIFY(runClient(db, QStringLiteral("SELECT 1;"), QStringLiteral("not-the-password")) != 0);
    QTRY_COMPARE(fx.win->errorConnections, 1u);
    SessionData* data = fx.mngr->sessions.value(0);
    QVERIFY(data && !data->authenticated);
    const int r = fx.sessionRow(data->id);
    QVERIFY(r >= 0);
    QCOMPARE(fx.sessions()->item(r, SessionsPage::ColUser)->background().color(), QColor(QStringLiteral("#eeeeee")));
    QCOMPARE(fx.win->statisticsPage()->form()->erCon->text(), QStringLiteral("1"));
    QCOMPARE(fx.flow()->rowCount(), 0);
    // It cannot be opened.
    fx.ui()->tableSessions->selectRow(0);
    fx.ui()->openTabSBtn->click();
    QCOMPARE(fx.ui()->tabWidget->count(), 4);
}

QTEST_MAIN(TestLiveTraffic)
#include "tst_livetraffic.moc"
