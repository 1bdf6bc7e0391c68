// The session view (loading, live batches, selection, filter, export) and
// what it opens: the twin-query view (groups, counts, positions, sorting,
// large sessions, a record dropped while open) and the pattern list's model,
// whose refreshes take the changed figures, new patterns and the "other" row
// so that a sorted view follows them.
#include "DataViewerWidget.h"
#include "ExportDialog.h"
#include "FilterDialog.h"
#include "ModalWatcher.h"
#include "MngrSessions.h"
#include "PatternModel.h"
#include "PatternStats.h"
#include "SessionData.h"
#include "SessionWidget.h"
#include "ShownWidths.h"
#include "SortFilterProxyModel.h"
#include "TestSessions.h"
#include "TestTexts.h"
#include "TwinGroups.h"
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
    q.dbName = "shop";
    return q;
}

// Appends a batch to `data` with the running figures the capture keeps;
// returns the index of the batch's first statement.
uint record(SessionData* data, const QList<Query>& batch)
{
    const uint first = uint(data->queries.size());
    for (const Query& q : batch) {
        data->queries.append(q);
        data->durationMsTotal += q.durationMs;
        data->durationMsMax = qMax(data->durationMsMax, q.durationMs);
    }
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
    // Clicks `name` with `onDialog` answering the dialog it opens.
    ModalWatcher* click(const char* name, std::function<void(QDialog*)> onDialog)
    {
        watcher.reset(new ModalWatcher);
        watcher->onDialog = onDialog;
        button(name)->click();
        return watcher.data();
    }
    QScopedPointer<ModalWatcher> watcher;
};

const QList<Query> kFirst = {
    stmt("SELECT id,\n  name\tFROM users", 0.25, false, 3),
    stmt("INSERT INTO users VALUES (\"x\")", 12.7),
    stmt("SELECT * FROM missing", 2.0, true),
};

/// The dialog over a record of `texts`; the record may be dropped by the test.
struct Twin
{
    SessionData* data;
    QScopedPointer<TwinWidget> w;
    explicit Twin(const QStringList& texts)
        : data(sessionOf(texts)), w(new TwinWidget(data, "Repeated", "Statement", "Repeats", "Positions")) {}
    ~Twin() { delete data; }
    /// Column `c` of the table as shown, in `role`.
    QStringList column(int c, int role = Qt::DisplayRole) const
    {
        QStringList out;
        for (int r = 0; r < w->table()->rowCount(); ++r)
            out << w->table()->item(r, c)->data(role).toString();
        return out;
    }
};

/// Twelve statements: "SELECT 1" at positions 1, 4, 9; "select 1" (letter
/// case: a group of its own) at 2, 5; one blank more at 3; the rest differ.
QStringList small()
{
    QStringList texts;
    for (int i = 0; i < 12; ++i)
        texts << QStringLiteral("SELECT %1 FROM t").arg(100 + i);
    texts[0] = texts[3] = texts[8] = "SELECT 1";
    texts[1] = texts[4] = "select 1";
    texts[2] = "SELECT  1";
    return texts;
}

} // namespace

