// The main window's part of the session archive: saving sessions from the
// session list, the archive tab and what it asks for, reopening saved
// sessions in tabs, and comparing sessions.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "ArchiveFormat.h"
#include "ArchiveStore.h"
#include "ArchiveWidget.h"
#include "CompareWidget.h"
#include "MngrSessions.h"
#include "SessionData.h"
#include "SessionsPage.h"
#include "languageEngine.h"

#include <QLocale>
#include <QMessageBox>

#include <limits>

void MainWindow::loadSavedSessions()
{
    archive = new ArchiveStore(QStringLiteral("SQLite conection"));
    // A file that cannot be opened or brought up to date is reported when
    // the user saves or reads; the window starts all the same.
    archive->open(ArchiveStore::defaultPath());
    _db = archive->database();
    followArchiveIds();
}

void MainWindow::closeSavedSessions()
{
    if (archiveWidget)
        disconnect(archiveWidget, nullptr, this, nullptr);
    _db = QSqlDatabase();
    delete archive;
    archive = nullptr;
}

void MainWindow::followArchiveIds()
{
    const quint64 top = qMin<quint64>(archive->maxId(), std::numeric_limits<unsigned int>::max());
    if (top > _mngr->lastId)
        _mngr->lastId = static_cast<unsigned int>(top);
}

namespace {
void showArchiveError(QWidget* parent, const QString& what, const QString& reason)
{
    QMessageBox::warning(parent, MainWindow::_le->errors(QStringLiteral("error_str")), what + QStringLiteral("\n\n") + reason,
                         QMessageBox::Ok);
}
} // namespace

void MainWindow::onClickSaveBtn()
{
    QStringList failures;
    for (const unsigned long id : sessionList->selectedIds()) {
        if (sessionList->isSaved(id))
            continue;
        const int index = _mngr->getSessionIndex(id);
        SessionData* data = index >= 0 ? _mngr->getSessionData(uint(index)) : nullptr;
        if (!data) {
            failures << SessionsPage::paddedId(id) + QStringLiteral(": ") + _le->errors(QStringLiteral("sess_gone_error"));
            continue;
        }
        if (data->duration.isNull() || _mngr->checkActiveSession(id)) {
            QMessageBox::warning(this, QStringLiteral("Quarvel"), _le->errors(QStringLiteral("sess_run_error")),
                                 QMessageBox::Ok);
            continue;
        }
        if (data->queries.released() > 0)
            QMessageBox::information(this, QStringLiteral("Quarvel"),
                                     _le->errors(QStringLiteral("sess_released_error"))
                                         .arg(SessionsPage::paddedId(id), QLocale::system().toString(data->queries.released())));
        // "Yes" only once the save is committed.
        QString savedAs;
        if (!archive->save(*data, &savedAs)) {
            failures << SessionsPage::paddedId(id) + QStringLiteral(": ") + archive->lastError();
            continue;
        }
        sessionList->markSaved(id, savedAs);
        if (archiveWidget) {
            ArchivedSession row = ArchiveStore::describe(*data);
            row.id = savedAs;
            archiveWidget->addSession(row);
        }
    }
    followArchiveIds();
    if (!failures.isEmpty())
        showArchiveError(this, _le->errors(QStringLiteral("archive_save_error")), failures.join(QLatin1Char('\n')));
    ui->tableSessions->setFocus();
}

void MainWindow::openTabSavedSession(QTableView* table)
{
    for (const QString& idText : ArchiveWidget::selectedIds(table)) {
        const quint64 id = ArchiveFormat::readSessionId(idText);
        const int existing = sessionList->findTab(id);
        if (existing >= 0) {
            ui->tabWidget->setCurrentIndex(existing);
            continue;
        }
        bool found = false;
        const ArchivedSession row = archive->session(idText, &found);
        SessionData* data = found ? archive->load(row) : nullptr;
        if (!data) {
            showArchiveError(this, _le->errors(QStringLiteral("archive_read_error")),
                             found ? archive->lastError() : idText);
            return;
        }
        setHighlightSession(id, true);
        sessionList->openSavedTab(data);
    }
}

