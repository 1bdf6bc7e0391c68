// The session view: loading, live batches, selection, filter, export.
#include "ExportDialog.h"
#include "FilterDialog.h"
#include "ModalWatcher.h"
#include "MngrSessions.h"
#include "SessionData.h"
#include "SessionWidget.h"
#include "SortFilterProxyModel.h"
#include "TestTexts.h"
#include "TwinWidget.h"

#include <QtTest>
#include <QtWidgets>

namespace {

Query stmt(const QString& text, double ms, bool error = false, uint rows = 0)
{
    Query q;
    q.text = text;
    q.durationMs = ms;
    q.isError = error;
    q.rows = rows;
    q.responseKb = 1.5f;
    q.dbName = "shop";
    return q;
}

// Appends a batch to `data` with the dependent figures the capture side
// keeps (share of the total, percent of the slowest); returns the index of
// the batch's first statement.
uint record(SessionData* data, const QList<Query>& batch)
{
    const uint first = uint(data->queries.size());
    double maxMs = 1.0, total = 0;
    for (const Query& q : batch) {
        data->queries.append(q);
        data->rowsTotal += q.rows;
        data->responseKbTotal += q.responseKb;
    }
    for (const Query& q : data->queries) {
        maxMs = qMax(maxMs, q.durationMs);
        total += q.durationMs;
    }
    // the ratings of the live log, worked out from the session's figures
    data->durationMsTotal = total;
    data->durationMsMax = maxMs;
    data->queries.followRatings(&data->durationMsTotal, &data->durationMsMax);
    return first;
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
    stmt("SELECT id,\n  name\tFROM users", 0.25, false, 3),
    stmt("INSERT INTO users VALUES (\"x\")", 12.7),
    stmt("SELECT * FROM missing", 2.0, true),
};

} // namespace

class TestSessionWidget : public QObject
{
    Q_OBJECT
    EnglishTexts texts;
    languageEngine* lang() const { return texts.lang.get(); }

private slots:
    void loadShowsEveryStatement()
    {
        View v(lang(), kFirst);
        // One-line text in the user role; the newest on top, selected and shown.
        QCOMPARE(v.column(SessionWidget::ColQuery, false, Qt::UserRole),
                 (QStringList{"SELECT id, name FROM users", kFirst[1].text, kFirst[2].text}));
        QCOMPARE(v.column(SessionWidget::ColNumber), (QStringList{"3", "2", "1"}));
        QCOMPARE(v.current(), 2);
        QCOMPARE(v.viewer(), kFirst[2].text);
        QCOMPARE(v.w->graph()->markedIndex(), 2);
        QVERIFY(v.actionsEnabled());
        v.w->loadQueries();   // loading again rebuilds, not appends
        QCOMPARE(v.w->graph()->values(), (QList<double>{0.25, 12.7, 2.0}));
        QVERIFY(v.label("statQuery").contains(">3<"));

        // A running session shows so, also after a language change; once it ends, its duration.
        v.data.duration = QTime(0, 0).addMSecs(1250);
        v.w->setFlagActive(true);
        v.w->changeLanguage();
        QVERIFY(v.label("statElapsed").contains(lang()->session("performed_str")));
        v.w->updateElapsedStat();
        QVERIFY(!v.w->isActive() && v.label("statElapsed").contains("00:00:01.250"));

        // An empty session: nothing to act on until its own first batch arrives
        // (without a session manager, its position tells which batch is its own).
        View empty(lang(), {}, 4);
        QVERIFY(!empty.actionsEnabled() && empty.viewer().isEmpty());
        const uint first = record(&empty.data, kFirst.mid(0, 1));
        empty.w->addQueries(3, first, 1);
        QCOMPARE(empty.w->queryModel()->rowCount(), 0);
        empty.w->addQueries(4, first, 1);
        QVERIFY(empty.actionsEnabled());
    }