class TestSessionWidget : public QObject
{
    Q_OBJECT
    EnglishTexts texts;
    languageEngine* lang() const { return texts.lang.get(); }

private slots:
    void loadSelectAndFollowNewest()
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
        v.w->setCurrentQuery(0);   // the user looks at the oldest statement
        QCOMPARE(v.viewer(), QString(kFirst[0].text).replace('\t', "    "));
        QCOMPARE(v.w->graph()->markedIndex(), 0);
        // A batch moves the selection to its newest statement.
        v.add({stmt("SELECT 0 FROM dual", 0.5), stmt("UPDATE t SET a = 0", 0.7)});
        QCOMPARE(v.current(), 4);
        QCOMPARE(v.w->tableQueries()->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(v.viewer(), QString("UPDATE t SET a = 0"));
        QCOMPARE(v.w->graph()->markedIndex(), 4);
        // A click on the graph chooses its statement; positions outside are ignored.
        emit v.w->graph()->setIndexQuery(1);
        QCOMPARE(v.viewer(), kFirst[1].text);
        QCOMPARE(v.w->graph()->markedIndex(), 1);
        v.w->setCurrentQuery(7);
        v.w->setCurrentQuery(-1);
        QCOMPARE(v.current(), 1);

        // Running (also after a language change), then ended: its duration.
        v.data.duration = QTime(0, 0).addMSecs(1250);
        v.w->setFlagActive(true);
        v.w->changeLanguage();
        QVERIFY(v.label("statElapsed").contains(lang()->session("performed_str")));
        v.w->updateElapsedStat();
        QVERIFY(!v.w->isActive() && v.label("statElapsed").contains("00:00:01.250"));

        // An empty session acts only once its own first batch arrives (its position tells which is its own).
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
        // Released statements: the rest numbered as in the session, the count said.
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
        v.add({stmt("SELECT 5", 3.0)});   // before the tab lets them go: released rows show nothing
        QCOMPARE(v.column(SessionWidget::ColNumber), (QStringList{"5", "4", ""}));
        v.w->dropReleased();   // the rest stays, and so does the statement shown
        QCOMPARE(v.column(SessionWidget::ColNumber), (QStringList{"5", "4"}));
        QCOMPARE(v.w->graph()->values(), (QList<double>{1.0, 3.0}));
        QCOMPARE(v.column(SessionWidget::ColQuery, false, Qt::UserRole), (QStringList{"SELECT 4", "SELECT 5"}));
        QCOMPARE(v.viewer(), QString("SELECT 5"));
        QVERIFY2(v.label("statQuery").contains(">5 (" + lang()->session("released_str").arg(3) + ")<"),
                 qPrintable(v.label("statQuery")));
        // Loading again does not add another measurer of the number columns.
        v.w->loadQueries();
        QCOMPARE(v.w->tableQueries()->findChildren<NumberWidths*>().size(), 1);
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
        // Shown while the numbers pass 9999, then a seven-digit row count: both shown whole.
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

        // The oldest record dropped: this session moves to position 0, a new one's batch at 1 is not ours.
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

    void filterButton()
    {
        View v(lang(), kFirst + QList<Query>{stmt("select name from users where id = 1", 0.4)});
        QPushButton* btn = v.button("btnFilter");
        // Errors only; statements arriving while filtered are filtered too.
        v.click("btnFilter", [](QDialog* d) {
            d->findChild<QRadioButton*>("rbError")->setChecked(true);
            d->accept();
        });
        QVERIFY(btn->isChecked());
        v.add({stmt("SELECT nope", 0.2, true), stmt("SELECT 1", 0.2)});
        QCOMPARE(v.column(SessionWidget::ColNumber), (QStringList{"5", "3"}));
        // Unchecking shows every row again, without a dialog.
        QVERIFY(v.click("btnFilter", {})->dialogs.isEmpty());
        QVERIFY(!btn->isChecked());
        QCOMPARE(v.column(SessionWidget::ColNumber).size(), 6);
        // A cancelled dialog unchecks the button and shows everything; the last accepted choice stays.
        v.click("btnFilter", [](QDialog* d) {
            d->findChild<QRadioButton*>("rbWrite")->setChecked(true);
            d->reject();
        });
        QVERIFY(!btn->isChecked());
        QCOMPARE(v.column(SessionWidget::ColNumber).size(), 6);
        QCOMPARE(v.w->currentFilterMode(), int(SortFilterProxyModel::ModeErrors));
    }

    void buttonsAndRequests()
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

        // The export takes the rows as shown and proposes the session's file.
        v.w->proxyModel()->applyMode(SortFilterProxyModel::ModeRead, QString(), 1);
        QCOMPARE(v.w->exportRows().size(), 3);
        QString proposed;
        v.click("btnExport", [&](QDialog* d) {
            proposed = qobject_cast<ExportDialog*>(d)->currentPath();
            d->reject();
        });
        QCOMPARE(proposed, QDir::homePath() + "/0000042.csv");

        // Repeated statements open the twin dialog; none, the information box.
        QCOMPARE(SessionWidget::twinCount(&v.data), 0);
        QCOMPARE(v.click("btnTwin", {})->boxes, QStringList{lang()->session("twin_btn") + "|" + lang()->session("not_found")});
        v.add({stmt("SELECT 1", 1), stmt("SELECT 1", 1)});
        int rows = -1;
        v.click("btnTwin", [&](QDialog* d) {
            rows = qobject_cast<TwinWidget*>(d)->count();
            d->reject();
        });
        QCOMPARE(QList<int>({rows, SessionWidget::twinCount(&v.data)}), QList<int>({1, 1}));
    }

    void groupsCountsAndPositions()
    {
        Twin t(small());
        QVERIFY(t.w->windowTitle().endsWith(" 0000042"));
        QCOMPARE(t.w->count(), 2);
        QCOMPARE(t.column(TwinWidget::ColStatement, Qt::UserRole), (QStringList{"SELECT 1", "select 1"}));
        QCOMPARE(t.column(TwinWidget::ColCount), (QStringList{"3", "2"}));
        QCOMPARE(t.column(TwinWidget::ColPositions), (QStringList{"1, 4, 9", "2, 5"}));
        QCOMPARE(TwinGroups::group(t.data->queries).size(), 12 - 3);
        t.w->table()->setCurrentCell(1, 0);   // the viewer follows the current row
        QCOMPARE(t.w->shownStatement(), QString("select 1"));
    }

    void countSortsByValue()
    {
        QStringList texts;
        for (int i = 0; i < 10; ++i)
            texts << "A" << "B" << (i < 9 ? "C" : "D");
        Twin t(texts);
        t.w->table()->sortByColumn(TwinWidget::ColCount, Qt::AscendingOrder);
        QCOMPARE(t.column(TwinWidget::ColCount), (QStringList{"9", "10", "10"}));
    }

