// The live views with real traffic: a mariadb client talks to the test server
// through the profiler port of a running proxy; its statements, the failed
// statement, the session, its patterns and a failed login appear in the flow,
// the session list, a session tab and the statistics page's top lists.

#include "LiveFixture.h"

#include "PatternTable.h"
#include "RunLive.h"
#include "SessionWidget.h"
#include "SortFilterProxyModel.h"
#include "StatisticsPage.h"
#include "ui_StatisticsPage.h"

namespace {
QString cell(QAbstractItemModel* m, int row, int column, int role = Qt::UserRole)
{
    return m->index(row, column).data(role).toString();
}
int rowOf(QAbstractItemModel* m, const QString& key)
{
    for (int r = 0; r < m->rowCount(); ++r)
        if (cell(m, r, PatternModel::ColKey) == key)
            return r;
    return -1;
}
const QString kSlow = "SELECT SLEEP(?), id FROM pat_slow WHERE id = ?", kFast = "SELECT id FROM pat_fast WHERE id = ?";
} // namespace

class TestLiveTraffic : public QObject
{
    Q_OBJECT

private slots:
    void clientsReachFlowListTabsAndPatterns()
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

        // Four statements, one failing; then three slow statements of one pattern, five fast ones of another.
        const QStringList statements{"SELECT 1 AS one", "SELECT 'two' AS two", "SELECT * FROM no_such_table_here",
                                     "SELECT 40 + 2"};
        const QString script =
            "CREATE TABLE IF NOT EXISTS pat_slow (id INT);\nCREATE TABLE IF NOT EXISTS pat_fast (id INT);\n"
            "INSERT INTO pat_fast VALUES (1),(2),(3);\nINSERT INTO pat_slow VALUES (1),(2),(3);\n"
            "SELECT SLEEP(0.1), id FROM pat_slow WHERE id = 1;\nSELECT SLEEP(0.12), id FROM pat_slow WHERE id = 2;\n"
            "SELECT sleep(0.1), id FROM pat_slow WHERE id = 3;\n"
            "SELECT id FROM pat_fast WHERE id = 1;\nSELECT id FROM pat_fast WHERE id = 2;\nSELECT id FROM pat_fast WHERE id = 3;\n"
            "SELECT id FROM pat_fast WHERE id = 4;\nSELECT id FROM pat_fast WHERE id = 'x';\n"
            "DROP TABLE pat_slow, pat_fast;\n";
        QVERIFY(runLive("mariadb", clientArgs(db, port, {"--force", db.database}),
                        (statements.join(";\n") + ";\n" + script).toUtf8()).exitCode >= 0);
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
        // Its own patterns, behind the button beside "Repeated queries".
        QStringList sessionKeys;
        watcher.onDialog = [&](QDialog* d) {
            QAbstractItemModel* m = d->findChild<QTableView*>(QStringLiteral("tablePatterns"))->model();
            for (int r = 0; r < m->rowCount(); ++r)
                sessionKeys << cell(m, r, PatternModel::ColKey);
            d->reject();
        };
        view->findChild<QPushButton*>(QStringLiteral("btnPatterns"))->click();
        QCOMPARE(watcher.dialogs, QStringList{"patternsDialog"});
        QCOMPARE(sessionKeys.size(), fx.mngr->statementPatterns.patterns.size());
        QCOMPARE(sessionKeys.value(0), kSlow);

        // The Patterns tab, once on screen, shows the patterns by total time, slowest first.
        StatisticsPage* page = fx.win->statisticsPage();
        fx.ui()->tabWidget->setCurrentIndex(0);
        fx.win->show();
        PatternTable* patterns = page->patternsTable();
        page->form()->tabsTop->setCurrentWidget(patterns);
        QAbstractItemModel* pview = patterns->view()->model();
        QCOMPARE(cell(pview, 0, PatternModel::ColKey), kSlow);
        QCOMPARE(cell(pview, 0, PatternModel::ColCount, Qt::DisplayRole), QStringLiteral("3"));
        QVERIFY(pview->index(0, PatternModel::ColTotal).data().toDouble() >= 320.0);
        for (int r = 1; r < pview->rowCount(); ++r)
            QVERIFY(pview->index(r - 1, PatternModel::ColTotal).data().toDouble()
                    >= pview->index(r, PatternModel::ColTotal).data().toDouble());
        QCOMPARE(cell(pview, rowOf(pview, kFast), PatternModel::ColCount, Qt::DisplayRole), QStringLiteral("5"));
        // The Tables tab: the tables the statements named, the slow one first.
        PatternTable* tables = page->tablesTable();
        page->form()->tabsTop->setCurrentWidget(tables);
        QAbstractItemModel* tview = tables->view()->model();
        QCOMPARE(cell(tview, 0, PatternModel::ColKey), QStringLiteral("pat_slow"));
        QCOMPARE(cell(tview, rowOf(tview, "pat_fast"), PatternModel::ColCount, Qt::DisplayRole),
                 QStringLiteral("7"));   // CREATE, INSERT, five SELECT
        // A double click opens the slowest statement of a pattern in an SQL tab.
        int tabs = fx.ui()->tabWidget->count();
        QVERIFY(QMetaObject::invokeMethod(patterns->view(), "doubleClicked",
                                          Q_ARG(QModelIndex, pview->index(pview->rowCount() - 1, 0))));
        QTRY_COMPARE(fx.ui()->tabWidget->count(), tabs + 1);

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
        tabs = fx.ui()->tabWidget->count();
        fx.ui()->tableSessions->selectRow(0);   // newest first
        QCOMPARE(fx.ui()->tableSessions->model()->index(0, 0).data().toString(), SessionsPage::paddedId(failed->id));
        fx.ui()->openTabSBtn->click();
        QCOMPARE(fx.ui()->tabWidget->count(), tabs);
    }
};

QTEST_MAIN(TestLiveTraffic)
#include "tst_livetraffic.moc"
