// The live query flow: bounded rows newest first, what a row shows, the code
// viewer, error marking, filter and export of the visible rows, and the
// lower limits of the settings dialog.

#include "LiveFixture.h"
#include "AppFixture.h"

#include "CodeEditor.h"
#include "SortFilterProxyModel.h"
#include "StatisticsPage.h"
#include "ui_StatisticsPage.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextStream>

class TestLiveFlow : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(fx.create()); }
    void cleanup() { fx.destroy(); }

    void limitDropsOldest();
    void oversizedBatchKeepsNewest();
    void rowsQueuedUntilTick();
    void rowContents();
    void highlightOnlyWhenShown();
    void errorsMarkSessionAndCount();
    void viewerFollowsSelection();
    void filterModesOnFlowRows();
    void exportWritesVisibleRowsInViewOrder();
    void settingsLowerLimitsTrim();
    void topQueryDoubleClickAsksForSqlTab();

private:
    /// Runs the filter dialog through the filter button choosing `radio` and `keyword`.
    void chooseFilter(const char* radio, const QString& keyword);

    LiveFixture fx;
};

void TestLiveFlow::limitDropsOldest()
{
    fx.settings->MaxLinesFlow = 3;
    SessionData* s = fx.addSession();
    for (int i = 1; i <= 3; ++i) {
        fx.addQueries(s, {QStringLiteral("SELECT %1").arg(i)});
        fx.flush();
    }
    QCOMPARE(fx.flowStatements(), (QStringList{"SELECT 3", "SELECT 2", "SELECT 1"}));

    fx.addQueries(s, {QStringLiteral("SELECT 4")});
    fx.flush();
    QCOMPARE(fx.flow()->rowCount(), 3);
    QCOMPARE(fx.flowStatements(), (QStringList{"SELECT 4", "SELECT 3", "SELECT 2"}));
    QCOMPARE(fx.flowColumn(FlowModel::ColNumber), (QStringList{"4", "3", "2"}));
    // The oldest row of the model is the second statement now.
    QCOMPARE(fx.flow()->row(0).text, QStringLiteral("SELECT 2"));
}

