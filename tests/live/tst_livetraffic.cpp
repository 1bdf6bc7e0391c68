// The live views with real traffic: mariadb clients talk to the test server
// through the profiler port of a running proxy; their statements, the failed
// statement, the session and a failed login appear in the flow, the session
// list and a session tab.

#include "LiveFixture.h"

#include "RunLive.h"
#include "SessionWidget.h"
#include "SortFilterProxyModel.h"

class TestLiveTraffic : public QObject
{
    Q_OBJECT

private slots:
    void clientsReachFlowListAndTab()
    {
        REQUIRE_TESTDB(db);
        Live fx(false);
        fx.useServer(db);
        fx.settings->currentProfile()->StatusPeriod = 1;
        const auto port = quint16(fx.settings->currentProfile()->ProfilerPort);
        ProxyServer* proxy = fx.attachProxy();
        ModalWatcher watcher(fx.win.get());
        fx.ui()->startBtn->click();
        QVERIFY(QTest::qWaitFor([proxy]() { return !proxy->isStarting(); }, 30000));
        QVERIFY(watcher.boxes.isEmpty() && fx.win->isCapturing() && proxy->isRunning());

        const QStringList statements{"SELECT 1 AS one", "SELECT 'two' AS two", "SELECT * FROM no_such_table_here",
                                     "SELECT 40 + 2"};
        QVERIFY(runLive("mariadb", clientArgs(db, port, {"--force", db.database}), (statements.join(";\n") + ';').toUtf8())
                    .exitCode >= 0);
        QTRY_COMPARE(fx.sessions()->rowCount(), 1);
        SessionData* data = fx.mngr->sessions.value(0);
        QTRY_VERIFY(!fx.mngr->checkActiveSession(data->id));
        fx.flush();

        // Every statement of the session is in the flow, newest first, once.
        const QStringList shown = fx.flowStatements();
        QCOMPARE(shown.size(), data->queries.size());
        QStringList ours;
        for (const QString& s : shown)
            if (statements.contains(s))
                ours.prepend(s);
        QCOMPARE(ours, statements);
        const int failedRow = shown.indexOf(statements.at(2));
        const QStringList status = fx.flowColumn(FlowModel::ColStatus);
        QCOMPARE(status.at(failedRow) + status.at(shown.indexOf(statements.at(3))), QStringLiteral("noyes"));
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
        QCOMPARE(view->queryModel()->rowCount(), data->queries.size());
        const int current = view->proxyModel()->mapToSource(view->tableQueries()->currentIndex()).row();
        QCOMPARE(data->queries.text(current), statements.at(2));

        // A failed login: a grey row that is counted, shows no statement and opens nothing.
        TestDb wrong = db;
        wrong.password = "not-the-password";
        QVERIFY(runLive("mariadb", clientArgs(wrong, port, {"-e", "SELECT 1"})).exitCode != 0);
        QTRY_COMPARE(fx.win->errorConnections, 1u);
        SessionData* failed = fx.mngr->sessions.value(1);
        QVERIFY(failed && !failed->authenticated);
        QCOMPARE(fx.sessions()->item(fx.sessionRow(failed->id), SessionsPage::ColUser)->background().color(),
                 QColor(QStringLiteral("#eeeeee")));
        fx.flush();
        QCOMPARE(fx.flow()->rowCount(), shown.size());
        const int tabs = fx.ui()->tabWidget->count();
        fx.ui()->tableSessions->selectRow(0);   // newest first
        QCOMPARE(fx.ui()->tableSessions->model()->index(0, 0).data().toString(), SessionsPage::paddedId(failed->id));
        fx.ui()->openTabSBtn->click();
        QCOMPARE(fx.ui()->tabWidget->count(), tabs);
    }
};

QTEST_MAIN(TestLiveTraffic)
#include "tst_livetraffic.moc"
