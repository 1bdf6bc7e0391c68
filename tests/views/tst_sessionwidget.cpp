// The session view: loading, live batches, selection, filter, export.
#include "ExportDialog.h"
#include "FilterDialog.h"
#include "MngrSessions.h"
#include "SessionData.h"
#include "SessionWidget.h"
#include "Settings.h"
#include "SortFilterProxyModel.h"
#include "languageEngine.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

struct Stmt
{
    QString text;
    double ms;
    bool error = false;
    unsigned rows = 0;
    float getKb = 0;
    float sentKb = 0;
};

/// Appends a batch to `data` and recomputes the dependent figures the way
/// the capture side does: share of the total for every statement, percent
/// of the slowest for every statement when the batch raised the maximum.
/// Returns the index of the batch's first statement.
uint record(SessionData* data, const QList<Stmt>& batch)
{
    const uint first = uint(data->queries.size());
    double maxMs = 1.0;
    double total = 0;
    for (const Query* q : data->queries) {
        maxMs = qMax(maxMs, q->durationMs);
        total += q->durationMs;
    }
    bool raised = false;
    for (const Stmt& s : batch) {
        auto* q = new Query;
        q->text = s.text;
        q->durationMs = s.ms;
        q->isError = s.error;
        q->rows = s.rows;
        q->responseKb = s.getKb;
        q->requestKb = s.sentKb;
        q->dbName = "shop";
        q->percentOfMax = int(s.ms / maxMs * 100 + 0.5);
        data->queries << q;
        total += s.ms;
        data->rowsTotal += s.rows;
        data->responseKbTotal += s.getKb;
        data->requestKbTotal += s.sentKb;
        if (s.ms > maxMs) {
            maxMs = s.ms;
            raised = true;
        }
    }
    for (Query* q : data->queries) {
        q->shareOfTotal = float(q->durationMs / total * 100);
        if (raised)
            q->percentOfMax = int(q->durationMs / maxMs * 100 + 0.5);
    }
    return first;
}

QVariant cell(const QAbstractItemModel* m, int row, int col, int role = Qt::DisplayRole)
{
    return m->index(row, col).data(role);
}

/// Runs `fn` on the modal dialog of type D as soon as one is shown.
template<class D>
void onModal(std::function<void(D*)> fn)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, fn] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            fn(d);
        }
    });
    timer->start();
}

const QList<Stmt> kFirst = {
    {"SELECT id,\n  name\tFROM users", 0.25, false, 3, 1.5f, 0.1f},
    {"INSERT INTO users VALUES (\"x\")", 12.7, false, 0, 0.0f, 0.2f},
    {"SELECT * FROM missing", 2.0, true, 0, 0.0f, 0.05f},
};

} // namespace

class TestSessionWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void loadShowsEveryStatement();
    void reloadKeepsColumnsSortAndFilter();
    void emptySessionKeepsActionsDisabled();
    void statisticsLine();
    void batchForAnotherSessionChangesNothing();
    void newestStatementFollowedAfterEachBatch();
    void batchRewritesOnlyDependentColumnsOfOlderRows();
    void firstErrorTurnsStatusToNo();
    void managerPositionsThatMoveStillFindTheView();
    void graphClickSelectsStatement();
    void filterButton();
    void cancelledFilterKeepsPreviousAndUnchecks();
    void exportOfFilteredView();
    void sqlTabAndCopyRequests();
    void twinCount();

private:
    Settings* settings = nullptr;
    languageEngine* lang = nullptr;
};

void TestSessionWidget::initTestCase()
{
    qRegisterMetaType<QList<QPersistentModelIndex>>();
    qRegisterMetaType<QAbstractItemModel::LayoutChangeHint>();
    QCoreApplication::setOrganizationName("Tessam");
    QCoreApplication::setApplicationName("Quarvel");
    settings = new Settings;
    lang = new languageEngine(settings);
    QVERIFY2(lang->loadLanguage("english"), "the staged english language file is needed");
}

