// The live views of the main window: the query flow (bounded rows newest
// first, what a row shows, error marking, highlighting when shown, the code
// viewer, filter and export of the visible rows, the settings' lower limits),
// the session list and the session tabs (running and closed rows, tabs opened
// from the list and from the flow, bold rows while open, the compare button,
// clearing all) and each statement's share of its session's total and percent
// of the slowest, worked out when read.

#include "LiveFixture.h"

#include "CloseButton.h"
#include "PlotterMoved.h"
#include "Session.h"
#include "SessionWidget.h"
#include "SortFilterProxyModel.h"
#include "StatisticsPage.h"
#include "TabWidget.h"
#include "ui_StatisticsPage.h"

#include <cmath>
#include <numeric>

class TestLiveViews : public QObject
{
    Q_OBJECT
    std::unique_ptr<Live> fx;
    /// Clicks `button` and answers the dialog it opens with `answer`; the dialogs seen.
    QStringList viaDialog(QAbstractButton* button, std::function<void(QDialog*)> answer)
    {
        ModalWatcher watcher(fx->win.get());
        watcher.onDialog = answer;
        button->click();
        return watcher.dialogs;
    }
    QStringList chooseFilter(const QString& radio, const QString& keyword)
    {
        return viaDialog(fx->ui()->btnFilter, [radio, keyword](QDialog* d) {
            d->findChild<QRadioButton*>(radio)->setChecked(true);
            d->findChild<QLineEdit*>(QStringLiteral("lineEdit"))->setText(keyword);
            d->accept();
        });
    }
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