    void partlyReleasedSessionShowsWhatIsKept()
    {
        // The first two statements were released to stay within the memory
        // budget: the view numbers the rest as in the session, says how many
        // went, and a later batch and a further release line up.
        View v(lang(), kFirst);
        v.data.queries.releaseBefore(2);
        v.w->loadQueries();
        QCOMPARE(v.column(SessionWidget::ColNumber), QStringList{"3"});
        QCOMPARE(v.column(SessionWidget::ColQuery, true, Qt::UserRole), QStringList{kFirst[2].text});
        QCOMPARE(v.w->graph()->values(), QList<double>{2.0});
        QVERIFY2(v.label("statQuery").contains(">3 (" + lang()->session("released_str").arg(2) + ")<"),
                 qPrintable(v.label("statQuery")));
        QCOMPARE(v.w->exportNote(), lang()->session("released_str").arg(2)); // an export says so first
        v.add({stmt("SELECT 4", 1.0)});
        QCOMPARE(v.column(SessionWidget::ColNumber), (QStringList{"4", "3"}));
        QCOMPARE(v.viewer(), QString("SELECT 4"));
        v.data.queries.releaseBefore(3);
        v.add({stmt("SELECT 5", 1.0)});   // before the tab is reloaded: released rows show nothing
        QCOMPARE(v.column(SessionWidget::ColNumber), (QStringList{"5", "4", ""}));
        v.w->loadQueries();
        QCOMPARE(v.column(SessionWidget::ColNumber), (QStringList{"5", "4"}));
    }

    void reloadKeepsColumnsSortAndFilter()
    {
        View v(lang(), kFirst + QList<Query>{stmt("SELECT 5", 5.0)});
        QHeaderView* header = v.w->tableQueries()->horizontalHeader();
        v.w->tableQueries()->sortByColumn(SessionWidget::ColTimeMs, Qt::AscendingOrder);
        v.w->proxyModel()->applyMode(SortFilterProxyModel::ModeRead, QString(), 1);
        v.w->loadQueries();
        // Hidden, the widths stay as they are; shown, they follow the contents.
        QCOMPARE(header->sectionResizeMode(SessionWidget::ColTimePercent), QHeaderView::Interactive);
        v.w->show();
        v.w->loadQueries();
        QCOMPARE(header->sectionResizeMode(SessionWidget::ColTimePercent), QHeaderView::ResizeToContents);
        QCOMPARE(header->sortIndicatorSection(), int(SessionWidget::ColTimeMs));
        QCOMPARE(v.column(SessionWidget::ColNumber), (QStringList{"1", "3", "4"}));   // sorted, still filtered
        QCOMPARE(v.current(), 3);   // the newest statement that passes
    }