void TestSessionWidget::cleanupTestCase()
{
    delete lang;
    delete settings;
}

void TestSessionWidget::loadShowsEveryStatement()
{
    SessionData data;
    data.id = 7;
    record(&data, kFirst);
    SessionWidget w(lang, &data, 0);
    QCOMPARE(w.objectName(), QString("sessiontab"));
    w.loadQueries();

    const QStandardItemModel* m = w.queryModel();
    QCOMPARE(m->rowCount(), 3);
    QCOMPARE(m->columnCount(), 9);
    QCOMPARE(cell(m, 0, 0).toInt(), 1);
    QCOMPARE(cell(m, 2, 0).toInt(), 3);
    QCOMPARE(cell(m, 0, 1).toString(), QString("yes"));
    QCOMPARE(cell(m, 2, 1).toString(), QString("no"));
    // One-line text in the user role; highlighted markup for display.
    QCOMPARE(cell(m, 0, 2, Qt::UserRole).toString(), QString("SELECT id, name FROM users"));
    const QString html = cell(m, 0, 2).toString();
    QVERIFY(html.contains("users"));
    QVERIFY(!html.contains('\n'));
    QVERIFY(!cell(m, 0, 2, Qt::ToolTipRole).toString().isEmpty());
    QCOMPARE(cell(m, 0, 3).toDouble(), 0.25);
    QCOMPARE(cell(m, 1, 3).toDouble(), 12.7);
    QCOMPARE(cell(m, 0, 4).toDouble(), QString::number(data.queries[0]->shareOfTotal, 'f', 3).toDouble());
    QCOMPARE(cell(m, 1, 5).toInt(), 100);
    QCOMPARE(cell(m, 0, 6).toUInt(), 3u);
    QCOMPARE(cell(m, 0, 6, Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    QCOMPARE(cell(m, 0, 6, Qt::ForegroundRole).value<QBrush>().color(), QColor("blue"));
    QCOMPARE(cell(m, 1, 7).toDouble(), 0.0);
    QCOMPARE(cell(m, 0, 7).toDouble(), 1.5);
    QCOMPARE(m->headerData(2, Qt::Horizontal).toString(), lang->session("query_col"));
    QVERIFY(m->headerData(1, Qt::Horizontal).toString().isEmpty());

    // Newest on top, selected and shown.
    QTableView* view = w.tableQueries();
    QCOMPARE(view->model()->index(0, 0).data().toInt(), 3);
    QCOMPARE(w.proxyModel()->mapToSource(view->currentIndex()).row(), 2);
    QCOMPARE(w.findChild<QPlainTextEdit*>("queryViewer")->toPlainText(), kFirst[2].text);
    QCOMPARE(w.graph()->values(), (QList<double>{0.25, 12.7, 2.0}));
    QCOMPARE(w.graph()->markedIndex(), 2);
    for (const char* b : {"btnExport", "btnTwin", "btnFilter"})
        QVERIFY2(w.findChild<QPushButton*>(b)->isEnabled(), b);

    // Loading again rebuilds rather than duplicates.
    w.loadQueries();
    QCOMPARE(m->rowCount(), 3);
    QCOMPARE(w.graph()->values().size(), 3);
}

void TestSessionWidget::reloadKeepsColumnsSortAndFilter()
{
    SessionData data;
    record(&data, kFirst);
    record(&data, {{"SELECT 5", 5.0}});
    SessionWidget w(lang, &data, 0);
    QHeaderView* header = w.tableQueries()->horizontalHeader();
    w.loadQueries();
    QCOMPARE(header->sortIndicatorSection(), 0);
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);

    w.tableQueries()->sortByColumn(3, Qt::AscendingOrder);
    w.proxyModel()->applyMode(1, QString(), 1);
    w.loadQueries();
    QCOMPARE(header->sectionResizeMode(2), QHeaderView::Stretch);
    QCOMPARE(header->sectionResizeMode(1), QHeaderView::Fixed);
    QCOMPARE(header->sectionSize(1), 22);
    QCOMPARE(header->sectionResizeMode(3), QHeaderView::ResizeToContents);
    QCOMPARE(header->sortIndicatorSection(), 3);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    QAbstractItemModel* view = w.tableQueries()->model();
    QCOMPARE(view->rowCount(), 3);   // the read filter still applies
    QStringList order;
    for (int r = 0; r < view->rowCount(); ++r)
        order << view->index(r, 0).data().toString();
    QCOMPARE(order, (QStringList{"1", "3", "4"}));
    // The newest statement that passes is current.
    QCOMPARE(w.proxyModel()->mapToSource(w.tableQueries()->currentIndex()).row(), 3);
}

void TestSessionWidget::emptySessionKeepsActionsDisabled()
{
    SessionData data;
    SessionWidget w(lang, &data, 0);
    w.loadQueries();
    for (const char* b : {"btnExport", "btnTwin", "btnFilter"})
        QVERIFY2(!w.findChild<QPushButton*>(b)->isEnabled(), b);
    QVERIFY(w.findChild<QPlainTextEdit*>("queryViewer")->toPlainText().isEmpty());

    // The first batch enables them.
    const uint first = record(&data, kFirst.mid(0, 1));
    w.addQueries(0, first, 1);
    for (const char* b : {"btnExport", "btnTwin", "btnFilter"})
        QVERIFY2(w.findChild<QPushButton*>(b)->isEnabled(), b);
}

void TestSessionWidget::statisticsLine()
{
    SessionData data;
    record(&data, kFirst);
    data.duration = QTime(0, 0).addMSecs(1250);
    SessionWidget w(lang, &data, 0);
    w.loadQueries();
    const QString bold = " <span style = \"font: bold\">";
    auto label = [&](const char* name) { return w.findChild<QLabel*>(name)->text(); };
    QCOMPARE(label("statQuery"), lang->session("queries_str") + bold + "3</span>");
    QCOMPARE(label("statRows"), lang->session("rows_str") + bold + "3</span>");
    QCOMPARE(label("statRecived"),
             lang->session("get_str") + bold + QLocale::system().toString(1.5, 'f', 1) + lang->session("kb_str") + "</span>");
    QCOMPARE(label("statSent"),
             lang->session("sent_str") + bold + QLocale::system().toString(data.requestKbTotal, 'f', 1)
                 + lang->session("kb_str") + "</span>");

    w.setFlagActive(true);
    QVERIFY(w.isActive());
    QCOMPARE(label("statElapsed"), lang->session("elapsed_str") + bold + lang->session("performed_str") + "</span>");
    w.changeLanguage();   // keeps the running form
    QVERIFY(label("statElapsed").contains(lang->session("performed_str")));
    w.updateElapsedStat();
    QVERIFY(!w.isActive());
    QCOMPARE(label("statElapsed"), lang->session("elapsed_str") + bold + "00:00:01.250</span>");

    // Theme colours (no theme: the defaults).
    const QLabel* q = w.findChild<QLabel*>("statQuery");
    QCOMPARE(q->palette().color(q->foregroundRole()), QColor("#626262"));
    const QLabel* s = w.findChild<QLabel*>("statSent");
    QCOMPARE(s->palette().color(QPalette::Inactive, s->foregroundRole()), QColor("#5f89de"));
    const QLabel* r = w.findChild<QLabel*>("statRecived");
    QCOMPARE(r->palette().color(QPalette::Disabled, r->foregroundRole()), QColor("#74b67f"));
}

void TestSessionWidget::batchForAnotherSessionChangesNothing()
{
    SessionData data;
    record(&data, kFirst);
    SessionWidget w(lang, &data, 4);
    w.loadQueries();
    const QString statBefore = w.findChild<QLabel*>("statQuery")->text();
    // The record grows, but the batch is announced for session 3.
    const uint first = record(&data, {{"SELECT 2", 1.0}});
    QSignalSpy inserted(w.queryModel(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(w.queryModel(), &QAbstractItemModel::dataChanged);
    w.addQueries(3, first, 1);
    QCOMPARE(w.queryModel()->rowCount(), 3);
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(w.graph()->values().size(), 3);
    QCOMPARE(w.findChild<QLabel*>("statQuery")->text(), statBefore);
    // Its own position is taken.
    w.addQueries(4, first, 1);
    QCOMPARE(w.queryModel()->rowCount(), 4);
}

void TestSessionWidget::newestStatementFollowedAfterEachBatch()
{
    SessionData data;
    record(&data, kFirst);
    SessionWidget w(lang, &data, 0);
    w.loadQueries();
    auto* viewer = w.findChild<QPlainTextEdit*>("queryViewer");

    w.setCurrentQuery(0);   // the user looks at the oldest statement
    QCOMPARE(w.proxyModel()->mapToSource(w.tableQueries()->currentIndex()).row(), 0);
    // The viewer shows tabs as four spaces.
    QCOMPARE(viewer->toPlainText(), QString(kFirst[0].text).replace('\t', "    "));
    QCOMPARE(w.graph()->markedIndex(), 0);

    for (int batch = 0; batch < 3; ++batch) {
        const uint first = record(&data, {{QString("SELECT %1 FROM dual").arg(batch), 0.5},
                                          {QString("UPDATE t SET a = %1").arg(batch), 0.7}});
        w.addQueries(0, first, 2);
        const int newest = data.queries.size() - 1;
        QCOMPARE(w.proxyModel()->mapToSource(w.tableQueries()->currentIndex()).row(), newest);
        QCOMPARE(w.tableQueries()->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(viewer->toPlainText(), data.queries.last()->text);
        QCOMPARE(w.graph()->markedIndex(), newest);
        QCOMPARE(w.graph()->values().size(), newest + 1);
        QCOMPARE(w.graph()->values().last(), 0.7);
    }
}

void TestSessionWidget::batchRewritesOnlyDependentColumnsOfOlderRows()
{
    SessionData data;
    record(&data, kFirst);
    SessionWidget w(lang, &data, 0);
    w.loadQueries();
    QStandardItemModel* m = w.queryModel();

    QList<QList<QVariant>> before;
    for (int r = 0; r < 3; ++r) {
        QList<QVariant> row;
        for (int c = 0; c < 9; ++c)
            row << cell(m, r, c, Qt::EditRole);
        before << row;
    }

    QSignalSpy inserted(m, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(m, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(m, &QAbstractItemModel::modelReset);
    QSignalSpy layout(m, &QAbstractItemModel::layoutChanged);
    // A slower statement: every share and every percent of the slowest move.
    const uint first = record(&data, {{"SELECT SLEEP(0.05)", 50.0}, {"SELECT 1", 0.5}});
    w.addQueries(0, first, 2);

    QCOMPARE(m->rowCount(), 5);
    QCOMPARE(reset.count(), 0);
    QCOMPARE(layout.count(), 0);
    QVERIFY(inserted.count() >= 1);
    for (const QList<QVariant>& args : inserted)
        QVERIFY(args.at(1).toInt() >= 3);   // only past the old rows
    QVERIFY(changed.count() >= 1);
    for (const QList<QVariant>& args : changed) {
        const QModelIndex tl = args.at(0).toModelIndex();
        const QModelIndex br = args.at(1).toModelIndex();
        if (tl.row() >= 3)
            continue;   // a new row
        QVERIFY2(tl.column() >= 4 && br.column() <= 5,
                 qPrintable(QString("columns %1..%2 of old rows changed").arg(tl.column()).arg(br.column())));
    }
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 9; ++c) {
            if (c == 4 || c == 5)
                continue;
            QCOMPARE(cell(m, r, c, Qt::EditRole), before[r][c]);
        }
        const Query* q = data.queries[r];
        QCOMPARE(cell(m, r, 4).toDouble(), QString::number(q->shareOfTotal, 'f', 3).toDouble());
        QCOMPARE(cell(m, r, 5).toInt(), q->percentOfMax);
        QVERIFY(cell(m, r, 5).toInt() != before[r][5].toInt() || before[r][5].toInt() == 0);
    }
    QCOMPARE(cell(m, 3, 5).toInt(), 100);
    // The view reflects the rewritten values, sorted as before.
    QCOMPARE(w.tableQueries()->model()->index(0, 0).data().toInt(), 5);
    const QModelIndex oldest = w.proxyModel()->mapFromSource(m->index(1, 5));
    QCOMPARE(oldest.data().toInt(), data.queries[1]->percentOfMax);
}

void TestSessionWidget::firstErrorTurnsStatusToNo()
{
    SessionData data;
    record(&data, kFirst.mid(0, 2));
    SessionWidget w(lang, &data, 0);
    w.loadQueries();
    QCOMPARE(cell(w.queryModel(), 0, 1).toString(), QString("yes"));
    QCOMPARE(cell(w.queryModel(), 1, 1).toString(), QString("yes"));
    const uint first = record(&data, {{"SELEC 1", 0.3, true}, {"SELECT 1", 0.2}});
    w.addQueries(0, first, 2);
    QCOMPARE(cell(w.queryModel(), 2, 1).toString(), QString("no"));
    QCOMPARE(cell(w.queryModel(), 3, 1).toString(), QString("yes"));
    // Errors mode finds it.
    w.proxyModel()->applyMode(3, QString(), 1);
    QCOMPARE(w.proxyModel()->rowCount(), 1);
    QCOMPARE(w.proxyModel()->index(0, 2).data(Qt::UserRole).toString(), QString("SELEC 1"));
}

void TestSessionWidget::managerPositionsThatMoveStillFindTheView()
{
    MngrSessions mngr(settings);
    auto* older = new SessionData;
    auto* mine = new SessionData;
    mngr.sessions << older << mine;
    record(mine, kFirst);
    SessionWidget w(lang, mine, 1);
    w.setSessionManager(&mngr);
    w.loadQueries();

    // The oldest record is dropped: this session moves to position 0 and a
    // new one takes position 1.
    mngr.sessions.removeFirst();
    delete older;
    auto* newer = new SessionData;
    mngr.sessions << newer;
    record(newer, {{"SELECT 'other'", 1.0}});
    w.addQueries(1, 0, 1);   // the new session's batch
    QCOMPARE(w.queryModel()->rowCount(), 3);

    const uint first = record(mine, {{"SELECT 'mine'", 1.0}});
    w.addQueries(0, first, 1);
    QCOMPARE(w.queryModel()->rowCount(), 4);
    QCOMPARE(cell(w.queryModel(), 3, 2, Qt::UserRole).toString(), QString("SELECT 'mine'"));
    QCOMPARE(w.position(), 0u);

    // A batch announced beyond what the record holds adds only what exists.
    w.addQueries(0, 4, 5);
    QCOMPARE(w.queryModel()->rowCount(), 4);
}

void TestSessionWidget::graphClickSelectsStatement()
{
    SessionData data;
    record(&data, kFirst);
    SessionWidget w(lang, &data, 0);
    w.loadQueries();
    emit w.graph()->setIndexQuery(1);
    QCOMPARE(w.proxyModel()->mapToSource(w.tableQueries()->currentIndex()).row(), 1);
    QCOMPARE(w.findChild<QPlainTextEdit*>("queryViewer")->toPlainText(), kFirst[1].text);
    QCOMPARE(w.graph()->markedIndex(), 1);
    // Beyond the rows (or negative): ignored.
    w.setCurrentQuery(3);
    w.setCurrentQuery(-1);
    QCOMPARE(w.proxyModel()->mapToSource(w.tableQueries()->currentIndex()).row(), 1);
}

void TestSessionWidget::filterButton()
{
    SessionData data;
    record(&data, kFirst);
    record(&data, {{"select name from users where id = 1", 0.4}, {"SHOW1 TABLES", 0.1}});
    SessionWidget w(lang, &data, 0);
    w.loadQueries();
    auto* btn = w.findChild<QPushButton*>("btnFilter");
    QVERIFY(btn->isCheckable());

    // Read statements with a keyword in another letter case.
    onModal<FilterDialog>([](FilterDialog* d) {
        d->findChild<QRadioButton*>("rbRead")->setChecked(true);
        d->findChild<QLineEdit*>("lineEdit")->setText("USERS");
        d->accept();
    });
    btn->click();
    QVERIFY(btn->isChecked());
    QCOMPARE(w.currentFilterMode(), 1);
    QCOMPARE(w.currentFilterKeyword(), QString("USERS"));
    QAbstractItemModel* view = w.tableQueries()->model();
    QCOMPARE(view->rowCount(), 2);
    QCOMPARE(view->index(0, 0).data().toInt(), 4);
    QCOMPARE(view->index(1, 0).data().toInt(), 1);

    // Unchecking shows every row again, without a dialog.
    bool dialogShown = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] { dialogShown |= QApplication::activeModalWidget() != nullptr; });
    probe.start(1);
    btn->click();
    QCoreApplication::processEvents();
    probe.stop();
    QVERIFY(!dialogShown);
    QVERIFY(!btn->isChecked());
    QCOMPARE(view->rowCount(), 5);

    // Errors only; the dialog opens with the last choice.
    int shownMode = -1;
    QString shownKeyword;
    onModal<FilterDialog>([&](FilterDialog* d) {
        shownMode = d->findChild<QRadioButton*>("rbRead")->isChecked() ? 1 : -1;
        shownKeyword = d->keyword();
        d->findChild<QRadioButton*>("rbError")->setChecked(true);
        d->findChild<QLineEdit*>("lineEdit")->clear();
        d->accept();
    });
    btn->click();
    QCOMPARE(shownMode, 1);
    QCOMPARE(shownKeyword, QString("USERS"));
    QCOMPARE(view->rowCount(), 1);
    QCOMPARE(view->index(0, 1).data().toString(), QString("no"));

    // Statements arriving while filtered are filtered too.
    const uint first = record(&data, {{"SELECT nope", 0.2, true}, {"SELECT 1", 0.2}});
    w.addQueries(0, first, 2);
    QCOMPARE(view->rowCount(), 2);
}

void TestSessionWidget::cancelledFilterKeepsPreviousAndUnchecks()
{
    SessionData data;
    record(&data, kFirst);
    SessionWidget w(lang, &data, 0);
    w.loadQueries();
    auto* btn = w.findChild<QPushButton*>("btnFilter");

    onModal<FilterDialog>([](FilterDialog* d) {
        d->findChild<QRadioButton*>("rbWrite")->setChecked(true);
        d->accept();
    });
    btn->click();
    QCOMPARE(w.tableQueries()->model()->rowCount(), 1);
    btn->click();   // off: everything shows
    QCOMPARE(w.tableQueries()->model()->rowCount(), 3);

    onModal<FilterDialog>([](FilterDialog* d) {
        d->findChild<QRadioButton*>("rbError")->setChecked(true);
        d->reject();
    });
    btn->click();
    QVERIFY(!btn->isChecked());
    QCOMPARE(w.tableQueries()->model()->rowCount(), 3);
    QCOMPARE(w.currentFilterMode(), 2);   // the choice offered next time
    QVERIFY(!w.proxyModel()->onlyErrors);
}

void TestSessionWidget::exportOfFilteredView()
{
    SessionData data;
    data.id = 42;
    record(&data, kFirst);
    record(&data, {{"SELECT \"a\" FROM t", 0.5}});
    SessionWidget w(lang, &data, 0);
    w.loadQueries();

    QCOMPARE(w.defaultExportPath(), QDir::homePath() + "/0000042.csv");
    QCOMPARE(w.exportKeys(), (QStringList{"Number", "Sql_query", "Time_ms", "Time_proc", "Longest_proc", "Rows",
                                          "Get_Kb", "Sent_Kb"}));
    QCOMPARE(w.exportCaptions().at(1), lang->session("query_col"));
    QCOMPARE(w.exportCaptions().at(7), lang->session("sent_col"));

    w.proxyModel()->applyMode(1, QString(), 1);
    const QList<QStringList> rows = w.exportRows();
    QCOMPARE(rows.size(), 3);
    // Newest first, as shown.
    QCOMPARE(rows.at(0).at(0), QString("4"));
    QCOMPARE(rows.at(0).at(1), QString("SELECT \"\"a\"\" FROM t"));
    QCOMPARE(rows.at(2).at(0), QString("1"));
    QCOMPARE(rows.at(2).at(1), QString("SELECT id, name FROM users"));
    const QString dp = QLocale::system().decimalPoint();
    QCOMPARE(rows.at(2).at(2), "0" + dp + "250");
    QCOMPARE(rows.at(1).at(2), QString("2"));
    QCOMPARE(rows.at(2).at(5), QString("3"));
    QCOMPARE(rows.at(2).at(6), "1" + dp + "5");

    // Sorting by duration changes the exported order.
    w.tableQueries()->sortByColumn(3, Qt::AscendingOrder);
    QStringList order;
    for (const QStringList& r : w.exportRows())
        order << r.at(0);
    QCOMPARE(order, (QStringList{"1", "4", "3"}));

    w.proxyModel()->clearFilter();
    w.tableQueries()->sortByColumn(0, Qt::DescendingOrder);
    QCOMPARE(w.exportRows().at(2).at(2), QString("13"));   // 12.7 ms

    // The button proposes the session's file.
    QString proposed;
    int rowCount = -1;
    onModal<ExportDialog>([&](ExportDialog* d) {
        proposed = d->currentPath();
        rowCount = d->findChild<QLineEdit*>("lePath") ? 1 : 0;
        d->reject();
    });
    w.findChild<QPushButton*>("btnExport")->click();
    QCOMPARE(proposed, QDir::homePath() + "/0000042.csv");
    QCOMPARE(rowCount, 1);
}

void TestSessionWidget::sqlTabAndCopyRequests()
{
    SessionData data;
    record(&data, kFirst);
    SessionWidget w(lang, &data, 0);
    w.loadQueries();
    QSignalSpy sql(&w, &SessionWidget::sqlTabRequested);
    QSignalSpy copy(&w, &SessionWidget::clickedCopy);

    w.setCurrentQuery(1);
    w.findChild<QPushButton*>("btnExplay")->click();
    QCOMPARE(sql.count(), 1);
    QCOMPARE(sql.at(0).at(0).toString(), kFirst[1].text);
    QCOMPARE(sql.at(0).at(1).toInt(), 2);
    QCOMPARE(sql.at(0).at(2).toString(), QString("shop"));
    w.findChild<QPushButton*>("btnToSql")->click();
    QCOMPARE(sql.count(), 2);
    QCOMPARE(sql.at(1).at(1).toInt(), 1);
    emit w.tableQueries()->doubleClicked(w.tableQueries()->currentIndex());
    QCOMPARE(sql.count(), 3);
    QCOMPARE(sql.at(2).at(1).toInt(), 1);

    w.findChild<QPushButton*>("btnCopy")->click();
    QCOMPARE(copy.count(), 1);
    QCOMPARE(copy.at(0).at(0).toString(), kFirst[1].text);
}

void TestSessionWidget::twinCount()
{
    SessionData data;
    QCOMPARE(SessionWidget::twinCount(&data), 0);
    record(&data, {{"SELECT 1", 1}, {"SELECT 2", 1}, {"select 1", 1}, {"SELECT  1", 1}});
    QCOMPARE(SessionWidget::twinCount(&data), 0);   // case and blanks count
    record(&data, {{"SELECT 1", 1}, {"SELECT 2", 1}, {"SELECT 1", 1}});
    QCOMPARE(SessionWidget::twinCount(&data), 2);
    QCOMPARE(SessionWidget::twinCount(nullptr), 0);
}

QTEST_MAIN(TestSessionWidget)
#include "tst_sessionwidget.moc"
