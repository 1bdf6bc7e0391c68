// An SQL editor tab against the real test server: what it sends, what it
// shows, stopping, and a window thread that goes on while the server works.
#include "AppFixture.h"
#include "DelayRelay.h"
#include "EditorFixture.h"
#include "ResponseExplainWidget.h"
#include "ResponseVExplainWidget.h"

class TestSqlWidget : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!(db = TestDb::load()).valid)
            QSKIP("the MariaDB test server fixture is not running");
        app = std::make_unique<App>();
        boxes = std::make_unique<ModalWatcher>(app->win.get());
        server("DROP TABLE IF EXISTS typed, prof_state, after_stop, ex; SET GLOBAL log_output = 'TABLE'; "
               "SET GLOBAL general_log = 'ON'");
    }
    void cleanupTestCase()
    {
        qDeleteAll(tabs);
        if (db.valid)
            server("SET GLOBAL general_log = 'OFF'; SET GLOBAL log_output = 'FILE'; TRUNCATE mysql.general_log");
        QVERIFY(SqlRunner::waitForAll(20000));
    }

    void statementsSentAsTyped()
    {
        SqlWidget* w = newTab({}, "quarvel_test");
        QCOMPARE(runText(w, "CREATE TABLE typed (id INT, s VARCHAR(100));\n"
                            "INSERT INTO typed VALUES (1, 'a  b\n  c;d'), (2, \"it's\\\";\");\nSELECT nope FROM typed;\n"
                            "SELECT id, s FROM typed ORDER BY id; SELECT COUNT(*) FROM typed;\n"
                            "SELECT CAST(0.25 AS DECIMAL(30,4)), 12345678901234567890.123456789"),
                 SqlRunEnd::Completed);
        QCOMPARE(logRows(w), (QStringList{"yes|CREATE TABLE typed (id INT, s VARCHAR(100))|0",
                                          "yes|INSERT INTO typed VALUES (1, 'a b c;d'), (2, \"it's\\\";\")|0",
                                          "no|SELECT nope FROM typed|0", "yes|SELECT id, s FROM typed ORDER BY id|2",
                                          "yes|SELECT COUNT(*) FROM typed|1",
                                          "yes|SELECT CAST(0.25 AS DECIMAL(30,4)), 12345678901234567890.123456789|1"}));
        QVERIFY(w->form()->tableLog->item(2, 2)->toolTip().contains("Unknown column 'nope'"));
        // Result tabs only for statements that return rows; decimals with every digit the server sent.
        QCOMPARE(tabTitles(w), (QStringList{"Result #1", "Result #2", "Result #3"}));
        const QAbstractItemModel* cells = w->form()->tabWidget->widget(2)->findChild<QTableView*>("table")->model();
        QCOMPARE(cells->index(0, 0).data().toString() + ' ' + cells->index(0, 1).data().toString(),
                 QStringLiteral("0.2500 12345678901234567890.123456789"));
        QCOMPARE(server("SELECT HEX(s) FROM typed ORDER BY id"),
                 QString(QByteArray("a  b\n  c;d").toHex().toUpper() + "\n" + QByteArray("it's\";").toHex().toUpper()));
        // The database, named before the tab knew the list, is used once before the statements.
        const QStringList sent = received("CREATE TABLE typed (id INT, s VARCHAR(100))");
        QCOMPARE(sent.size(), 7);
        QCOMPARE(sent.first(), QStringLiteral("USE `quarvel_test`"));

        // No database: nothing but the text, without ";" exactly as typed (highlighter off: it shows tabs as blanks).
        SqlWidget* none = newTab();
        none->form()->btnHighlight->click();
        const QString typed = "SELECT 'no-db'  AS a,\n\t DATABASE()   AS b";
        QCOMPARE(runText(none, typed), SqlRunEnd::Completed);
        QCOMPARE(received(typed), QStringList{typed});
    }

    void profile()
    {
        SqlWidget* w = newTab({}, "quarvel_test");
        // Profiling is off again on the tab's connection after success and failure.
        const auto profilingOff = [&] {
            server("DROP TABLE IF EXISTS prof_state");
            return runText(w, "CREATE TABLE prof_state AS SELECT @@profiling AS p") == SqlRunEnd::Completed
                   && server("SELECT p FROM prof_state") == "0";
        };
        // The server lists only the start of a long statement in SHOW PROFILES.
        QCOMPARE(runText(w, "SELECT '" + QString(380, 'x') + "' AS long_text, 1 + 1", "btnProfile"), SqlRunEnd::Completed);
        QCOMPARE(tabTitles(w), QStringList{"Profile #1"});
        QVERIFY(w->form()->tabWidget->widget(0)->findChild<QAbstractItemView*>("table")->model()->rowCount() > 3);
        QVERIFY(profilingOff());
        boxes->boxes.clear();
        QCOMPARE(runText(w, "SELECT * FROM no_such_table_here", "btnProfile"), SqlRunEnd::Failed);
        QTRY_COMPARE(boxes->boxes.size(), 1);
        QVERIFY(profilingOff());
    }

    void explainViews()
    {
        server("CREATE TABLE ex (id INT PRIMARY KEY, v INT); INSERT INTO ex VALUES (1, 1), (2, 2)");
        SqlWidget* w = newTab("SELECT * FROM ex WHERE v = 1; SELECT * FROM ex WHERE id = 1", "quarvel_test");
        Ui::SqlWidget* f = w->form();
        QCOMPARE(runAndWait(w, f->btnExplain), SqlRunEnd::Completed);
        QCOMPARE(tabTitles(w), (QStringList{"Explain #1", "Explain #2"}));
        QVERIFY(qobject_cast<ResponseExplainWidget*>(f->tabWidget->widget(0)));
        QCOMPARE(logRows(w).last(), QStringLiteral("yes|EXPLAIN SELECT * FROM ex WHERE id = 1|1"));
        // The server (MariaDB 10.11) offers JSON plans: the tab found out by itself.
        QVERIFY(f->btnVExplain->isEnabled());
        QCOMPARE(runAndWait(w, f->btnVExplain), SqlRunEnd::Completed);
        QVERIFY(tabTitles(w).size() == 2 && qobject_cast<ResponseVExplainWidget*>(f->tabWidget->widget(1)));
        QVERIFY(logRows(w).last().startsWith("yes|EXPLAIN FORMAT=JSON SELECT"));

        // The analyzer: one address per statement, from the environment's base.
        qputenv("QUARVEL_EXPLAIN_ANALYZER_URL", "http://127.0.0.1:9/base/");
        QDesktopServices::setUrlHandler("http", this, "openUrl");
        QCOMPARE(runAndWait(w, f->btnExplainMdb), SqlRunEnd::Completed);
        QDesktopServices::unsetUrlHandler("http");
        qunsetenv("QUARVEL_EXPLAIN_ANALYZER_URL");
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened.at(1).toString(QUrl::RemoveQuery), QStringLiteral("http://127.0.0.1:9/base/explain_analyzer/api/1/"));
        QVERIFY(QUrlQuery(opened.at(1)).queryItemValue("raw_explain", QUrl::FullyDecoded)
                    .contains("+\n|1|SIMPLE|ex|const|PRIMARY|PRIMARY|4|const|1|"));

        // A failing plan: the box, and the rest not asked for.
        boxes->boxes.clear();
        f->codeviewer->setPlainText("SELECT * FROM ex; SELECT nope FROM ex; SELECT 3");
        QCOMPARE(runAndWait(w, f->btnExplain), SqlRunEnd::Failed);
        QTRY_COMPARE(boxes->boxes.size(), 1);
        QCOMPARE(logRows(w).last(), QStringLiteral("no|EXPLAIN SELECT nope FROM ex|0"));
    }

    void stopAndCloseEndRunningStatement()
    {
        SqlWidget* w = newTab({}, "quarvel_test");
        Ui::SqlWidget* f = w->form();
        QSignalSpy done(w, &SqlWidget::runFinished);
        QVERIFY(startRunning(w, "SELECT SLEEP(30); CREATE TABLE after_stop (i INT)", db, "SELECT SLEEP(30)"));
        QVERIFY(!f->btnExecute->isEnabled() && !f->btnProfile->isEnabled() && !f->btnExplain->isEnabled());
        QVERIFY(f->btnStop->isEnabled() && f->lbRunning->text().startsWith("Running for"));
        f->btnStop->click();
        QVERIFY(done.wait(60000));
        QCOMPARE(done.first().first().value<SqlRunEnd>(), SqlRunEnd::Stopped);
        QCOMPARE(runningOn(db, "SELECT SLEEP(30)"), 0);
        QCOMPARE(logRows(w), QStringList{"no|Stopped by the user: SELECT SLEEP(30)|0"});
        QCOMPARE(server("SHOW TABLES LIKE 'after_stop'"), QString());
        QCOMPARE(runText(w, "SELECT 1"), SqlRunEnd::Completed);   // the connection still works
        // Closed while a statement runs: the statement ends too.
        QVERIFY(startRunning(w, "SELECT SLEEP(31)", db, "SELECT SLEEP(31)"));
        delete w;
        QVERIFY(SqlRunner::waitForAll(30000));
        QCOMPARE(runningOn(db, "SELECT SLEEP(31)"), 0);
    }

    void windowThreadGoesOnWhileServerHoldsAnswer()
    {
        DelayRelay relay(db.host, db.port, 0);
        SqlWidget* w = newTab("SELECT 1", {}, relay.port());
        relay.setPaused(true);
        // Posted before the click: runs only when the window's thread is free again.
        bool runningWhenTimerFired = false;
        QTimer::singleShot(0, w, [&] { runningWhenTimerFired = w->isRunning(); });
        QSignalSpy done(w, &SqlWidget::runFinished);
        w->form()->btnExecute->click();
        QTRY_VERIFY(runningWhenTimerFired);
        const QString shown = w->form()->lbRunning->text();   // the clock goes on while the answer is held
        QTRY_VERIFY(w->form()->lbRunning->text() != shown);
        QVERIFY(w->isRunning() && done.isEmpty());
        relay.setPaused(false);
        QVERIFY(done.wait(30000));
        QCOMPARE(logRows(w), QStringList{"yes|SELECT 1|1"});
    }

    void longScriptBoundsResultTabs()
    {
        QString script;
        for (int i = 0; i < 10000; ++i)
            script += QStringLiteral("%1 %2;\n").arg(i % 2 ? "DO" : "SELECT").arg(i);
        SqlWidget* w = newTab();
        QCOMPARE(runText(w, script), SqlRunEnd::Completed);
        const QStringList log = logRows(w);
        QCOMPARE(log.size(), 10000);
        QCOMPARE(log.first() + ' ' + log.last(), QStringLiteral("yes|SELECT 0|1 yes|DO 9999|0"));
        QCOMPARE(w->form()->tabWidget->count(), SqlWidget::maxResultTabs);
    }

    void cursorMovesDoNotMeasureText()
    {
        SqlWidget* w = newTab("SELECT 1\nFROM dual");
        Ui::SqlWidget* f = w->form();
        QTRY_COMPARE(f->lbSize->text(), QStringLiteral("Size: 18B"));
        const int measured = w->sizeUpdates();
        QTextCursor c = f->codeviewer->textCursor();
        for (int i = 0; i <= 200; ++i) {
            c.setPosition(i < 200 ? i % 18 : 13);
            f->codeviewer->setTextCursor(c);
        }
        QCOMPARE(f->lbLines->text(), QStringLiteral("2:4"));
        QCOMPARE(w->sizeUpdates(), measured);
        // Typing updates the size, counted in UTF-8 bytes (1 + 2 + 3 + 4 more).
        f->codeviewer->insertPlainText(QStringLiteral(" \u00e4\u20ac") + QString::fromUcs4(U"\U0001F600"));
        QTRY_COMPARE(f->lbSize->text(), QStringLiteral("Size: 28B"));
    }

