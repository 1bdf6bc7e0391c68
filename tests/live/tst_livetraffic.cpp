// The live views with real traffic: a mariadb client talks to the test server
// through the profiler port of a running proxy, and its statements, its
// failed statement and its session appear in the flow, the session list and
// a session tab.

#include "LiveFixture.h"

#include "ProxyServer.h"
#include "SessionWidget.h"
#include "SortFilterProxyModel.h"
#include "TabWidget.h"
#include "TestDb.h"

class TestLiveTraffic : public QObject
{
    Q_OBJECT

private slots:
    void init() { fx = std::make_unique<Live>(false); }
    void cleanup()
    {
        if (fx->win && fx->win->isCapturing())
            fx->ui()->startBtn->click();
        fx.reset();
    }

    void clientStatementsReachFlowListAndTab();
    void failedLoginRowGreyAndCounted();

private:
    /// Starts capture through a proxy to the test server; false when it failed.
    bool startCapture(const TestDb& db);
    /// Runs the mariadb client through the profiler port with `sql` (errors
    /// do not stop it), keeping the event loop running; returns its exit code.
    int runClient(const TestDb& db, const QString& sql, const QString& password);

    std::unique_ptr<Live> fx;
    ProxyServer* proxy = nullptr;   ///< the fixture's
    quint16 profilerPort = 0;
};

bool TestLiveTraffic::startCapture(const TestDb& db)
{
    fx->useServer(db);
    fx->settings->currentProfile()->StatusPeriod = 1;
    profilerPort = quint16(fx->settings->currentProfile()->ProfilerPort);
    proxy = fx->attachProxy();
    ModalWatcher watcher(fx->win.get());
    fx->ui()->startBtn->click();
    return QTest::qWaitFor([this]() { return !proxy->isStarting(); }, 30000) && watcher.boxes.isEmpty()
           && fx->win->isCapturing() && proxy->isRunning();
}

int TestLiveTraffic::runClient(const TestDb& db, const QString& sql, const QString& password)
{
    QProcess client;
    client.start("mariadb", {"--no-defaults", "-h", "127.0.0.1", "-P", QString::number(profilerPort), "-u" + db.user,
                             "-p" + password, "--batch", "--force", "--skip-ssl", db.database});
    client.write(sql.toUtf8());
    client.closeWriteChannel();
    // The proxy lives in this thread: keep its event loop going while the client runs.
    for (int i = 0; i < 3000 && client.state() != QProcess::NotRunning; ++i)
        QTest::qWait(20);
    return client.state() == QProcess::NotRunning ? client.exitCode() : -1;
}

void TestLiveTraffic::clientStatementsReachFlowListAndTab()
{
    REQUIRE_TESTDB(db);
    QVERIFY(startCapture(db));
    const QStringList statements{"SELECT 1 AS one", "SELECT 'two' AS two", "SELECT * FROM no_such_table_here",
                                 "SELECT 40 + 2"};
    QVERIFY(runClient(db, statements.join(";\n") + ';', db.password) >= 0);

    QTRY_COMPARE(fx->sessions()->rowCount(), 1);
    SessionData* data = fx->mngr->sessions.value(0);
    QTRY_VERIFY(fx->flow()->rowCount() >= statements.size());
    QTRY_VERIFY(!fx->mngr->checkActiveSession(data->id));

    // Every statement of the session is in the flow, newest first, once.
    const QStringList shown = fx->flowStatements();
    QCOMPARE(shown.size(), data->queries.size());
    QStringList ours;
    for (const QString& s : shown)
        if (statements.contains(s))
            ours.prepend(s);
    QCOMPARE(ours, statements);
    const int failedRow = shown.indexOf(statements.at(2));
    const QStringList status = fx->flowColumn(FlowModel::ColStatus);
    QCOMPARE(status.at(failedRow), QStringLiteral("no"));
    QCOMPARE(status.at(shown.indexOf(statements.at(3))), QStringLiteral("yes"));
    QCOMPARE(fx->win->errorQueries, 1u);
    QCOMPARE(fx->win->queryCount, quint32(data->queries.size()));

    // The session's row: user, statement count, the error mark, the duration.
    QCOMPARE(fx->sessionCell(data->id, SessionsPage::ColUser), db.user);
    QCOMPARE(fx->sessionCell(data->id, SessionsPage::ColStatus), QStringLiteral("no"));
    QCOMPARE(fx->sessionCell(data->id, SessionsPage::ColQueries), QString::number(data->queries.size()));
    QTRY_COMPARE(fx->sessionCell(data->id, SessionsPage::ColElapsed),
                 data->duration.toString(QStringLiteral("hh:mm:ss.zzz")));
    QCOMPARE(fx->sessionCell(data->id, SessionsPage::ColDb), db.database);

    // Double click on the failed statement: the session's tab on that statement.
    QVERIFY(QMetaObject::invokeMethod(fx->ui()->flowTable, "doubleClicked",
                                      Q_ARG(QModelIndex, fx->flowView()->index(failedRow, 0))));
    auto* view = qobject_cast<SessionWidget*>(fx->ui()->tabWidget->currentWidget());
    QVERIFY(view);
    QCOMPARE(fx->ui()->tabWidget->tabText(fx->ui()->tabWidget->currentIndex()), SessionsPage::paddedId(data->id));
    QCOMPARE(view->queryModel()->rowCount(), data->queries.size());
    const int current = view->proxyModel()->mapToSource(view->tableQueries()->currentIndex()).row();
    QCOMPARE(data->queries.at(current)->text, statements.at(2));
}

void TestLiveTraffic::failedLoginRowGreyAndCounted()
{
    REQUIRE_TESTDB(db);
    QVERIFY(startCapture(db));
    QVERIFY(runClient(db, "SELECT 1;", "not-the-password") != 0);
    QTRY_COMPARE(fx->win->errorConnections, 1u);
    SessionData* data = fx->mngr->sessions.value(0);
    QVERIFY(data && !data->authenticated);
    QCOMPARE(fx->sessions()->item(fx->sessionRow(data->id), SessionsPage::ColUser)->background().color(),
             QColor(QStringLiteral("#eeeeee")));
    QCOMPARE(fx->flow()->rowCount(), 0);
    // It cannot be opened.
    fx->ui()->tableSessions->selectRow(0);
    fx->ui()->openTabSBtn->click();
    QCOMPARE(fx->ui()->tabWidget->count(), 4);
}

QTEST_MAIN(TestLiveTraffic)
#include "tst_livetraffic.moc"
