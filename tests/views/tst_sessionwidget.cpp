// The session view: loading, live batches, selection, filter, export.
#include "ExportDialog.h"
#include "FilterDialog.h"
#include "MngrSessions.h"
#include "SessionData.h"
#include "SessionWidget.h"
#include "Settings.h"
#include "SortFilterProxyModel.h"
#include "TwinWidget.h"
#include "languageEngine.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>

namespace {

// A captured statement.
Query stmt(const QString& text, double ms, bool error = false, uint rows = 0, float getKb = 0, float sentKb = 0)
{
    Query q;
    q.text = text;
    q.durationMs = ms;
    q.isError = error;
    q.rows = rows;
    q.responseKb = getKb;
    q.requestKb = sentKb;
    q.dbName = "shop";
    return q;
}

// Appends a batch to `data` and recomputes the dependent figures the way the
// capture side does: share of the total, percent of the slowest. Returns the
// index of the batch's first statement.
uint record(SessionData* data, const QList<Query>& batch)
{
    const uint first = uint(data->queries.size());
    double maxMs = 1.0, total = 0;
    for (const Query& q : batch) {
        data->queries << new Query(q);
        data->rowsTotal += q.rows;
        data->responseKbTotal += q.responseKb;
        data->requestKbTotal += q.requestKb;
    }
    for (const Query* q : data->queries) {
        maxMs = qMax(maxMs, q->durationMs);
        total += q->durationMs;
    }
    for (Query* q : data->queries) {
        q->shareOfTotal = float(q->durationMs / total * 100);
        q->percentOfMax = int(q->durationMs / maxMs * 100 + 0.5);
    }
    return first;
}

// Runs `fn` on the modal dialog of type D as soon as one is shown.
template<class D>
QTimer* onModal(std::function<void(D*)> fn)
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
    return timer;
}

// A loaded session view over its own record.
struct View
{
    SessionData data;
    QScopedPointer<SessionWidget> w;
    View(languageEngine* lang, const QList<Query>& batch, uint position = 0)
    {
        record(&data, batch);
        w.reset(new SessionWidget(lang, &data, position));
        w->loadQueries();
    }
    void add(const QList<Query>& batch) { w->addQueries(0, record(&data, batch), uint(batch.size())); }
    // One column of the table as shown (filtered and sorted), or of the model.
    QStringList column(int col, bool shown = true, int role = Qt::EditRole) const
    {
        const QAbstractItemModel* m = shown ? w->tableQueries()->model() : w->queryModel();
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, col).data(role).toString();
        return out;
    }
    int current() const { return w->proxyModel()->mapToSource(w->tableQueries()->currentIndex()).row(); }
    QString viewer() const { return w->findChild<QPlainTextEdit*>("queryViewer")->toPlainText(); }
    QString label(const char* name) const { return w->findChild<QLabel*>(name)->text(); }
    QPushButton* button(const char* name) const { return w->findChild<QPushButton*>(name); }
    bool actionsEnabled() const
    {
        return button("btnExport")->isEnabled() && button("btnTwin")->isEnabled() && button("btnFilter")->isEnabled();
    }
};

const QList<Query> kFirst = {
    stmt("SELECT id,\n  name\tFROM users", 0.25, false, 3, 1.5f, 0.1f),
    stmt("INSERT INTO users VALUES (\"x\")", 12.7, false, 0, 0.0f, 0.2f),
    stmt("SELECT * FROM missing", 2.0, true, 0, 0.0f, 0.05f),
};

} // namespace

class TestSessionWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loadShowsEveryStatement();
    void reloadKeepsColumnsSortAndFilter();
    void statisticsLine();
    void batchesReachOnlyTheirSession();
    void batchRewritesOnlyDependentColumnsOfOlderRows();
    void selectionFollowsNewestAndGraph();
    void filterButton();
    void exportAndRequests();
    void twinButton();

private:
    QScopedPointer<Settings> settings;
    QScopedPointer<languageEngine> lang;
};

