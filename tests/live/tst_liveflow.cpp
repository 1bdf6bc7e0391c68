// The live query flow: bounded rows newest first, what a row shows, error
// marking, the code viewer, filter and export of the visible rows, and the
// lower limits of the settings dialog.

#include "LiveFixture.h"

#include "SortFilterProxyModel.h"
#include "StatisticsPage.h"
#include "ui_StatisticsPage.h"

class TestLiveFlow : public QObject
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

private slots:
    void init() { fx = std::make_unique<Live>(); }
    void cleanup() { fx.reset(); }

    void limitDropsOldestAndBatchesKeepNewest()
    {
        fx->settings->MaxLinesFlow = 3;
        SessionData* s = fx->addSession();
        for (int i = 1; i <= 4; ++i) {
            fx->addQueries(s, {QStringLiteral("SELECT %1").arg(i)});
            fx->flush();
        }
        QCOMPARE(fx->flowStatements(), (QStringList{"SELECT 4", "SELECT 3", "SELECT 2"}));

        // A batch larger than the limit: counted at once, shown by the next tick
        // as its newest rows, with one removal and one insertion.
        QSignalSpy inserted(fx->flow(), &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(fx->flow(), &QAbstractItemModel::rowsRemoved);
        fx->addQueries(s, {"SELECT 5", "SELECT 6", "SELECT 7", "SELECT 8", "SELECT 9"});
        QCOMPARE(fx->win->queryCount, 9u);
        QTRY_COMPARE(fx->flowStatements(), (QStringList{"SELECT 9", "SELECT 8", "SELECT 7"}));
        QCOMPARE(fx->flowColumn(FlowModel::ColNumber), (QStringList{"9", "8", "7"}));
        QCOMPARE((QList<int>{inserted.count(), removed.count()}), (QList<int>{1, 1}));

        // While stopped nothing reaches the flow.
        fx->ui()->startBtn->click();
        fx->addQueries(s, {"SELECT 10"});
        fx->flush();
        QCOMPARE(fx->flowStatements().first(), QStringLiteral("SELECT 9"));
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
        // The first error turns the session to "no" and is counted.
        QCOMPARE(fx->sessionCell(s->id, SessionsPage::ColStatus), QStringLiteral("no"));
        QCOMPARE(fx->sessionCell(clean->id, SessionsPage::ColStatus), QStringLiteral("yes"));
        QCOMPARE(fx->win->statisticsPage()->form()->erQueries->text(), QStringLiteral("1"));
        // Later statements leave it at "no"; each error counts; the row follows the totals.
        fx->addQueries(s, {"SELECT 3", "!DROP x"});
        QCOMPARE(fx->sessionCell(s->id, SessionsPage::ColStatus), QStringLiteral("no"));
        QCOMPARE(fx->win->errorQueries, 2u);
        QCOMPARE(fx->sessionCell(s->id, SessionsPage::ColQueries), QStringLiteral("5"));
        QCOMPARE(fx->sessionCell(s->id, SessionsPage::ColRows), QStringLiteral("46"));

        // Newest first: the flow shows the four statements of before.
        QAbstractItemModel* v = fx->flowView();
        QCOMPARE(fx->flowColumn(FlowModel::ColStatus), (QStringList{"yes", "no", "yes", "yes"}));
        QCOMPARE(v->index(2, FlowModel::ColSession).data().toString(), QStringLiteral("0000013"));
        QCOMPARE(v->index(2, FlowModel::ColQuery).data(Qt::UserRole).toString(), QStringLiteral("SELECT *\n FROM t"));
        QCOMPARE(v->index(2, FlowModel::ColTimeMs).data().toDouble(), 1.235);
    }

    void highlightOnlyWhenShown()
    {
        int calls = 0;
        fx->flow()->setHighlighter([&calls](const QString& t) {
            ++calls;
            return QStringLiteral("<b>%1</b>").arg(t.toHtmlEscaped());
        });
        QStringList many;
        for (int i = 0; i < 50; ++i)
            many << QStringLiteral("SELECT %1 < 2").arg(i);
        fx->addQueries(fx->addSession(), many);
        fx->flush();
        QCOMPARE(calls, 0);
        const QModelIndex top = fx->flowView()->index(0, FlowModel::ColQuery);
        for (int k = 0; k < 2; ++k)
            QCOMPARE(top.data().toString(), QStringLiteral("<b>SELECT 49 &lt; 2</b>"));
        QCOMPARE(calls, 1);
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

        // A second session pushes the first out of the manager: its rows stay,
        // selecting one shows nothing.
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
        QTest::newRow("errors") << "rbError" << QString() << int(SortFilterProxyModel::ModeErrors)
                                << QStringList{"DELETE FROM users", "SELECT * FROM missing"};
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

        // Rejected dialog: the button does not stay checked, nothing filtered,
        // and the last choice is kept.
        viaDialog(fx->ui()->btnFilter, [](QDialog* d) { d->reject(); });
        QVERIFY(!fx->ui()->btnFilter->isChecked());
        QCOMPARE(fx->flowView()->rowCount(), 8);
        QCOMPARE(fx->win->flowPage()->filterMode, mode);
    }

    void exportWritesVisibleRowsInViewOrder()
    {
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        SessionData* s = fx->addSession();
        fx->addQueries(s, {"SELECT 'a\"b'"}, 0.0004, 1);
        fx->addQueries(s, {"INSERT INTO t VALUES (2)"}, 12.7, 0);
        fx->addQueries(s, {"SELECT 3"}, 2.0, 3);
        fx->flush();
        chooseFilter("rbRead", QString());
        const QStringList dialogs = viaDialog(fx->ui()->btnExport, [](QDialog* d) {
            d->findChild<QRadioButton*>(QStringLiteral("rbCsv"))->setChecked(true);
            d->findChild<QPushButton*>(QStringLiteral("pbExport"))->click();
        });
        qputenv("HOME", oldHome);
        QCOMPARE(dialogs, QStringList{"ExportDialog"});

        QFile file(home.filePath(QStringLiteral("flow.csv")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts);
        const QLocale loc = QLocale::system();
        auto line = [](const QStringList& values) { return '"' + values.join(QStringLiteral("\";\"")) + '"'; };
        // A header, then newest first without the INSERT; quotes doubled, small times with 3 decimals.
        QCOMPARE(lines.mid(1), (QStringList{
                     line({"3", "0000001", "SELECT 3", loc.toString(2.0, 'f', 0), loc.toString(0.5, 'g', 6), "3"}),
                     line({"1", "0000001", "SELECT 'a\"\"b'", loc.toString(0.0, 'f', 3), loc.toString(0.5, 'g', 6), "1"})}));
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
};

QTEST_MAIN(TestLiveFlow)
#include "tst_liveflow.moc"
