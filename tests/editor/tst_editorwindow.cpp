// SQL editor tabs through the real main window: every way to open one, the
// question before a captured change runs, and a tab that outlives a capture
// start and a server restart and ends its statement with the window.
#include "EditorFixture.h"
#include "LiveFixture.h"
#include "ProxyServer.h"
#include "SessionWidget.h"
#include "StatisticsPage.h"
#include "ui_StatisticsPage.h"

#include <functional>

class TestEditorWindow : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        db = TestDb::load();
        if (!db.valid)
            QSKIP("the MariaDB test server fixture is not running");
        fx = std::make_unique<Live>();
        fx->useServer(db);
    }

    void cleanup() { fx.reset(); }

    void everyEntryOpensWorkingTab()
    {
        SessionData* session = fx->addSession();
        fx->addQueries(session, {"SELECT 'captured'"}); // recorded in database "shop", unknown to the server
        fx->flush();
        Ui::MainWindow* ui = fx->ui();
        QVERIFY(ui->btnExecute->isEnabled() && ui->btnExplay->isEnabled());
        SessionWidget* view = fx->win->sessionsPage()->openTab(session, 0, true, 0);
        QVERIFY(view);
        QTableView* top = fx->win->statisticsPage()->form()->tableTopQueries;

        struct Entry
        {
            const char* name;
            std::function<void()> open;
            QString logRow;
            QStringList tabs;
        };
        const QList<Entry> entries = {
            {"toolbar", [&] { ui->btnSql->click(); }, "yes|SELECT 'typed'|1", {"Result #1"}},
            {"flow execute", [&] { ui->btnExecute->click(); }, "yes|SELECT 'captured'|1", {"Result #1"}},
            {"flow explain", [&] { ui->btnExplay->click(); }, "yes|EXPLAIN SELECT 'captured'|1", {"Explain #1"}},
            {"session execute", [&] { child<QPushButton>(view, "btnToSql")->click(); }, "yes|SELECT 'captured'|1", {"Result #1"}},
            {"session explain", [&] { child<QPushButton>(view, "btnExplay")->click(); }, "yes|EXPLAIN SELECT 'captured'|1",
             {"Explain #1"}},
            {"top list", [&] { QMetaObject::invokeMethod(top, "doubleClicked", Q_ARG(QModelIndex, top->model()->index(0, 2))); },
             "yes|SELECT 'captured'|1", {"Result #1"}},
        };
        for (const Entry& e : entries) {
            const int before = sqlTabs().size();
            e.open();
            SqlWidget* tab = currentTab();
            QVERIFY2(tab && sqlTabs().size() == before + 1, e.name);
            if (QLatin1String(e.name) == QLatin1String("toolbar")) {
                QVERIFY(tab->form()->codeviewer->toPlainText().isEmpty());
                QVERIFY(waitConnected(tab));
                QCOMPARE(runText(tab, "SELECT 'typed'"), SqlRunEnd::Completed);
            }
            QVERIFY2(lastLogRow(tab) == e.logRow, qPrintable(QString(e.name) + ": " + lastLogRow(tab)));
            QCOMPARE(tabTitles(tab), e.tabs);
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
        QVERIFY(tab->form()->frameConfirm->isHidden());
        QVERIFY(waitConnected(tab));
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
        // A server of the test's own: it is restarted under the tab.
        OwnTestDb server;
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
        QVERIFY(fx->win->isCapturing());
        QTRY_VERIFY_WITH_TIMEOUT(proxy->isRunning(), 20000);
        QCOMPARE(runText(tab, "INSERT INTO rt VALUES (1)"), SqlRunEnd::Completed);

        // The server goes away under a running statement: that one fails and is
        // not sent again, the rest of the run is not sent at all.
        QSignalSpy done(tab, &SqlWidget::runFinished);
        QVERIFY(startRunning(tab, "INSERT INTO rt SELECT SLEEP(30); INSERT INTO rt VALUES (2)", own, "INSERT INTO rt SELECT%"));
        QVERIFY(server.restart());
        QVERIFY(done.wait(60000));
        QCOMPARE(done.first().first().value<SqlRunEnd>(), SqlRunEnd::Failed);
        QVERIFY(logRows(tab).last().startsWith("no|INSERT INTO rt SELECT SLEEP(30)|"));

        // The next run opens the connection again and sends its statement once.
        QCOMPARE(runText(tab, "INSERT INTO rt VALUES (3)"), SqlRunEnd::Completed);
        QCOMPARE(logRows(tab).last(), QStringLiteral("yes|INSERT INTO rt VALUES (3)|0"));
        QCOMPARE(own.runClient("SELECT GROUP_CONCAT(i ORDER BY i) FROM rt", {"quarvel_test"}).trimmed(),
                 QStringLiteral("1,3"));

        // The window closes under a running statement: the statement ends too.
        QVERIFY(startRunning(tab, "SELECT SLEEP(32)", own, "SELECT SLEEP(32)"));
        fx.reset();
        QCOMPARE(runningOn(own, "SELECT SLEEP(32)"), 0);
    }

private:
    SqlWidget* currentTab() const { return qobject_cast<SqlWidget*>(fx->ui()->tabWidget->currentWidget()); }
    QList<SqlWidget*> sqlTabs() const { return fx->win->findChildren<SqlWidget*>(); }
    /// The last log row of `tab` once its run (started or about to be) ended.
    QString lastLogRow(SqlWidget* tab)
    {
        if (!QTest::qWaitFor([tab] { return !tab->isRunning() && tab->form()->tableLog->rowCount() > 0; }, 60000))
            return "<no run>";
        return logRows(tab).last();
    }

    TestDb db;
    std::unique_ptr<Live> fx;
};

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
