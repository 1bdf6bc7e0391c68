// The session list and the session tabs: bounded rows newest first, running
// and closed rows, tabs opened from the list and from the flow,
// bold rows while open, the compare button and clearing all.

#include "LiveFixture.h"

#include "CloseButton.h"
#include "PlotterMoved.h"
#include "SessionWidget.h"
#include "SortFilterProxyModel.h"
#include "StatisticsPage.h"
#include "TabWidget.h"
#include "ui_StatisticsPage.h"

class TestLiveSessions : public QObject
{
    Q_OBJECT
    std::unique_ptr<Live> fx;

    void select(const QList<unsigned long>& ids)
    {
        QTableView* view = fx->ui()->tableSessions;
        view->clearSelection();
        for (unsigned long id : ids)
            view->selectionModel()->select(
                fx->win->sessionsPage()->proxy()->mapFromSource(fx->sessions()->index(fx->sessionRow(id), 0)),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void openFromList(unsigned long id)
    {
        select({id});
        fx->ui()->openTabSBtn->click();
    }
    void openFromFlow(int row)
    {
        QVERIFY(QMetaObject::invokeMethod(fx->ui()->flowTable, "doubleClicked",
                                          Q_ARG(QModelIndex, fx->flowView()->index(row, 0))));
    }
    bool isBold(unsigned long id) const
    {
        for (int c = 0; c < SessionsPage::ColumnCount; ++c)
            if (fx->sessions()->item(fx->sessionRow(id), c)->font().weight() != QFont::Bold)
                return false;
        return true;
    }
    int runtimeTabs() const { return fx->ui()->tabWidget->count() - 4; }
    int currentQuery(SessionWidget* view) const
    {
        return view->proxyModel()->mapToSource(view->tableQueries()->currentIndex()).row();
    }

private slots:
    void init() { fx = std::make_unique<Live>(); }
    void cleanup() { fx.reset(); }

    void limitDropsOldestSessionAndItsTab();
    void runningAndClosedRows();
    void openingTwiceSwitchesAndClosingRemovesBold();
    void compareButtonForTwoToFiveRows();
    void clearAllResets();
};

void TestLiveSessions::limitDropsOldestSessionAndItsTab()
{
    fx->settings->MaxSessions = 2;
    SessionData* a = fx->addSession();
    const unsigned long first = a->id;
    openFromList(first);
    SessionData* b = fx->addSession();
    SessionData* c = fx->addSession();
    // The oldest row goes; newest first, the new row selected.
    QCOMPARE(fx->sessions()->rowCount(), 2);
    QCOMPARE(fx->sessionRow(first), -1);
    QAbstractItemModel* view = fx->ui()->tableSessions->model();
    QCOMPARE(view->index(0, 0).data().toString(), SessionsPage::paddedId(c->id));
    QCOMPARE(view->index(1, 0).data().toString(), SessionsPage::paddedId(b->id));
    QCOMPARE(fx->ui()->tableSessions->currentIndex().row(), 0);
    // The manager keeps every record; a dropped row's statements change nothing.
    QCOMPARE(fx->win->statisticsPage()->form()->sessions->text(), QStringLiteral("3"));
    fx->addQueries(a, {"SELECT 1"});
    QCOMPARE(fx->sessions()->rowCount(), 2);
    // When the manager drops the record, its tab goes too.
    fx->mngr->maxSessions = 3;
    fx->addSession();
    QCOMPARE(runtimeTabs(), 0);
    QVERIFY(fx->ui()->tabWidget->currentIndex() != 3);
}

void TestLiveSessions::runningAndClosedRows()
{
    SessionData* s = fx->addSession();
    QStandardItem* elapsed = fx->sessions()->item(fx->sessionRow(s->id), SessionsPage::ColElapsed);
    QCOMPARE(elapsed->text(), fx->lang->sessions(QStringLiteral("sess_performed_str")));
    QVERIFY(elapsed->data(Qt::ForegroundRole).isValid());
    // The database is filled once.
    fx->mngr->slotDbName(s->id, QStringLiteral("shop"));
    fx->mngr->slotDbName(s->id, QStringLiteral("other"));
    QCOMPARE(fx->sessionCell(s->id, SessionsPage::ColDb), QStringLiteral("shop"));
    fx->close(s, 83723);
    QCOMPARE(elapsed->text(), QStringLiteral("00:01:23.723"));
    QVERIFY(!elapsed->data(Qt::ForegroundRole).isValid());
}

void TestLiveSessions::openingTwiceSwitchesAndClosingRemovesBold()
{
    fx->mngr->lastId = 11;
    SessionData* s = fx->addSession();
    SessionData* other = fx->addSession();
    fx->addQueries(s, {"SELECT 1", "SELECT 2", "SELECT 3"});
    fx->flush();
    TabWidget* tabs = fx->ui()->tabWidget;
    openFromList(12);
    QCOMPARE(tabs->currentIndex(), 4);
    QCOMPARE(tabs->tabText(4), QStringLiteral("12"));
    auto* view = qobject_cast<SessionWidget*>(tabs->widget(4));
    QVERIFY(view);
    QCOMPARE(view->queryModel()->rowCount(), 3);
    QVERIFY(isBold(12));
    QVERIFY(!isBold(other->id));

    // Again from the list and from the flow (view row 1 is the second
    // statement): the same tab, on the statement clicked.
    tabs->setCurrentIndex(1);
    openFromList(12);
    QCOMPARE(tabs->currentIndex(), 4);
    openFromFlow(1);
    QCOMPARE(runtimeTabs(), 1);
    QCOMPARE(tabs->currentIndex(), 4);
    QCOMPARE(currentQuery(view), 1);
    // The open view takes later statements of its session.
    fx->addQueries(s, {"SELECT 4"});
    QTRY_COMPARE(view->queryModel()->rowCount(), 4);
    fx->flush();

    // Closing the tab removes the bold; from the flow the title is padded.
    auto* button = qobject_cast<CloseButton*>(tabs->tabBar()->tabButton(4, QTabBar::RightSide));
    if (!button)
        button = qobject_cast<CloseButton*>(tabs->tabBar()->tabButton(4, QTabBar::LeftSide));
    QVERIFY(button);
    button->click();
    QCOMPARE(runtimeTabs(), 0);
    QVERIFY(!isBold(12));
    openFromFlow(3);
    QCOMPARE(tabs->tabText(4), QStringLiteral("0000012"));
    QCOMPARE(currentQuery(qobject_cast<SessionWidget*>(tabs->widget(4))), 0);
    openFromList(12);
    QCOMPARE(runtimeTabs(), 1);
    QVERIFY(isBold(12));
}

void TestLiveSessions::compareButtonForTwoToFiveRows()
{
    QList<unsigned long> ids;
    for (int i = 0; i < 6; ++i)
        ids << fx->addSession()->id;
    for (int n : {1, 2, 5, 6}) {
        select(ids.mid(0, n));
        QCOMPARE(fx->ui()->btnCompareSessions->isEnabled(), n >= 2 && n <= 5);
    }
}

void TestLiveSessions::clearAllResets()
{
    SessionData* a = fx->addSession();
    fx->addQueries(a, {"SELECT 1", "!SELEC 2"});
    fx->close(fx->addSession(false));
    fx->flush();
    openFromList(a->id);
    QVERIFY(fx->win->errorQueries > 0 && fx->win->errorConnections > 0);
    auto* flowPlotter = fx->ui()->frame_4->findChild<PlotterMoved*>();
    flowPlotter->addValues({5, 1, 1, 1, 1, 1});

    fx->ui()->clearSessionsBtn->click();
    const MainWindow* w = fx->win.get();
    QCOMPARE((QVector<double>{double(w->queryCount), double(w->rowsSeen), double(w->errorQueries),
                            double(w->errorConnections), double(w->responseKbSeen)}),
             QVector<double>(5, 0.0));
    QCOMPARE(fx->win->statisticsPage()->form()->queries->text(), QStringLiteral("0"));
    QCOMPARE(fx->sessions()->rowCount() + fx->flow()->rowCount() + fx->mngr->modelTopQueries->rowCount(), 0);
    QVERIFY(fx->mngr->sessions.isEmpty() && flowPlotter->values().isEmpty());
    QVERIFY(!fx->ui()->btnExport->isEnabled() && !fx->ui()->openTabSBtn->isEnabled());
    // The fixed pages and the disabled spacer stay.
    TabWidget* tabs = fx->ui()->tabWidget;
    QCOMPARE(tabs->count(), 4);
    QVERIFY(!tabs->isTabEnabled(3));

    // Counting starts again; the next tab follows the spacer.
    SessionData* next = fx->addSession();
    fx->addQueries(next, {"SELECT 9"});
    fx->flush();
    QCOMPARE(fx->flowColumn(FlowModel::ColNumber), QStringList{"1"});
    openFromList(next->id);
    QCOMPARE(tabs->indexOf(tabs->currentWidget()), 4);
}

QTEST_MAIN(TestLiveSessions)
#include "tst_livesessions.moc"