    void numberColumnsShowWholeNumbers()
    {
        // The view is shown while the statement numbers pass 9999, and a
        // statement brings a seven-digit row count: both are shown whole.
        View v(lang(), QVector<Query>(9998, stmt("DO 1", 1.0)).toList());
        v.w->resize(1000, 600);
        v.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(v.w.data()));
        v.add(QVector<Query>(2346, stmt("DO 1", 1.0)).toList() << stmt("SELECT * FROM big", 2.0, false, 1234567));
        QCoreApplication::processEvents();
        QTableView* table = v.w->tableQueries();
        QStyleOptionViewItem option;
        option.initFrom(table);
        for (int col : {int(SessionWidget::ColNumber), int(SessionWidget::ColRows)}) {
            const QModelIndex top = table->model()->index(0, col);
            QCOMPARE(top.data().toString(), QString(col == SessionWidget::ColNumber ? "12345" : "1234567"));
            QVERIFY2(table->itemDelegate(top)->sizeHint(option, top).width() <= table->columnWidth(col),
                     qPrintable(QString("column %1 is %2 px").arg(col).arg(table->columnWidth(col))));
        }
    }

    void batchesReachOnlyTheirSession()
    {
        MngrSessions mngr(texts.settings.get());
        auto* older = new SessionData;
        auto* mine = new SessionData;
        mngr.sessions << older << mine;
        record(mine, kFirst);
        SessionWidget w(lang(), mine, 1);
        w.setSessionManager(&mngr);
        w.loadQueries();

        // The record grows, but the batch is announced for another session.
        uint first = record(mine, {stmt("SELECT 2", 1.0)});
        QSignalSpy inserted(w.queryModel(), &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(w.queryModel(), &QAbstractItemModel::dataChanged);
        w.addQueries(0, first, 1);
        QCOMPARE(inserted.count() + changed.count(), 0);
        QCOMPARE(w.graph()->values().size(), 3);

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
        // A batch announced beyond what the record holds adds only what exists.
        first = record(mine, {stmt("SELECT 'mine'", 1.0)});
        w.addQueries(0, first, 5);
        QCOMPARE(w.queryModel()->rowCount(), 5);
        QCOMPARE(w.queryModel()->index(4, SessionWidget::ColQuery).data(Qt::UserRole).toString(), QString("SELECT 'mine'"));
    }

    void batchRewritesOnlyDependentColumnsOfOlderRows()
    {
        View v(lang(), kFirst.mid(0, 2));
        QList<QStringList> before;
        for (int c = 0; c < SessionWidget::ColumnCount; ++c)
            before << v.column(c, false);
        QStandardItemModel* m = v.w->queryModel();
        QSignalSpy inserted(m, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(m, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(m, &QAbstractItemModel::modelReset);
        // A slower statement: every share and every percent of the slowest move.
        v.add({stmt("SELECT SLEEP(0.05)", 50.0), stmt("SELEC 1", 0.5, true)});

        QCOMPARE(m->rowCount(), 4);
        QCOMPARE(reset.count(), 0);
        QVERIFY(!inserted.isEmpty());
        for (const QVariantList& args : inserted)
            QVERIFY(args.at(1).toInt() >= 2);   // only past the old rows
        for (const QVariantList& args : changed) {
            const QModelIndex tl = args.at(0).toModelIndex(), br = args.at(1).toModelIndex();
            QVERIFY2(tl.row() >= 2
                         || (tl.column() >= SessionWidget::ColTimePercent && br.column() <= SessionWidget::ColLongestPercent),
                     qPrintable(QString("columns %1..%2 of old rows changed").arg(tl.column()).arg(br.column())));
        }
        for (int c = 0; c < SessionWidget::ColumnCount; ++c)
            if (c != SessionWidget::ColTimePercent && c != SessionWidget::ColLongestPercent)
                QCOMPARE(v.column(c, false).mid(0, 2), before[c]);
        QCOMPARE(v.column(SessionWidget::ColLongestPercent, false), (QStringList{"1", "25", "100", "1"}));
    }

    void selectionFollowsNewestAndGraph()
    {
        View v(lang(), kFirst);
        v.w->setCurrentQuery(0);   // the user looks at the oldest statement
        QCOMPARE(v.viewer(), QString(kFirst[0].text).replace('\t', "    "));
        QCOMPARE(v.w->graph()->markedIndex(), 0);

        // A batch moves the selection to its newest statement.
        v.add({stmt("SELECT 0 FROM dual", 0.5), stmt("UPDATE t SET a = 0", 0.7)});
        QCOMPARE(v.current(), 4);
        QCOMPARE(v.w->tableQueries()->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(v.viewer(), QString("UPDATE t SET a = 0"));
        QCOMPARE(v.w->graph()->markedIndex(), 4);
        QCOMPARE(v.w->graph()->values().size(), 5);

        // A click on the graph chooses its statement; positions outside are ignored.
        emit v.w->graph()->setIndexQuery(1);
        QCOMPARE(v.current(), 1);
        QCOMPARE(v.viewer(), kFirst[1].text);
        QCOMPARE(v.w->graph()->markedIndex(), 1);
        v.w->setCurrentQuery(7);
        v.w->setCurrentQuery(-1);
        QCOMPARE(v.current(), 1);
    }

    void filterButton()
    {
        View v(lang(), kFirst + QList<Query>{stmt("select name from users where id = 1", 0.4)});
        QPushButton* btn = v.button("btnFilter");
        ModalWatcher watcher;
        // Errors only: the session view's status column.
        watcher.onDialog = [](QDialog* d) {
            d->findChild<QRadioButton*>("rbError")->setChecked(true);
            d->accept();
        };
        btn->click();
        QVERIFY(btn->isChecked());
        QCOMPARE(v.column(SessionWidget::ColNumber), QStringList{"3"});
        // Statements arriving while filtered are filtered too.
        v.add({stmt("SELECT nope", 0.2, true), stmt("SELECT 1", 0.2)});
        QCOMPARE(v.column(SessionWidget::ColNumber), (QStringList{"5", "3"}));

        // Unchecking shows every row again, without a dialog.
        btn->click();
        QVERIFY(!btn->isChecked());
        QCOMPARE(v.column(SessionWidget::ColNumber).size(), 6);
        QCOMPARE(watcher.dialogs.size(), 1);

        // A cancelled dialog unchecks the button and shows everything; the last
        // accepted choice stays.
        watcher.onDialog = [](QDialog* d) {
            d->findChild<QRadioButton*>("rbWrite")->setChecked(true);
            d->reject();
        };
        btn->click();
        QVERIFY(!btn->isChecked());
        QCOMPARE(v.column(SessionWidget::ColNumber).size(), 6);
        QCOMPARE(v.w->currentFilterMode(), int(SortFilterProxyModel::ModeErrors));
    }

    void exportAndRequests()
    {
        View v(lang(), kFirst + QList<Query>{stmt("SELECT \"a\" FROM t", 0.5)});
        v.data.id = 42;
        // The chosen statement goes to the SQL tab (explain: command 2) or the clipboard.
        QSignalSpy sql(v.w.data(), &SessionWidget::sqlTabRequested);
        QSignalSpy copy(v.w.data(), &SessionWidget::clickedCopy);
        v.w->setCurrentQuery(1);
        v.button("btnExplay")->click();
        emit v.w->tableQueries()->doubleClicked(v.w->tableQueries()->currentIndex());
        v.button("btnCopy")->click();
        QCOMPARE(QList<QVariantList>(sql), (QList<QVariantList>{{kFirst[1].text, 2, "shop"}, {kFirst[1].text, 1, "shop"}}));
        QCOMPARE(QList<QVariantList>(copy), QList<QVariantList>{{kFirst[1].text}});

        // The export takes the rows as shown: filtered and in the chosen order.
        v.w->proxyModel()->applyMode(SortFilterProxyModel::ModeRead, QString(), 1);
        v.w->tableQueries()->sortByColumn(SessionWidget::ColTimeMs, Qt::AscendingOrder);
        QStringList rows;
        for (const QStringList& row : v.w->exportRows())
            rows << row.mid(0, 2).join('|');
        QCOMPARE(rows, (QStringList{"1|SELECT id, name FROM users", "4|SELECT \"\"a\"\" FROM t", "3|SELECT * FROM missing"}));
        // The button proposes the session's file.
        QString proposed;
        ModalWatcher watcher;
        watcher.onDialog = [&](QDialog* d) {
            proposed = qobject_cast<ExportDialog*>(d)->currentPath();
            d->reject();
        };
        v.button("btnExport")->click();
        QCOMPARE(proposed, QDir::homePath() + "/0000042.csv");
    }

    void twinButton()
    {
        // Statements written alike are twins; letter case and blanks count.
        SessionData twins;
        record(&twins, {stmt("SELECT 1", 1), stmt("select 1", 1), stmt("SELECT  1", 1), stmt("SELECT 2", 1),
                        stmt("SELECT 1", 1), stmt("SELECT 2", 1), stmt("SELECT 1", 1)});
        QCOMPARE(SessionWidget::twinCount(&twins), 2);

        // Repeated statements open the dialog; none, the information box.
        View repeated(lang(), {stmt("SELECT 1", 1), stmt("SELECT 2", 1), stmt("SELECT 1", 1)});
        int rows = -1;
        ModalWatcher watcher;
        watcher.onDialog = [&](QDialog* d) {
            rows = qobject_cast<TwinWidget*>(d)->count();
            d->reject();
        };
        repeated.button("btnTwin")->click();
        QCOMPARE(rows, 1);
        View none(lang(), kFirst);
        none.button("btnTwin")->click();
        QCOMPARE(watcher.boxes, QStringList{lang()->session("twin_btn") + "|" + lang()->session("not_found")});
    }
};

QTEST_MAIN(TestSessionWidget)
#include "tst_sessionwidget.moc"