void TestLiveFlow::oversizedBatchKeepsNewest()
{
    fx.settings->MaxLinesFlow = 3;
    SessionData* s = fx.addSession();
    fx.addQueries(s, {"SELECT 1", "SELECT 2"});
    fx.flush();
    QSignalSpy inserted(fx.flow(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(fx.flow(), &QAbstractItemModel::rowsRemoved);
    fx.addQueries(s, {"SELECT 3", "SELECT 4", "SELECT 5", "SELECT 6", "SELECT 7"});
    fx.flush();
    QCOMPARE(fx.flowStatements(), (QStringList{"SELECT 7", "SELECT 6", "SELECT 5"}));
    QCOMPARE(fx.flowColumn(FlowModel::ColNumber), (QStringList{"7", "6", "5"}));
    // One removal of the old rows and one insertion for the whole batch.
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(fx.win->queryCount, 7u);
}

void TestLiveFlow::rowsQueuedUntilTick()
{
    SessionData* s = fx.addSession();
    fx.addQueries(s, {"SELECT 1", "SELECT 2"});
    // Counted at once, shown by the next tick.
    QCOMPARE(fx.win->queryCount, 2u);
    QCOMPARE(fx.win->statisticsPage()->form()->queries->text(), QStringLiteral("2"));
    QCOMPARE(fx.flow()->rowCount(), 0);
    QCOMPARE(fx.win->flowPage()->pendingCount(), 2);
    QVERIFY(!fx.ui()->btnFilter->isEnabled());
    QTRY_COMPARE(fx.flow()->rowCount(), 2);
    QCOMPARE(fx.win->flowPage()->pendingCount(), 0);
    QVERIFY(fx.ui()->btnFilter->isEnabled());
    QVERIFY(fx.ui()->btnExport->isEnabled());

    // While stopped nothing reaches the flow.
    fx.ui()->startBtn->click();
    fx.addQueries(s, {"SELECT 3"});
    fx.flush();
    QCOMPARE(fx.flow()->rowCount(), 2);
}

void TestLiveFlow::rowContents()
{
    fx.mngr->lastId = 11;
    SessionData* s = fx.addSession();
    QCOMPARE(s->id, 12ul);
    fx.addQueries(s, {QStringLiteral("  SELECT *\n FROM t  \n")}, 1.23456, 42);
    fx.addQueries(s, {QStringLiteral("!SELEC oops")}, 0.0004, 0);
    fx.flush();
    QAbstractItemModel* v = fx.flowView();
    QCOMPARE(v->rowCount(), 2);
    // Newest first: the failed statement on top.
    QCOMPARE(v->index(0, FlowModel::ColStatus).data().toString(), QStringLiteral("no"));
    QCOMPARE(v->index(1, FlowModel::ColStatus).data().toString(), QStringLiteral("yes"));
    QCOMPARE(v->index(1, FlowModel::ColSession).data().toString(), QStringLiteral("0000012"));
    QCOMPARE(v->index(1, FlowModel::ColQuery).data(Qt::UserRole).toString(), QStringLiteral("SELECT *\n FROM t"));
    QCOMPARE(v->index(1, FlowModel::ColTimeMs).data().toDouble(), 1.235);
    QCOMPARE(v->index(0, FlowModel::ColTimeMs).data().toDouble(), 0.0);
    QCOMPARE(v->index(1, FlowModel::ColKb).data().toDouble(), 0.5);
    QCOMPARE(v->index(1, FlowModel::ColRows).data().toInt(), 42);
    QCOMPARE(v->index(1, FlowModel::ColRows).data(Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignRight | Qt::AlignVCenter));
    QCOMPARE(v->index(1, FlowModel::ColPosition).data().toInt(), 0);
    QCOMPARE(v->index(0, FlowModel::ColPosition).data().toInt(), 1);
    QCOMPARE(v->index(1, FlowModel::ColFinished).data().toDateTime(), s->queries.at(0)->finishedAt);
    QVERIFY(fx.ui()->flowTable->isColumnHidden(FlowModel::ColFinished));
    QVERIFY(fx.ui()->flowTable->isColumnHidden(FlowModel::ColPosition));
    QVERIFY(!fx.ui()->flowTable->isColumnHidden(FlowModel::ColRows));
    QCOMPARE(v->headerData(FlowModel::ColQuery, Qt::Horizontal).toString(),
             fx.lang->flow(QStringLiteral("query_col")));
    QCOMPARE(v->headerData(FlowModel::ColSession, Qt::Horizontal).toString(),
             fx.lang->flow(QStringLiteral("session_col")));
}

void TestLiveFlow::highlightOnlyWhenShown()
{
    int calls = 0;
    fx.flow()->setHighlighter([&calls](const QString& t) {
        ++calls;
        return QStringLiteral("<b>%1</b>").arg(t.toHtmlEscaped());
    });
    SessionData* s = fx.addSession();
    QStringList many;
    for (int i = 0; i < 50; ++i)
        many << QStringLiteral("SELECT %1 < 2").arg(i);
    fx.addQueries(s, many);
    fx.flush();
    // Nothing is on screen: no statement was highlighted.
    QCOMPARE(calls, 0);
    QCOMPARE(fx.flow()->highlightedCount(), 0);

    const QModelIndex top = fx.flowView()->index(0, FlowModel::ColQuery);
    QCOMPARE(top.data().toString(), QStringLiteral("<b>SELECT 49 &lt; 2</b>"));
    QCOMPARE(top.data().toString(), QStringLiteral("<b>SELECT 49 &lt; 2</b>"));
    QCOMPARE(calls, 1);
    QCOMPARE(fx.flow()->highlightedCount(), 1);

    // Painted rows only: showing the window highlights what fits, not all 50.
    fx.win->resize(1000, 700);
    fx.win->show();
    fx.ui()->tabWidget->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(fx.win.get()));
    QTRY_VERIFY(calls > 1);
    QVERIFY2(calls < 50, qPrintable(QString::number(calls)));
}

void TestLiveFlow::errorsMarkSessionAndCount()
{
    SessionData* clean = fx.addSession();
    SessionData* failing = fx.addSession();
    fx.addQueries(clean, {"SELECT 1"});
    fx.addQueries(failing, {"SELECT 1"});
    QCOMPARE(fx.sessionCell(failing->id, SessionsPage::ColStatus), QStringLiteral("yes"));

    fx.addQueries(failing, {"!SELEC 1", "SELECT 2"});
    QCOMPARE(fx.sessionCell(failing->id, SessionsPage::ColStatus), QStringLiteral("no"));
    QCOMPARE(fx.sessionCell(clean->id, SessionsPage::ColStatus), QStringLiteral("yes"));
    QCOMPARE(fx.win->errorQueries, 1u);
    QCOMPARE(fx.win->statisticsPage()->form()->erQueries->text(), QStringLiteral("1"));

    // Later statements, failed or not, leave it at "no"; each error counts.
    fx.addQueries(failing, {"SELECT 3", "!DROP x"});
    QCOMPARE(fx.sessionCell(failing->id, SessionsPage::ColStatus), QStringLiteral("no"));
    QCOMPARE(fx.win->errorQueries, 2u);
    // The session's row follows its totals.
    QCOMPARE(fx.sessionCell(failing->id, SessionsPage::ColQueries), QStringLiteral("5"));
    QCOMPARE(fx.sessionCell(failing->id, SessionsPage::ColRows), QStringLiteral("10"));
    QCOMPARE(fx.sessionCell(failing->id, SessionsPage::ColReceived),
             QLocale::system().toString(2.5, 'f', 3));
}

void TestLiveFlow::viewerFollowsSelection()
{
    fx.mngr->maxSessions = 1;
    SessionData* first = fx.addSession();
    fx.addQueries(first, {QStringLiteral("SELECT a\n  FROM t1"), QStringLiteral("SELECT b FROM t2")});
    fx.flush();
    CodeEditor* viewer = fx.ui()->queryViewer;
    // The newest statement, as sent (not trimmed to one line).
    QCOMPARE(viewer->toPlainText(), QStringLiteral("SELECT b FROM t2"));
    QTableView* table = fx.ui()->flowTable;
    table->selectionModel()->setCurrentIndex(fx.flowView()->index(1, 0),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QCOMPARE(viewer->toPlainText(), QStringLiteral("SELECT a\n  FROM t1"));

    // A second session pushes the first out of the manager: its rows stay,
    // selecting one shows nothing.
    SessionData* second = fx.addSession();
    fx.addQueries(second, {QStringLiteral("SELECT c")});
    fx.flush();
    QCOMPARE(viewer->toPlainText(), QStringLiteral("SELECT c"));
    QCOMPARE(fx.flow()->rowCount(), 3);
    table->selectionModel()->setCurrentIndex(fx.flowView()->index(2, 0),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QVERIFY(viewer->toPlainText().isEmpty());

    // Copy puts the shown statement on the clipboard.
    table->selectionModel()->setCurrentIndex(fx.flowView()->index(0, 0),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    fx.ui()->btnCopy->click();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("SELECT c"));
}

void TestLiveFlow::chooseFilter(const char* radio, const QString& keyword)
{
    ModalWatcher watcher(fx.win.get());
    const QString name = QLatin1String(radio);
    watcher.onDialog = [name, keyword](QDialog* d) {
        d->findChild<QRadioButton*>(name)->setChecked(true);
        d->findChild<QLineEdit*>(QStringLiteral("lineEdit"))->setText(keyword);
        d->accept();
    };
    fx.ui()->btnFilter->click();
    QCOMPARE(watcher.dialogs, QStringList{QStringLiteral("FilterDialog")});
}

void TestLiveFlow::filterModesOnFlowRows()
{
    SessionData* s = fx.addSession();
    fx.addQueries(s, {"SELECT * FROM users", "INSERT INTO users VALUES (1)", "UPDATE orders SET x = 1",
                      "!SELECT * FROM missing", "SHOW TABLES", "CREATE TABLE z (a INT)"});
    fx.flush();
    QVERIFY(fx.ui()->btnFilter->isEnabled());

    chooseFilter("rbWrite", QString());
    QVERIFY(fx.ui()->btnFilter->isChecked());
    QCOMPARE(fx.flowStatements(),
             (QStringList{"CREATE TABLE z (a INT)", "UPDATE orders SET x = 1", "INSERT INTO users VALUES (1)"}));
    fx.ui()->btnFilter->click(); // unchecked: every row again
    QCOMPARE(fx.flow()->rowCount(), fx.flowView()->rowCount());

    chooseFilter("rbRead", QStringLiteral("USERS"));
    QCOMPARE(fx.flowStatements(), (QStringList{"SELECT * FROM users"}));
    fx.ui()->btnFilter->click();

    chooseFilter("rbError", QString());
    QCOMPARE(fx.flowStatements(), (QStringList{"SELECT * FROM missing"}));
    // New rows pass the same filter as they arrive.
    fx.addQueries(s, {"SELECT 7", "!BROKEN 8"});
    fx.flush();
    QCOMPARE(fx.flowStatements(), (QStringList{"BROKEN 8", "SELECT * FROM missing"}));
    fx.ui()->btnFilter->click();
    QCOMPARE(fx.flowView()->rowCount(), 8);

    // Rejected dialog: the button does not stay checked, nothing filtered.
    ModalWatcher watcher(fx.win.get());
    watcher.onDialog = [](QDialog* d) { d->reject(); };
    fx.ui()->btnFilter->click();
    QVERIFY(!fx.ui()->btnFilter->isChecked());
    QCOMPARE(fx.flowView()->rowCount(), 8);
    // The last choice is offered again.
    QCOMPARE(fx.win->flowPage()->filterMode, int(SortFilterProxyModel::ModeErrors));
}

void TestLiveFlow::exportWritesVisibleRowsInViewOrder()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());

    SessionData* s = fx.addSession();
    fx.addQueries(s, {QStringLiteral("SELECT 'a\"b'")}, 0.0004, 1);
    fx.addQueries(s, {QStringLiteral("INSERT INTO t VALUES (2)")}, 12.7, 0);
    fx.addQueries(s, {QStringLiteral("SELECT 3")}, 2.0, 3);
    fx.flush();
    chooseFilter("rbRead", QString());

    ModalWatcher watcher(fx.win.get());
    watcher.onDialog = [](QDialog* d) {
        d->findChild<QRadioButton*>(QStringLiteral("rbCsv"))->setChecked(true);
        d->findChild<QPushButton*>(QStringLiteral("pbExport"))->click();
    };
    fx.ui()->btnExport->click();
    qputenv("HOME", oldHome);
    QCOMPARE(watcher.dialogs, QStringList{QStringLiteral("ExportDialog")});

    QFile file(home.filePath(QStringLiteral("flow.csv")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QLocale loc = QLocale::system();
    auto f = [this](const char* key) { return fx.lang->flow(QLatin1String(key)); };
    auto line = [](const QStringList& values) {
        QStringList quoted;
        for (const QString& v : values)
            quoted << QLatin1Char('"') + v + QLatin1Char('"');
        return quoted.join(QLatin1Char(';'));
    };
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0).trimmed(), line({f("num_col"), f("session_col"), f("query_col"), f("time_ms_col"),
                                          f("get_col"), f("rows_col")}));
    // Newest first, the INSERT filtered out; quotes doubled, small times with 3 decimals.
    QCOMPARE(lines.at(1).trimmed(), line({"3", "0000001", "SELECT 3", loc.toString(2.0, 'f', 0),
                                          loc.toString(0.5, 'g', 6), "3"}));
    QCOMPARE(lines.at(2).trimmed(), line({"1", "0000001", "SELECT 'a\"\"b'", loc.toString(0.0, 'f', 3),
                                          loc.toString(0.5, 'g', 6), "1"}));
}

void TestLiveFlow::settingsLowerLimitsTrim()
{
    for (int i = 0; i < 12; ++i) {
        SessionData* s = fx.addSession();
        fx.addQueries(s, {QStringLiteral("SELECT %1").arg(i + 1)});
    }
    fx.flush();
    QCOMPARE(fx.flow()->rowCount(), 12);
    QCOMPARE(fx.sessions()->rowCount(), 12);

    ModalWatcher watcher(fx.win.get());
    watcher.onDialog = [](QDialog* d) {
        d->findChild<QSpinBox*>(QStringLiteral("sbMaxFlow"))->setValue(10);
        d->findChild<QSpinBox*>(QStringLiteral("sbMaxSess"))->setValue(11);
        d->accept();
    };
    fx.ui()->settingsBtn->click();
    QCOMPARE(watcher.dialogs, QStringList{QStringLiteral("SettingsDialog")});
    QCOMPARE(fx.settings->MaxLinesFlow, 10);
    QCOMPARE(fx.flow()->rowCount(), 10);
    QCOMPARE(fx.flowStatements().first(), QStringLiteral("SELECT 12"));
    QCOMPARE(fx.flowStatements().last(), QStringLiteral("SELECT 3"));
    QCOMPARE(fx.sessions()->rowCount(), 11);
    QCOMPARE(fx.sessionRow(1), -1);
    QVERIFY(fx.sessionRow(2) >= 0);

    // The new limit holds for what comes next.
    SessionData* s = fx.addSession();
    fx.addQueries(s, {"SELECT 13"});
    fx.flush();
    QCOMPARE(fx.flow()->rowCount(), 10);
    QCOMPARE(fx.sessions()->rowCount(), 11);
    QCOMPARE(fx.sessionRow(2), -1);
}

void TestLiveFlow::topQueryDoubleClickAsksForSqlTab()
{
    SessionData* s = fx.addSession();
    fx.addQueries(s, {"SELECT 1", "SELECT 2", "SELECT 2"});
    QSignalSpy asked(fx.win.get(), &MainWindow::sqlTabRequested);
    QTableView* top = fx.win->statisticsPage()->form()->tableTopQueries;
    // Sorted by rank: the statement counted twice is first.
    const QModelIndex first = top->model()->index(0, 2);
    QVERIFY(QMetaObject::invokeMethod(top, "doubleClicked", Q_ARG(QModelIndex, first)));
    QCOMPARE(asked.count(), 1);
    QCOMPARE(asked.at(0).at(0).toString(), QStringLiteral("SELECT 2"));
    QCOMPARE(asked.at(0).at(1).toInt(), 1);
    QCOMPARE(asked.at(0).at(2).toString(), QStringLiteral("shop"));
}

QTEST_MAIN(TestLiveFlow)
#include "tst_liveflow.moc"