void TestSessionWidget::initTestCase()
{
    qRegisterMetaType<QList<QPersistentModelIndex>>();
    qRegisterMetaType<QAbstractItemModel::LayoutChangeHint>();
    QCoreApplication::setOrganizationName("Tessam");
    QCoreApplication::setApplicationName("Quarvel");
    settings.reset(new Settings);
    lang.reset(new languageEngine(settings.data()));
    QVERIFY2(lang->loadLanguage("english"), "the staged english language file is needed");
}

void TestSessionWidget::loadShowsEveryStatement()
{
    View v(lang.data(), kFirst);
    QCOMPARE(v.column(0, false), (QStringList{"1", "2", "3"}));
    QCOMPARE(v.column(1, false), (QStringList{"yes", "yes", "no"}));
    // One-line text in the user role; highlighted markup for display.
    QCOMPARE(v.column(2, false, Qt::UserRole),
             (QStringList{"SELECT id, name FROM users", kFirst[1].text, kFirst[2].text}));
    QVERIFY(v.column(2, false).at(0).contains("users") && !v.column(2, false).at(0).contains('\n'));
    QCOMPARE(v.column(3, false), (QStringList{"0.25", "12.7", "2"}));
    QCOMPARE(v.column(4, false).at(0).toDouble(), QString::number(v.data.queries[0]->shareOfTotal, 'f', 3).toDouble());
    QCOMPARE(v.column(5, false), (QStringList{"2", "100", "16"}));
    QCOMPARE(v.column(6, false), (QStringList{"3", "0", "0"}));

    // Newest on top, selected and shown; loading again rebuilds.
    QCOMPARE(v.column(0), (QStringList{"3", "2", "1"}));
    QCOMPARE(v.current(), 2);
    QCOMPARE(v.viewer(), kFirst[2].text);
    QCOMPARE(v.w->graph()->markedIndex(), 2);
    QVERIFY(v.actionsEnabled());
    v.w->loadQueries();
    QCOMPARE(v.w->graph()->values(), (QList<double>{0.25, 12.7, 2.0}));

    // An empty session: nothing to act on until its own first batch arrives
    // (without a session manager, its position tells which batch is its own).
    View empty(lang.data(), {}, 4);
    QVERIFY(!empty.actionsEnabled());
    QVERIFY(empty.viewer().isEmpty());
    const uint first = record(&empty.data, kFirst.mid(0, 1));
    empty.w->addQueries(3, first, 1);
    QCOMPARE(empty.w->queryModel()->rowCount(), 0);
    empty.w->addQueries(4, first, 1);
    QVERIFY(empty.actionsEnabled());
}

void TestSessionWidget::reloadKeepsColumnsSortAndFilter()
{
    View v(lang.data(), kFirst + QList<Query>{stmt("SELECT 5", 5.0)});
    QHeaderView* header = v.w->tableQueries()->horizontalHeader();
    v.w->tableQueries()->sortByColumn(3, Qt::AscendingOrder);
    v.w->proxyModel()->applyMode(1, QString(), 1);
    v.w->loadQueries();
    QCOMPARE(header->sectionResizeMode(2), QHeaderView::Stretch);
    // Hidden, the widths stay as they are; shown, they follow the contents.
    QCOMPARE(header->sectionResizeMode(3), QHeaderView::Interactive);
    v.w->show();
    QCOMPARE(header->sectionResizeMode(3), QHeaderView::ResizeToContents);
    v.w->loadQueries();
    QCOMPARE(header->sectionResizeMode(3), QHeaderView::ResizeToContents);
    QCOMPARE(header->sortIndicatorSection(), 3);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    QCOMPARE(v.column(0), (QStringList{"1", "3", "4"}));   // the read filter still applies
    QCOMPARE(v.current(), 3);                                // the newest statement that passes
}