public slots:
    void openUrl(const QUrl& url) { opened << url; }   // nothing leaves the machine

private:
    /// A connected tab holding `text`, using `database` (named before the tab knows the list) unless empty.
    SqlWidget* newTab(const QString& text = QString(), const QString& database = QString(), quint16 port = 0)
    {
        auto* w = new SqlWidget(tabs.size() + 1, paramsFor(db, port), text, nullptr, app->lang.get());
        tabs << w;
        if (!database.isEmpty())
            w->setDbName(database);
        if (!waitConnected(w) || w->form()->cbxDb->currentText() != (database.isEmpty() ? "..." : database))
            qFatal("the tab did not connect to its database");
        return w;
    }
    QString server(const QString& sql) { return db.runClient(sql, {"quarvel_test"}).trimmed(); }
    /// Statements the server received from the connection that sent `marker`, without the
    /// driver's and the tab's own questions (character set, connection id, version, databases).
    QStringList received(const QString& marker)
    {
        static const QRegularExpression own(
            "^(SET NAMES utf8mb[34]|SELECT CONNECTION_ID\\(\\)(, VERSION\\(\\))?|SHOW DATABASES)$");
        QStringList out;
        for (const QString& hex : server(QStringLiteral("SELECT HEX(argument) FROM mysql.general_log WHERE "
                                                        "command_type = 'Query' AND thread_id = (SELECT MAX(thread_id) "
                                                        "FROM mysql.general_log WHERE argument = X'%1')")
                                             .arg(QString::fromLatin1(marker.toUtf8().toHex())))
                                      .split('\n', Qt::SkipEmptyParts)) {
            const QString text = QString::fromUtf8(QByteArray::fromHex(hex.toLatin1()));
            if (!own.match(text).hasMatch())
                out << text;
        }
        return out;
    }

    TestDb db;
    std::unique_ptr<App> app;
    std::unique_ptr<ModalWatcher> boxes;
    QList<QPointer<SqlWidget>> tabs;
    QList<QUrl> opened;
};

QTEST_MAIN(TestSqlWidget)
#include "tst_sqlwidget.moc"
