// SQL editor tabs through the real main window: every way to open one, the
// question before a captured change runs, and a tab that outlives a capture
// start and a server restart and ends its statement with the window.
#include "EditorFixture.h"
#include "LiveFixture.h"
#include "SessionWidget.h"
#include "StatisticsPage.h"
#include "ui_StatisticsPage.h"

class TestEditorWindow : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        if (!(db = TestDb::load()).valid)
            QSKIP("the MariaDB test server fixture is not running");
        fx = std::make_unique<Live>();
        fx->useServer(db);
    }
    void cleanup() { fx.reset(); }

    void everyEntryOpensWorkingTab()
    {
        SessionData* session = fx->addSession();
        fx->addQueries(session, {"SELECT 'captured'"});   // recorded in database "shop", unknown to the server
        fx->flush();
        Ui::MainWindow* ui = fx->ui();
        QVERIFY(ui->btnExecute->isEnabled() && ui->btnExplay->isEnabled());
        SessionWidget* view = fx->win->sessionsPage()->openTab(session, 0, true, 0);
        QTableView* top = fx->win->statisticsPage()->form()->tableTopQueries;
        const QList<std::tuple<const char*, std::function<void()>, bool>> entries = {   // name, open, explain
            {"toolbar", [&] { ui->btnSql->click(); }, false},
            {"flow execute", [&] { ui->btnExecute->click(); }, false},
            {"flow explain", [&] { ui->btnExplay->click(); }, true},
            {"session execute", [&] { child<QPushButton>(view, "btnToSql")->click(); }, false},
            {"session explain", [&] { child<QPushButton>(view, "btnExplay")->click(); }, true},
            {"top list", [&] { emit top->doubleClicked(top->model()->index(0, 2)); }, false}};
        for (const auto& [name, open, explain] : entries) {
            const int before = fx->win->findChildren<SqlWidget*>().size();
            open();
            SqlWidget* tab = currentTab();
            QVERIFY2(tab && fx->win->findChildren<SqlWidget*>().size() == before + 1, name);
            QString statement = "SELECT 'captured'";
            if (name == QLatin1String("toolbar")) {   // an empty tab: typed and run
                QVERIFY(tab->form()->codeviewer->toPlainText().isEmpty() && waitConnected(tab));
                QCOMPARE(runText(tab, statement = "SELECT 'typed'"), SqlRunEnd::Completed);
            }
            QCOMPARE(lastLogRow(tab), "yes|" + QString(explain ? "EXPLAIN " : "") + statement + "|1");
            QCOMPARE(tabTitles(tab), QStringList{explain ? "Explain #1" : "Result #1"});
        }
    }

    void capturedChangeAsksBeforeRunning()
    {
        db.runClient("DROP TABLE IF EXISTS quarvel_test.asked");
        const QString count = "SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_NAME = 'asked'";
        fx->addQueries(fx->addSession(), {"CREATE TABLE quarvel_test.asked (i INT)"});
        fx->flush();
        // Declined: the statement waits in the tab, nothing reached the server.
        fx->ui()->btnExecute->click();
        SqlWidget* tab = currentTab();
        QVERIFY(tab && tab->form()->frameConfirm->isVisibleTo(tab) && !tab->isRunning());
        QCOMPARE(tab->form()->codeviewer->toPlainText(), QStringLiteral("CREATE TABLE quarvel_test.asked (i INT)"));
        tab->form()->btnConfirmCancel->click();
        QVERIFY(tab->form()->frameConfirm->isHidden() && waitConnected(tab));
        QCOMPARE(tab->form()->tableLog->rowCount(), 0);
        QCOMPARE(db.runClient(count).trimmed(), QStringLiteral("0"));
        // Confirmed: it runs once.
        fx->ui()->btnExecute->click();
        tab = currentTab();
        QVERIFY(tab->form()->frameConfirm->isVisibleTo(tab));
        tab->form()->btnConfirmRun->click();
        QCOMPARE(lastLogRow(tab), QStringLiteral("yes|CREATE TABLE quarvel_test.asked (i INT)|0"));
        QCOMPARE(db.runClient(count).trimmed(), QStringLiteral("1"));
    }

    void tabBeforeCaptureSurvivesStartAndRestart()
    {
        OwnTestDb server;   // restarted under the tab
        const TestDb& own = server.db;
        QVERIFY(own.valid);
        fx.reset();
        fx = std::make_unique<Live>(false);
        fx->useServer(own);
        ModalWatcher watcher(fx->win.get());
        ProxyServer* proxy = fx->attachProxy();
        fx->ui()->btnSql->click();
        SqlWidget* tab = currentTab();
        QVERIFY(waitConnected(tab));
        tab->setDbName("quarvel_test");
        QCOMPARE(runText(tab, "CREATE TABLE rt (i INT)"), SqlRunEnd::Completed);
        fx->ui()->startBtn->click();
        QTRY_VERIFY_WITH_TIMEOUT(fx->win->isCapturing() && proxy->isRunning(), 20000);
        QCOMPARE(runText(tab, "INSERT INTO rt VALUES (1)"), SqlRunEnd::Completed);

        // The server goes away under a running statement: that one fails and is
        // not sent again, the rest of the run is not sent at all.
        QSignalSpy done(tab, &SqlWidget::runFinished);
        QVERIFY(startRunning(tab, "INSERT INTO rt SELECT SLEEP(30); INSERT INTO rt VALUES (2)", own, "INSERT INTO rt SELECT%"));
        QVERIFY(server.restart() && done.wait(60000));
        QCOMPARE(done.first().first().value<SqlRunEnd>(), SqlRunEnd::Failed);
        QVERIFY(logRows(tab).last().startsWith("no|INSERT INTO rt SELECT SLEEP(30)|"));
        // The next run opens the connection again and sends its statement once.
        QCOMPARE(runText(tab, "INSERT INTO rt VALUES (3)"), SqlRunEnd::Completed);
        QCOMPARE(logRows(tab).last(), QStringLiteral("yes|INSERT INTO rt VALUES (3)|0"));
        QCOMPARE(own.runClient("SELECT GROUP_CONCAT(i ORDER BY i) FROM rt", {"quarvel_test"}).trimmed(), QString("1,3"));
        // The window closes under a running statement: the statement ends too.
        QVERIFY(startRunning(tab, "SELECT SLEEP(32)", own, "SELECT SLEEP(32)"));
        fx.reset();
        QCOMPARE(runningOn(own, "SELECT SLEEP(32)"), 0);
    }

private:
    SqlWidget* currentTab() const { return qobject_cast<SqlWidget*>(fx->ui()->tabWidget->currentWidget()); }
    /// The last log row of `tab` once its run (started or about to be) ended.
    QString lastLogRow(SqlWidget* tab)
    {
        const bool ended = QTest::qWaitFor([tab] { return !tab->isRunning() && tab->form()->tableLog->rowCount(); }, 60000);
        return ended ? logRows(tab).last() : "<no run>";
    }

    TestDb db;
    std::unique_ptr<Live> fx;
};

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