void TestSessionWidget::statisticsLine()
{
    View v(lang.data(), kFirst);
    v.data.duration = QTime(0, 0).addMSecs(1250);
    v.w->loadQueries();
    const QString bold = " <span style = \"font: bold\">";
    QCOMPARE(v.label("statQuery"), lang->session("queries_str") + bold + "3</span>");
    QCOMPARE(v.label("statRecived"), lang->session("get_str") + bold + QLocale::system().toString(1.5, 'f', 1)
                                         + lang->session("kb_str") + "</span>");
    // A running session shows so, also after a language change; once it
    // ends, its duration.
    v.w->setFlagActive(true);
    v.w->changeLanguage();
    QCOMPARE(v.label("statElapsed"), lang->session("elapsed_str") + bold + lang->session("performed_str") + "</span>");
    v.w->updateElapsedStat();
    QVERIFY(!v.w->isActive());
    QCOMPARE(v.label("statElapsed"), lang->session("elapsed_str") + bold + "00:00:01.250</span>");
}

void TestSessionWidget::batchesReachOnlyTheirSession()
{
    MngrSessions mngr(settings.data());
    auto* older = new SessionData;
    auto* mine = new SessionData;
    mngr.sessions << older << mine;
    record(mine, kFirst);
    SessionWidget w(lang.data(), mine, 1);
    w.setSessionManager(&mngr);
    w.loadQueries();
    const QString statBefore = w.findChild<QLabel*>("statQuery")->text();

    // The record grows, but the batch is announced for another session.
    uint first = record(mine, {stmt("SELECT 2", 1.0)});
    QSignalSpy inserted(w.queryModel(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(w.queryModel(), &QAbstractItemModel::dataChanged);
    w.addQueries(0, first, 1);
    QCOMPARE(inserted.count() + changed.count(), 0);
    QCOMPARE(w.graph()->values().size(), 3);
    QCOMPARE(w.findChild<QLabel*>("statQuery")->text(), statBefore);

    // The oldest record is dropped: this session moves to position 0 and a
    // new one takes position 1, whose batch is not ours.
    mngr.sessions.removeFirst();
    delete older;
    mngr.sessions << new SessionData;
    record(mngr.sessions.last(), {stmt("SELECT 'other'", 1.0)});
    w.addQueries(1, 0, 1);
    QCOMPARE(w.queryModel()->rowCount(), 3);
    w.addQueries(0, first, 1);
    QCOMPARE(w.queryModel()->rowCount(), 4);
    QCOMPARE(w.position(), 0u);
    // A batch announced beyond what the record holds adds only what exists.
    first = record(mine, {stmt("SELECT 'mine'", 1.0)});
    w.addQueries(0, first, 5);
    QCOMPARE(w.queryModel()->rowCount(), 5);
    QCOMPARE(w.queryModel()->index(4, 2).data(Qt::UserRole).toString(), QString("SELECT 'mine'"));
}

void TestSessionWidget::batchRewritesOnlyDependentColumnsOfOlderRows()
{
    View v(lang.data(), kFirst.mid(0, 2));
    QList<QStringList> before;
    for (int c = 0; c < 9; ++c)
        before << v.column(c, false);
    QStandardItemModel* m = v.w->queryModel();
    QSignalSpy inserted(m, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(m, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(m, &QAbstractItemModel::modelReset);
    QSignalSpy layout(m, &QAbstractItemModel::layoutChanged);
    // A slower statement: every share and every percent of the slowest move.
    v.add({stmt("SELECT SLEEP(0.05)", 50.0), stmt("SELEC 1", 0.5, true)});

    QCOMPARE(m->rowCount(), 4);
    QCOMPARE(reset.count() + layout.count(), 0);
    QVERIFY(!inserted.isEmpty());
    for (const QVariantList& args : inserted)
        QVERIFY(args.at(1).toInt() >= 2);   // only past the old rows
    for (const QVariantList& args : changed) {
        const QModelIndex tl = args.at(0).toModelIndex(), br = args.at(1).toModelIndex();
        QVERIFY2(tl.row() >= 2 || (tl.column() >= 4 && br.column() <= 5),
                 qPrintable(QString("columns %1..%2 of old rows changed").arg(tl.column()).arg(br.column())));
    }
    for (int c : {0, 1, 2, 3, 6, 7, 8})
        QCOMPARE(v.column(c, false).mid(0, 2), before[c]);
    QCOMPARE(v.column(4, false).at(1).toDouble(), QString::number(v.data.queries[1]->shareOfTotal, 'f', 3).toDouble());
    QCOMPARE(v.column(5, false), (QStringList{"1", "25", "100", "1"}));
    QCOMPARE(v.column(1, false).at(3), QString("no"));
    // The view shows the rewritten values, sorted as before; errors mode finds the new error.
    QCOMPARE(v.column(5), (QStringList{"1", "100", "25", "1"}));
    v.w->proxyModel()->applyMode(3, QString(), 1);
    QCOMPARE(v.column(2, true, Qt::UserRole), QStringList{"SELEC 1"});
}

void TestSessionWidget::selectionFollowsNewestAndGraph()
{
    View v(lang.data(), kFirst);
    v.w->setCurrentQuery(0);   // the user looks at the oldest statement
    QCOMPARE(v.current(), 0);
    QCOMPARE(v.viewer(), QString(kFirst[0].text).replace('\t', "    "));
    QCOMPARE(v.w->graph()->markedIndex(), 0);

    // Each batch moves the selection to its newest statement.
    for (int batch = 0; batch < 2; ++batch) {
        v.add({stmt(QString("SELECT %1 FROM dual").arg(batch), 0.5), stmt(QString("UPDATE t SET a = %1").arg(batch), 0.7)});
        const int newest = v.data.queries.size() - 1;
        QCOMPARE(v.current(), newest);
        QCOMPARE(v.w->tableQueries()->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(v.viewer(), v.data.queries.last()->text);
        QCOMPARE(v.w->graph()->markedIndex(), newest);
        QCOMPARE(v.w->graph()->values().size(), newest + 1);
    }

    // A click on the graph chooses its statement; positions outside are ignored.
    emit v.w->graph()->setIndexQuery(1);
    QCOMPARE(v.current(), 1);
    QCOMPARE(v.viewer(), kFirst[1].text);
    QCOMPARE(v.w->graph()->markedIndex(), 1);
    v.w->setCurrentQuery(7);
    v.w->setCurrentQuery(-1);
    QCOMPARE(v.current(), 1);
}

void TestSessionWidget::filterButton()
{
    View v(lang.data(), kFirst + QList<Query>{stmt("select name from users where id = 1", 0.4), stmt("SHOW1 TABLES", 0.1)});
    QPushButton* btn = v.button("btnFilter");
    // Read statements with a keyword in another letter case.
    onModal<FilterDialog>([](FilterDialog* d) {
        d->findChild<QRadioButton*>("rbRead")->setChecked(true);
        d->findChild<QLineEdit*>("lineEdit")->setText("USERS");
        d->accept();
    });
    btn->click();
    QVERIFY(btn->isChecked());
    QCOMPARE(v.column(0), (QStringList{"4", "1"}));

    // Unchecking shows every row again, without a dialog.
    bool opened = false;
    QTimer* watch = onModal<FilterDialog>([&](FilterDialog* d) { opened = true; d->reject(); });
    btn->click();
    QVERIFY(!opened);
    delete watch;
    QVERIFY(!btn->isChecked());
    QCOMPARE(v.column(0).size(), 5);

    // Errors only; the dialog opens with the last choice.
    QString shownKeyword;
    onModal<FilterDialog>([&](FilterDialog* d) {
        shownKeyword = d->findChild<QRadioButton*>("rbRead")->isChecked() ? d->keyword() : "not read";
        d->findChild<QRadioButton*>("rbError")->setChecked(true);
        d->findChild<QLineEdit*>("lineEdit")->clear();
        d->accept();
    });
    btn->click();
    QCOMPARE(shownKeyword, QString("USERS"));
    QCOMPARE(v.column(0), QStringList{"3"});
    // Statements arriving while filtered are filtered too.
    v.add({stmt("SELECT nope", 0.2, true), stmt("SELECT 1", 0.2)});
    QCOMPARE(v.column(0), (QStringList{"6", "3"}));

    // A cancelled dialog unchecks the button and shows everything; the last
    // accepted choice is offered next time.
    btn->click();
    onModal<FilterDialog>([](FilterDialog* d) {
        d->findChild<QRadioButton*>("rbWrite")->setChecked(true);
        d->reject();
    });
    btn->click();
    QVERIFY(!btn->isChecked());
    QCOMPARE(v.column(0).size(), 7);
    QCOMPARE(v.w->currentFilterMode(), 3);
}

void TestSessionWidget::exportAndRequests()
{
    View v(lang.data(), kFirst + QList<Query>{stmt("SELECT \"a\" FROM t", 0.5)});
    v.data.id = 42;
    // The chosen statement goes to the SQL tab (explain: command 2) or the clipboard.
    QSignalSpy sql(v.w.data(), &SessionWidget::sqlTabRequested);
    QSignalSpy copy(v.w.data(), &SessionWidget::clickedCopy);
    v.w->setCurrentQuery(1);
    v.button("btnExplay")->click();
    v.button("btnToSql")->click();
    emit v.w->tableQueries()->doubleClicked(v.w->tableQueries()->currentIndex());
    v.button("btnCopy")->click();
    QCOMPARE(QList<QVariantList>(sql), (QList<QVariantList>{{kFirst[1].text, 2, "shop"}, {kFirst[1].text, 1, "shop"},
                                       {kFirst[1].text, 1, "shop"}}));
    QCOMPARE(QList<QVariantList>(copy), QList<QVariantList>{{kFirst[1].text}});

    // The export takes the rows as shown: filtered and in the chosen order.
    QCOMPARE(v.w->exportKeys(), ExportDialog::fieldKeys(ExportDialog::sessionFields()));
    v.w->proxyModel()->applyMode(1, QString(), 1);
    v.w->tableQueries()->sortByColumn(3, Qt::AscendingOrder);
    const QList<QStringList> rows = v.w->exportRows();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0).mid(0, 2), (QStringList{"1", "SELECT id, name FROM users"}));
    QCOMPARE(rows.at(1).mid(0, 2), (QStringList{"4", "SELECT \"\"a\"\" FROM t"}));
    QCOMPARE(rows.at(2).at(0), QString("3"));
    // The button proposes the session's file.
    QString proposed;
    onModal<ExportDialog>([&](ExportDialog* d) {
        proposed = d->currentPath();
        d->reject();
    });
    v.button("btnExport")->click();
    QCOMPARE(proposed, QDir::homePath() + "/0000042.csv");

    // Statements written alike are twins; letter case and blanks count.
    SessionData twins;
    record(&twins, {stmt("SELECT 1", 1), stmt("select 1", 1), stmt("SELECT  1", 1), stmt("SELECT 2", 1)});
    QCOMPARE(SessionWidget::twinCount(&twins), 0);
    record(&twins, {stmt("SELECT 1", 1), stmt("SELECT 2", 1), stmt("SELECT 1", 1)});
    QCOMPARE(SessionWidget::twinCount(&twins), 2);
}

void TestSessionWidget::twinButton()
{
    // Repeated statements open the dialog; none, the information box.
    View twins(lang.data(), {stmt("SELECT 1", 1), stmt("SELECT 2", 1), stmt("SELECT 1", 1)});
    twins.data.id = 42;
    QString title;
    int rows = -1;
    onModal<TwinWidget>([&](TwinWidget* d) {
        title = d->windowTitle();
        rows = d->count();
        d->reject();
    });
    twins.button("btnTwin")->click();
    QCOMPARE(title, lang->session("title_str") + " 0000042");
    QCOMPARE(rows, 1);

    View none(lang.data(), kFirst);
    QString message;
    onModal<QMessageBox>([&](QMessageBox* box) {
        message = box->windowTitle() + "|" + box->text();
        box->accept();
    });
    none.button("btnTwin")->click();
    QCOMPARE(message, lang->session("twin_btn") + "|" + lang->session("not_found"));
}

QTEST_MAIN(TestSessionWidget)
#include "tst_sessionwidget.moc"