void MainWindow::onClickDeleteBtn()
{
    if (!archiveWidget)
        return;
    const QStringList ids = archiveWidget->selectedIds();
    if (ids.isEmpty())
        return;
    if (!archive->remove(ids)) {
        showArchiveError(this, _le->errors(QStringLiteral("archive_write_error")), archive->lastError());
        return;
    }
    sessionList->markUnsaved(ids);
    archiveWidget->removeSessions(ids);
}

void MainWindow::onClickClearSavedBtn()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, _le->archive(QStringLiteral("clear_all_btn")), _le->archive(QStringLiteral("clear_all_question_str")),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (!archive->clear()) {
        showArchiveError(this, _le->errors(QStringLiteral("archive_write_error")), archive->lastError());
        return;
    }
    sessionList->markUnsaved({}, true);
    if (archiveWidget)
        archiveWidget->clearAll();
}

void MainWindow::onClickCommentBtn(QString id, QString comment)
{
    if (!archive->setComment(id, comment)) {
        showArchiveError(this, _le->errors(QStringLiteral("archive_write_error")), archive->lastError());
        return;
    }
    if (archiveWidget)
        archiveWidget->setComment(id, comment);
}

void MainWindow::deleteTabArchive()
{
    // A tab closed by "clear all" of the session list goes later, perhaps
    // after a new archive tab was opened: only the current one is forgotten.
    if (!sender() || sender() == archiveWidget)
        archiveWidget = nullptr;
}

void MainWindow::on_btnArhive_clicked()
{
    TabWidget* tabs = ui->tabWidget;
    if (archiveWidget && tabs->indexOf(archiveWidget) >= 0) {
        tabs->setCurrentWidget(archiveWidget);
        archiveWidget->reload();
        followArchiveIds();
        return;
    }
    archiveWidget = new ArchiveWidget(archive, this);
    connect(archiveWidget, &QObject::destroyed, this, &MainWindow::deleteTabArchive);
    connect(archiveWidget, &ArchiveWidget::clickClearAll, this, &MainWindow::onClickClearSavedBtn);
    connect(archiveWidget, &ArchiveWidget::clickComment, this, &MainWindow::onClickCommentBtn);
    connect(archiveWidget, &ArchiveWidget::clickDelete, this, &MainWindow::onClickDeleteBtn);
    connect(archiveWidget, &ArchiveWidget::clickOpenTab, this, &MainWindow::openTabSavedSession);
    ArchiveWidget* page = archiveWidget;
    connect(_le, &languageEngine::languageChange, page, [tabs, page] {
        tabs->setTabText(tabs->indexOf(page), _le->archive(QStringLiteral("archive_title")));
    });
    // Sessions shown in tabs already are bold in the list too.
    for (int i = TabWidget::spacerIndex + 1; i < tabs->count(); ++i)
        if (tabs->widget(i)->objectName() == QLatin1String("sessiontab"))
            archiveWidget->setHighlighted(tabs->tabText(i).toULongLong(), true);

    const int at = tabs->addTab(archiveWidget, QIcon(QStringLiteral(":/images/table_save.png")),
                                _le->archive(QStringLiteral("archive_title")));
    tabs->setTabClosable(at);
    tabs->setCurrentIndex(at);
    followArchiveIds();
}

void MainWindow::on_btnCompareSessions_clicked()
{
    QList<SessionQueries> sessions;
    for (const unsigned long id : sessionList->selectedIds()) {
        const int index = _mngr->getSessionIndex(id);
        const SessionData* data = index >= 0 ? _mngr->getSessionData(uint(index)) : nullptr;
        if (!data)
            continue;   // dropped by the session manager since it was listed
        SessionQueries s{SessionsPage::paddedId(id), {}};
        s.queries.reserve(data->queries.size());
        for (int i = data->queries.released(); i < data->queries.size(); ++i)
            s.queries << data->queries.text(i);
        sessions << s;
    }
    if (sessions.isEmpty())
        return;
    CompareWidget compare(sessions, _le->compare(QStringLiteral("title_str")), this);
    compare.exec();
}
