// The archive through the main window: saving from the session list,
// the archive tab, reopening a saved session, comparing saved and live
// sessions, deleting, commenting and clearing, and numbering after a restart.
#include "ArchiveFiles.h"
#include "LiveFixture.h"

#include "ArchiveListModel.h"
#include "ArchiveWidget.h"
#include "CompareWidget.h"
#include "CodeEditor.h"
#include "SessionWidget.h"
#include "SqlWidget.h"
#include "SortFilterProxyModel.h"
#include "TabWidget.h"

class TestArchiveWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<Live> fx;

    TabWidget* tabs() const { return fx->ui()->tabWidget; }
    SessionData* closed(const QStringList& texts, const QString& user = QStringLiteral("app"))
    {
        SessionData* s = fx->addSession();
        s->userName = user;
        fx->addQueries(s, texts);
        fx->close(s);
        return s;
    }
    void selectSessions(const QList<ulong>& ids)
    {
        fx->ui()->tableSessions->clearSelection();
        for (ulong id : ids)
            fx->ui()->tableSessions->selectionModel()->select(fx->win->sessionsPage()->proxy()->mapFromSource(
                fx->sessions()->index(fx->sessionRow(id), 0)), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QStringList saveSessions(const QList<ulong>& ids)
    {
        ModalWatcher watcher(fx->win.get());
        selectSessions(ids);
        fx->ui()->saveBtn->click();
        return watcher.boxes;
    }
    ArchiveWidget* openArchive()
    {
        fx->ui()->btnArhive->click();
        return qobject_cast<ArchiveWidget*>(tabs()->currentWidget());
    }
    /// Selects the archive rows whose column `c` holds one of `values` (view order does not matter).
    static void selectSaved(ArchiveWidget* archive, const QStringList& values, int c = ArchiveListModel::ColId)
    {
        QTableView* view = archive->table();
        view->clearSelection();
        for (int r = 0; r < view->model()->rowCount(); ++r)
            if (values.contains(view->model()->index(r, c).data().toString()))
                view->selectionModel()->select(view->model()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    static QStringList column(ArchiveWidget* archive, int c)
    {
        QStringList out;
        for (int r = 0; r < archive->table()->model()->rowCount(); ++r)
            out << archive->table()->model()->index(r, c).data().toString();
        return out;
    }
    /// The session list's "saved" cells as "Yes" or "No" (whatever the language's texts).
    QString saved(const QList<ulong>& ids) const
    {
        const QMap<QString, QString> names{{fx->lang->sessions("sess_saved_yes_str"), "Yes"}, {fx->lang->sessions("sess_saved_no_str"), "No"}};
        QStringList out;
        for (ulong id : ids)
            out << names.value(fx->sessionCell(id, SessionsPage::ColSaved), fx->sessionCell(id, SessionsPage::ColSaved));
        return out.join(' ');
    }
    static QStringList stored(const QString& sql) { return RawFile(ArchiveStore::defaultPath()).rows(sql); }

private slots:
    void init()
    {
        QCoreApplication::setOrganizationName("Tessam");
        QCoreApplication::setApplicationName("Quarvel");
        QFile::remove(ArchiveStore::defaultPath());
        fx = std::make_unique<Live>();
    }
    void cleanup() { fx.reset(); }

    void saveFromTheSessionList()
    {
        fx->mngr->lastId = 8;
        SessionData* a = closed({"SELECT 'it''s'", "SELECT\n2"});
        SessionData* b = closed({"!SELECT broken"});
        SessionData* running = fx->addSession();
        QCOMPARE(saveSessions({a->id, b->id, running->id}), QStringList{"Quarvel|" + fx->lang->errors("sess_run_error")});
        QCOMPARE(saved({a->id, b->id, running->id}), QStringLiteral("Yes Yes No"));
        QCOMPARE(stored("SELECT id, error, queries, elapsed FROM sessions ORDER BY id"),
                 (QStringList{"0000009|yes|2|00:00:01.234", "0000010|no|1|00:00:01.234"}));
        QCOMPARE(stored("SELECT query FROM queries ORDER BY id, num"), (QStringList{"SELECT 'it''s'", "SELECT\n2", "SELECT broken"}));
        // a second save of the same sessions writes nothing
        QVERIFY(saveSessions({a->id, b->id}).isEmpty() && stored("SELECT COUNT(*) FROM queries") == QStringList{"3"});

        // a session whose first statements were released: said so, the rest saved at their positions
        SessionData* part = closed({"SELECT gone", "SELECT kept"});
        part->queries.releaseBefore(1);
        emit fx->mngr->statementsReleased(part->id, 1);   // the session list says so
        QCOMPARE(fx->sessions()->item(fx->sessionRow(part->id), SessionsPage::ColQueries)->toolTip(),
                 fx->lang->sessions("released_str").arg(1));
        QCOMPARE(saveSessions({part->id}), QStringList{"Quarvel|" + fx->lang->errors("sess_released_error").arg("0000012", "1")});
        QCOMPARE(stored("SELECT queries, num, query FROM sessions JOIN queries USING (id) WHERE id = '0000012'"), QStringList{"2|1|SELECT kept"});
        // a save the file refuses: the reason shown, "No" left, nothing written
        QVERIFY(RawFile(ArchiveStore::defaultPath()).run("DELETE FROM sessions WHERE id = '0000012';\nDELETE FROM queries WHERE id = '0000012';\n"
                                                         "CREATE TRIGGER refuse BEFORE INSERT ON queries BEGIN SELECT RAISE(ABORT, 'archive refused'); END"));
        SessionData* c = closed({"SELECT 1"});
        const QStringList boxes = saveSessions({c->id});
        QVERIFY2(boxes.size() == 1 && boxes.at(0).contains("0000013: archive refused"), qPrintable(boxes.join('\n')));
        QVERIFY(saved({c->id}) == "No" && stored("SELECT COUNT(*) FROM sessions") == QStringList{"2"});
        // after a restart new sessions are numbered above the saved ones
        fx.reset();
        fx = std::make_unique<Live>();
        QCOMPARE(fx->addSession()->id, 11ul);
    }

    void archiveTabAndReopenedSession()
    {
        const QStringList texts{"SELECT 1", QString::fromUtf8("SELECT 'zwei\r\nZeilen', 'ünï'"), "SELECT 3"};
        SessionData* a = closed(texts);
        saveSessions({a->id});
        ArchiveWidget* archive = openArchive();
        QVERIFY(archive && column(archive, 0) == QStringList{"0000001"});
        // A session saved while the tab is open is added to it; one another
        // program saved appears when the button is pressed again.
        saveSessions({closed({"SELECT b"})->id});
        QCOMPARE(column(archive, 0), (QStringList{"0000002", "0000001"}));
        QVERIFY(saveInto(ArchiveStore::defaultPath(), 40, {"from elsewhere"}));
        const int count = tabs()->count();
        QVERIFY(openArchive() == archive && tabs()->count() == count);
        QCOMPARE(column(archive, 0), (QStringList{"0000040", "0000002", "0000001"}));
        QCOMPARE(fx->addSession()->id, 41ul);

        // Reopened: the saved statements, byte for byte, in a record of its own.
        selectSaved(archive, {"0000001"});
        archive->findChild<QPushButton*>("openTabSavBtn")->click();
        auto* view = qobject_cast<SessionWidget*>(tabs()->currentWidget());
        QVERIFY(view && view->session() != a);
        QCOMPARE(textsOf(view->session()), texts);
        // The live session at the first list position goes on; the reopened
        // tab is not its view and keeps the row the user chose.
        view->setCurrentQuery(0);
        fx->addQueries(a, {"SELECT more"});
        QCoreApplication::processEvents();
        QCOMPARE(view->queryModel()->rowCount(), 3);
        QCOMPARE(view->proxyModel()->mapToSource(view->tableQueries()->currentIndex()).row(), 0);
        // Its statements go to the SQL editor like those of a live session.
        view->setCurrentQuery(2);
        view->findChild<QPushButton*>("btnToSql")->click();
        auto* editor = qobject_cast<SqlWidget*>(tabs()->currentWidget());
        QVERIFY(editor && child<CodeEditor>(editor, "codeviewer")->toPlainText() == texts.at(2));
    }

    void compareSavedAndLiveSessions()
    {
        const ulong idA = closed({"A", "B"})->id, idB = closed({"A", "C"})->id;
        QStringList seen;
        ModalWatcher watcher(fx->win.get());
        watcher.onDialog = [&seen](QDialog* d) {
            const CompareModel* m = qobject_cast<CompareWidget*>(d)->compareModel();
            QString line;
            for (const SessionQueries& s : m->sessions())
                line += s.name + ' ';
            for (int r = 0; r < m->rowCount(); ++r)
                line += m->unequal(r) ? 'x' : '-';
            seen << line;
            d->reject();
        };

        selectSessions({idA, idB});
        fx->ui()->btnCompareSessions->click();
        QCOMPARE(seen, QStringList{"0000001 0000002 -x"});
        selectSessions({idA, idB});
        fx->ui()->saveBtn->click();
        ArchiveWidget* archive = openArchive();
        selectSaved(archive, {"0000001", "0000002"});
        archive->findChild<QPushButton*>("btnCompareSaved")->click();
        QCOMPARE(seen.value(1), "0000002 0000001 -x");

        // With capture off the list no longer follows the manager, which
        // drops its oldest record: that row is skipped, not read.
        fx->ui()->startBtn->click();
        fx->mngr->maxSessions = 2;
        fx->addSession();
        QCoreApplication::processEvents();
        QCOMPARE(fx->mngr->getSessionIndex(idA), -1);
        tabs()->setCurrentIndex(2);
        selectSessions({idA, idB});
        fx->ui()->btnCompareSessions->click();
        QCOMPARE(seen.value(2), "0000002 --");
    }

    void commentDeleteAndClear()
    {
        QList<ulong> ids;
        for (const QString user : {"u1", "u2", "u3", "u4"})
            ids << closed({"SELECT " + user}, user)->id;
        saveSessions(ids);
        ArchiveWidget* archive = openArchive();
        // Sorted against the list's own order (newest first): view rows are not list rows.
        QTableView* table = archive->table();
        table->sortByColumn(ArchiveListModel::ColUser, Qt::AscendingOrder);
        QCOMPARE(column(archive, ArchiveListModel::ColUser), (QStringList{"u1", "u2", "u3", "u4"}));

        table->setCurrentIndex(table->model()->index(1, 0));
        ModalWatcher watcher(fx->win.get());
        watcher.onDialog = [](QDialog* d) {
            d->findChild<QPlainTextEdit*>("textEdit")->setPlainText("it's done' --");
            d->accept();
        };
        archive->findChild<QPushButton*>("commentBtn")->click();
        QVERIFY(watcher.dialogs == QStringList{"CommentDialog"} && stored("SELECT user FROM sessions WHERE comment <> ''") == QStringList{"u2"});
        QCOMPARE(column(archive, ArchiveListModel::ColComment), (QStringList{"", "it's done' --", "", ""}));

        selectSaved(archive, {"u1", "u3"}, ArchiveListModel::ColUser);
        archive->findChild<QPushButton*>("deleteBtn")->click();
        QCOMPARE(column(archive, ArchiveListModel::ColUser), (QStringList{"u2", "u4"}));
        QCOMPARE(stored("SELECT query FROM queries ORDER BY query"), (QStringList{"SELECT u2", "SELECT u4"}));
        QCOMPARE(saved(ids), QStringLiteral("No Yes No Yes"));

        // "Clear all" asks first: declined, nothing goes.
        QPushButton* clear = archive->findChild<QPushButton*>("clearSavedBtn");
        watcher.answer = QMessageBox::No;
        clear->click();
        QVERIFY(watcher.boxes.size() == 1 && stored("SELECT COUNT(*) FROM sessions") == QStringList{"2"} && column(archive, 0).size() == 2);
        watcher.answer = QMessageBox::Yes;
        clear->click();
        QVERIFY(stored("SELECT (SELECT COUNT(*) FROM sessions) + (SELECT COUNT(*) FROM queries)") == QStringList{"0"} && column(archive, 0).isEmpty());
        QCOMPARE(saved(ids), QStringLiteral("No No No No"));
    }
};

QTEST_MAIN(TestArchiveWindow)
#include "tst_archivewindow.moc"