    void largeBatchKeepsNewest()
    {
        // A batch larger than the limit: counted at once; the next tick shows
        // its newest rows in one removal and one insertion.
        fx->settings->MaxLinesFlow = 3;
        SessionData* s = fx->addSession();
        fx->addQueries(s, {"SELECT 1", "SELECT 2"});
        fx->flush();
        QSignalSpy inserted(fx->flow(), &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(fx->flow(), &QAbstractItemModel::rowsRemoved);
        fx->addQueries(s, {"SELECT 3", "SELECT 4", "SELECT 5", "SELECT 6", "SELECT 7"});
        QCOMPARE(fx->win->queryCount, 7u);
        QTRY_COMPARE(fx->flowStatements(), (QStringList{"SELECT 7", "SELECT 6", "SELECT 5"}));
        QCOMPARE(fx->flowColumn(FlowModel::ColNumber), (QStringList{"7", "6", "5"}));
        QCOMPARE((QList<int>{inserted.count(), removed.count()}), (QList<int>{1, 1}));
        // While stopped nothing reaches the flow.
        fx->ui()->startBtn->click();
        fx->addQueries(s, {"SELECT 8"});
        fx->flush();
        QCOMPARE(fx->flowStatements().first(), QStringLiteral("SELECT 7"));
    }

    void rowContentsAndErrors()
    {
        fx->mngr->lastId = 11;
        SessionData* clean = fx->addSession();
        SessionData* s = fx->addSession();
        fx->addQueries(clean, {"SELECT 1"});
        fx->addQueries(s, {QStringLiteral("  SELECT *\n FROM t  \n")}, 1.23456, 42);
        QCOMPARE(fx->sessionCell(s->id, SessionsPage::ColStatus), QStringLiteral("yes"));
        fx->addQueries(s, {"!SELEC oops", "SELECT 2"}, 0.0004, 0);
        fx->flush();
        QCOMPARE(fx->sessionCell(s->id, SessionsPage::ColStatus) + fx->sessionCell(clean->id, SessionsPage::ColStatus),
                 QStringLiteral("noyes"));
        QCOMPARE(fx->win->statisticsPage()->form()->erQueries->text(), QStringLiteral("1"));
        // Later statements leave it at "no"; each error counts; the row follows the totals.
        fx->addQueries(s, {"SELECT 3", "!DROP x"});
        QCOMPARE(fx->win->errorQueries, 2u);
        QCOMPARE((QStringList{fx->sessionCell(s->id, SessionsPage::ColStatus), fx->sessionCell(s->id, SessionsPage::ColQueries),
                              fx->sessionCell(s->id, SessionsPage::ColRows)}),
                 (QStringList{"no", "5", "46"}));

        QAbstractItemModel* v = fx->flowView();
        QCOMPARE(fx->flowColumn(FlowModel::ColStatus), (QStringList{"yes", "no", "yes", "yes"}));
        QCOMPARE(v->index(2, FlowModel::ColSession).data().toString(), QStringLiteral("0000013"));
        QCOMPARE(v->index(2, FlowModel::ColQuery).data(Qt::UserRole).toString(), QStringLiteral("SELECT *\n FROM t"));
        QCOMPARE(v->index(2, FlowModel::ColTimeMs).data().toDouble(), 1.235);
    }

    void highlightOnlyWhenShown()
    {
        // Listing and counting cost no highlighting; the flow's rows and the top
        // list's rows are highlighted once each, when first shown.
        int calls = 0;
        const auto bold = [&calls](const QString& t) {
            ++calls;
            return QStringLiteral("<b>%1</b>").arg(t.toHtmlEscaped());
        };
        fx->flow()->setHighlighter(bold);
        fx->mngr->highlighter = bold;
        QStringList texts;
        for (int i = 0; i < 50; ++i)
            texts << QStringLiteral("  SELECT c FROM t WHERE id<%1 ").arg(i);
        SessionData* data = fx->addSession();
        fx->addQueries(data, texts);
        fx->addQueries(data, {texts.at(7), texts.at(7)});
        fx->flush();
        QCOMPARE(calls, 0);
        TopListModel* top = fx->mngr->modelTopQueries;   // the most frequent first
        for (int k = 0; k < 2; ++k)
            for (const QModelIndex& i : {fx->flowView()->index(0, FlowModel::ColQuery), top->index(0, 2)})
                QCOMPARE(i.data().toString(), QStringLiteral("<b>SELECT c FROM t WHERE id&lt;7</b>"));
        QCOMPARE(calls, 2);
        // After a re-ordering each top-list row still shows its own statement.
        fx->addQueries(data, {texts.at(3), texts.at(3), texts.at(3), texts.at(3)});
        for (int r = 0; r < top->rowCount(); ++r)
            QCOMPARE(top->index(r, 2).data().toString(),
                     QStringLiteral("<b>%1</b>").arg(top->index(r, 5).data().toString().trimmed().toHtmlEscaped()));
        QCOMPARE(top->index(0, 5).data().toString(), texts.at(3));
        QCOMPARE(calls, 51);
    }

    void viewerFollowsSelection()
    {
        auto select = [this](int row) {
            fx->ui()->flowTable->selectionModel()->setCurrentIndex(
                fx->flowView()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            return fx->ui()->queryViewer->toPlainText();
        };
        fx->mngr->maxSessions = 1;
        fx->addQueries(fx->addSession(), {"SELECT a\n  FROM t1", "SELECT b FROM t2"});
        fx->flush();
        // The newest statement first, then the selected one as sent.
        QCOMPARE(fx->ui()->queryViewer->toPlainText(), QStringLiteral("SELECT b FROM t2"));
        QCOMPARE(select(1), QStringLiteral("SELECT a\n  FROM t1"));

        // A second session pushes the first out of the manager: its rows stay, selecting one shows nothing.
        fx->addQueries(fx->addSession(), {"SELECT c"});
        fx->flush();
        QVERIFY(select(2).isEmpty());
        QCOMPARE(select(0), QStringLiteral("SELECT c"));
        fx->ui()->btnCopy->click();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("SELECT c"));
    }

    void filterModes_data()
    {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("write") << "rbWrite" << QString() << int(SortFilterProxyModel::ModeWrite)
                               << QStringList{"DELETE FROM users", "CREATE TABLE z (a INT)", "UPDATE orders SET x = 1",
                                              "INSERT INTO users VALUES (1)"};
        QTest::newRow("read with keyword") << "rbRead" << "USERS" << int(SortFilterProxyModel::ModeRead)
                                           << QStringList{"SELECT 7 FROM users", "SELECT * FROM users"};
    }
    void filterModes()
    {
        QFETCH(QString, radio);
        QFETCH(QString, keyword);
        QFETCH(int, mode);
        QFETCH(QStringList, shown);
        SessionData* s = fx->addSession();
        fx->addQueries(s, {"SELECT * FROM users", "INSERT INTO users VALUES (1)", "UPDATE orders SET x = 1",
                           "!SELECT * FROM missing", "SHOW TABLES", "CREATE TABLE z (a INT)"});
        fx->flush();
        QCOMPARE(chooseFilter(radio, keyword), QStringList{"FilterDialog"});
        QVERIFY(fx->ui()->btnFilter->isChecked());
        // New rows pass the same filter as they arrive.
        fx->addQueries(s, {"SELECT 7 FROM users", "!DELETE FROM users"});
        fx->flush();
        QCOMPARE(fx->flowStatements(), shown);
        fx->ui()->btnFilter->click();   // unchecked: every row again
        QCOMPARE(fx->flowView()->rowCount(), 8);
        // Rejected dialog: the button does not stay checked, nothing filtered, the last choice kept.
        viaDialog(fx->ui()->btnFilter, [](QDialog* d) { d->reject(); });
        QVERIFY(!fx->ui()->btnFilter->isChecked());
        QCOMPARE(fx->flowView()->rowCount(), 8);
        QCOMPARE(fx->win->flowPage()->filterMode, mode);
    }

    void exportTakesVisibleRowsInViewOrder()
    {
        SessionData* s = fx->addSession();
        fx->addQueries(s, {"SELECT 'a\"b'"}, 0.0004, 1);
        fx->addQueries(s, {"INSERT INTO t VALUES (2)"}, 12.7, 0);
        fx->addQueries(s, {"SELECT 3"}, 2.0, 3);
        fx->flush();
        chooseFilter("rbRead", QString());
        // Newest first without the INSERT; quotes doubled, small times with 3 decimals.
        const QLocale loc = QLocale::system();
        QCOMPARE(fx->win->flowPage()->exportRows(),
                 (QList<QStringList>{{"3", "0000001", "SELECT 3", loc.toString(2.0, 'f', 0), loc.toString(0.5, 'g', 6), "3"},
                                     {"1", "0000001", "SELECT 'a\"\"b'", loc.toString(0.0, 'f', 3), loc.toString(0.5, 'g', 6), "1"}}));
    }

    void settingsLowerLimitsTrim()
    {
        for (int i = 1; i <= 12; ++i)
            fx->addQueries(fx->addSession(), {QStringLiteral("SELECT %1").arg(i)});
        fx->flush();
        QCOMPARE(viaDialog(fx->ui()->settingsBtn,
                           [](QDialog* d) {
                               d->findChild<QSpinBox*>(QStringLiteral("sbMaxFlow"))->setValue(10);
                               d->findChild<QSpinBox*>(QStringLiteral("sbMaxSess"))->setValue(11);
                               d->accept();
                           }),
                 QStringList{"SettingsDialog"});
        QCOMPARE(fx->flowStatements().size(), 10);
        QCOMPARE(fx->flowStatements().last(), QStringLiteral("SELECT 3"));
        QCOMPARE(fx->sessions()->rowCount(), 11);
        QCOMPARE(fx->sessionRow(1), -1);
        // The new limits hold for what comes next.
        fx->addQueries(fx->addSession(), {"SELECT 13"});
        fx->flush();
        QCOMPARE(fx->flowStatements().size() + fx->sessions()->rowCount(), 10 + 11);
    }

    void limitDropsOldestSessionAndItsTab()
    {
        fx->settings->MaxSessions = 2;
        SessionData* a = fx->addSession();
        openFromList(a->id);
        SessionData* b = fx->addSession();
        SessionData* c = fx->addSession();
        // The oldest row goes; newest first, the new row selected.
        QAbstractItemModel* view = fx->ui()->tableSessions->model();
        QCOMPARE(view->rowCount(), 2);
        QCOMPARE(view->index(0, 0).data().toString() + view->index(1, 0).data().toString(),
                 SessionsPage::paddedId(c->id) + SessionsPage::paddedId(b->id));
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

    void runningAndClosedRows()
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

    void openingTwiceSwitchesAndClosingRemovesBold()
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

        // Again from the list and from the flow (view row 1): the same tab, on the statement clicked.
        tabs->setCurrentIndex(1);
        openFromList(12);
        QCOMPARE(tabs->currentIndex(), 4);
        openFromFlow(1);
        QCOMPARE(runtimeTabs(), 1);
        QCOMPARE(tabs->currentIndex(), 4);
        QCOMPARE(currentQuery(view), 1);

        // Closing the tab removes the bold; from the flow the title is padded.
        QWidget* close = tabs->tabBar()->tabButton(4, QTabBar::RightSide);
        qobject_cast<CloseButton*>(close ? close : tabs->tabBar()->tabButton(4, QTabBar::LeftSide))->click();
        QCOMPARE(runtimeTabs(), 0);
        QVERIFY(!isBold(12));
        openFromFlow(2);
        QCOMPARE(tabs->tabText(4), QStringLiteral("0000012"));
        QCOMPARE(currentQuery(qobject_cast<SessionWidget*>(tabs->widget(4))), 0);
        openFromList(12);
        QCOMPARE(runtimeTabs(), 1);
        QVERIFY(isBold(12));
    }

    void compareButtonForTwoToFiveRows()
    {
        QList<unsigned long> ids;
        for (int i = 0; i < 6; ++i)
            ids << fx->addSession()->id;
        for (int n : {1, 2, 5, 6}) {
            select(ids.mid(0, n));
            QCOMPARE(fx->ui()->btnCompareSessions->isEnabled(), n >= 2 && n <= 5);
        }
    }

    void clearAllResets()
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

    void sharesFollowTheTotalInRecordsAndTab()
    {
        auto* session = new Session(fx->mngr.get());
        fx->mngr->adoptSession(session);
        session->onStartSession(QDateTime::currentDateTime(), QStringLiteral("app"), QStringLiteral("shop"), true);
        SessionData* data = session->getSessionData();
        SessionWidget* tab = fx->win->sessionsPage()->openTab(data, uint(fx->mngr->getSessionIndex(data->id)), true);
        QVERIFY(tab);

        // Below 1 ms, a new maximum mid-batch, batches below it, zero, a last rise of the maximum.
        const QList<QList<double>> batches{{0.5, 0.25}, {2.0, 0.75, 8.0, 1.0}, {4.0}, {0.0, 3.5}, {0.125, 16.0, 2.0}};
        QList<double> all;
        QStandardItemModel* model = tab->queryModel();
        for (const QList<double>& batch : batches) {
            QList<QVariantList> tuples;
            for (double ms : batch)
                tuples << QVariantList{QDateTime::currentDateTime(), ms, "SELECT " + QByteArray::number(all.size() + tuples.size()),
                                   0.125f, 0.5f, 1u, false};
            QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted), changed(model, &QAbstractItemModel::dataChanged),
                reset(model, &QAbstractItemModel::modelReset);
            session->onNewQueries(tuples);
            QCoreApplication::processEvents(); // the tab takes the batch through a queued call
            // Old rows are never reset nor rewritten, only their share and percent announced as changed.
            QVERIFY(reset.isEmpty() && !inserted.isEmpty());
            for (const QVariantList& args : inserted)
                QVERIFY(args.at(1).toInt() >= all.size());
            for (const QVariantList& args : changed) {
                const QModelIndex tl = args.at(0).toModelIndex(), br = args.at(1).toModelIndex();
                QVERIFY2(tl.row() >= all.size()
                             || (tl.column() >= SessionWidget::ColTimePercent && br.column() <= SessionWidget::ColLongestPercent),
                         qPrintable(QString("columns %1..%2 of old rows changed").arg(tl.column()).arg(br.column())));
            }
            all += batch;
            // After every batch each statement's share of the total and percent of the slowest (at least 1 ms).
            const double total = std::accumulate(all.begin(), all.end(), 0.0);
            const double maxMs = qMax(1.0, *std::max_element(all.begin(), all.end()));
            QCOMPARE(data->durationMsTotal, total);
            QCOMPARE(model->rowCount(), all.size());
            for (int i = 0; i < all.size(); ++i) {
                const float share = float(all.at(i) / total * 100.0);
                const int percent = int(std::floor(all.at(i) / maxMs * 100.0 + 0.5));
                QCOMPARE(data->queries.at(i).shareOfTotal, share);
                QCOMPARE(data->queries.at(i).percentOfMax, percent);
                // The tab shows the record's figures, 3 decimals for the share.
                QCOMPARE(model->index(i, SessionWidget::ColTimePercent).data().toDouble(),
                         QString::number(double(share), 'f', 3).toDouble());
                QCOMPARE(model->index(i, SessionWidget::ColLongestPercent).data().toInt(), percent);
            }
        }
        // Sorted by share, the table orders by the figures of now.
        tab->tableQueries()->sortByColumn(SessionWidget::ColTimePercent, Qt::DescendingOrder);
        QCOMPARE(tab->proxyModel()->index(0, SessionWidget::ColTimeMs).data().toDouble(), 16.0);
        session->onNewQueries({{QDateTime::currentDateTime(), 40.0, QByteArray("SELECT big"), 0.125f, 0.5f, 1u, false}});
        QCoreApplication::processEvents();
        QCOMPARE(tab->proxyModel()->index(0, SessionWidget::ColTimeMs).data().toDouble(), 40.0);
        QCOMPARE(tab->proxyModel()->index(1, SessionWidget::ColTimeMs).data().toDouble(), 16.0);
    }
};

QTEST_MAIN(TestLiveViews)
#include "tst_liveviews.moc"