    void largeSessions()
    {
        QStringList distinct;
        for (int i = 0; i < 50000; ++i)
            distinct << QStringLiteral("SELECT * FROM orders WHERE id = %1").arg(i);
        QCOMPARE(Twin(distinct).w->count(), 0);

        // One statement 50 000 times: the cell draws a short part of the
        // positions, the value viewer gets the whole list.
        Twin t(QVector<QString>(50000, "SELECT 1").toList());
        QCOMPARE(t.column(TwinWidget::ColCount), QStringList{"50000"});
        const QString shown = t.column(TwinWidget::ColPositions).first();
        const QString whole = t.column(TwinWidget::ColPositions, Qt::UserRole).first();
        QVERIFY(shown.size() <= TwinWidget::positionsShownChars);
        QVERIFY(shown.startsWith("1, 2, 3, ") && shown.endsWith(QString(", ") + QChar(0x2026)));
        QCOMPARE(whole.count(','), 49999);
        QVERIFY(whole.endsWith(", 49999, 50000"));
        QString viewed;
        ModalWatcher watcher;
        watcher.onDialog = [&](QDialog* d) {
            viewed = qobject_cast<DataViewerWidget*>(d)->text();
            d->reject();
        };
        t.w->showData(t.w->table()->model()->index(0, TwinWidget::ColPositions));
        QCOMPARE(viewed, whole);
    }

    void survivesDroppedRecord()
    {
        Twin t(small());
        t.w->show();
        // The record changes under the open dialog, then is dropped: the dialog keeps what it showed.
        QScopedPointer<SessionData> other(sessionOf({"other 1", "other 1", "other 2"}, 7));
        t.data->queries.releaseBefore(t.data->queries.size());
        for (const Query& q : other->queries)
            t.data->queries.append(q);
        other.reset(); // deletes the statements the dialog was built from
        delete t.data;
        t.data = nullptr;
        for (int c : {TwinWidget::ColStatement, TwinWidget::ColCount, TwinWidget::ColPositions})
            t.w->table()->sortByColumn(c, Qt::DescendingOrder);
        QCOMPARE(t.column(TwinWidget::ColPositions), (QStringList{"2, 5", "1, 4, 9"}));
        t.w->table()->setCurrentCell(1, 0);
        QCOMPARE(t.w->shownStatement(), QString("SELECT 1"));
        t.w->table()->setCurrentCell(0, 2);
        QCOMPARE(t.w->shownStatement(), QString("select 1"));
        QVERIFY(QTest::qWaitForWindowExposed(t.w.data()));
        QVERIFY(!t.w->grab().isNull()); // paints every cell from its own copies
    }

    void sortedViewFollowsRefreshes()
    {
        PatternStats stats(3);
        PatternModel model;
        model.setStats(&stats);
        QSortFilterProxyModel view;
        view.setSourceModel(&model);
        view.setSortRole(PatternModel::SortRole);
        view.setDynamicSortFilter(true);
        view.sort(PatternModel::ColTotal, Qt::DescendingOrder);
        const auto add = [&](const QString& key, double ms) {
            PatternSample s;
            s.durationMs = ms;
            s.text = key + " (slowest?)";
            stats.add(key, s);
        };
        const auto order = [&]() {
            QStringList keys;
            for (int r = 0; r < view.rowCount(); ++r)
                keys << view.index(r, PatternModel::ColKey).data(Qt::UserRole).toString() + '#'
                            + view.index(r, PatternModel::ColRank).data().toString();
            return keys;
        };
        add("a", 5);
        add("b", 2);
        model.refresh();
        QCOMPARE(order(), (QStringList{"a#1", "b#2"}));
        // b overtakes a; c is new; nothing else is announced as changed
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        add("b", 4);
        add("c", 1);
        model.refresh();
        QCOMPARE(order(), (QStringList{"b#1", "a#2", "c#3"}));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(view.index(0, PatternModel::ColCount).data().toString(), QStringLiteral("2"));
        QCOMPARE(view.index(0, PatternModel::ColTotal).data().toDouble(), 6.0);
        // a fourth pattern folds the least recently seen (a) into "other", the last row, sorted by its total
        model.setOtherText("(%1 more)");
        add("d", 0.5);
        model.refresh();
        QCOMPARE(order(), (QStringList{"b#1", "(1 more)#", "c#2", "d#3"}));
        const int other = model.rowCount() - 1;
        QCOMPARE(model.index(other, PatternModel::ColTotal).data().toDouble(), 5.0);
        QCOMPARE(model.sampleText(other), QStringLiteral("a (slowest?)"));
        // cleared statistics empty the list
        stats.clear();
        model.refresh();
        QCOMPARE(model.rowCount(), 0);
    }
};

QTEST_MAIN(TestSessionWidget)
#include "tst_sessionwidget.moc"
