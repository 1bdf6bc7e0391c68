#include "SessionsPage.h"
#include "ui_MainWindow.h"

#include "ArchiveFormat.h"
#include "MngrSessions.h"
#include "SessionData.h"
#include "SessionWidget.h"
#include "Settings.h"
#include "ShownWidths.h"
#include "StyleEngine.h"
#include "TableStatusDelegate.h"
#include "languageEngine.h"

#include <QLocale>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>

#include <algorithm>

SessionsPage::SessionsPage(Ui::MainWindow* form, MngrSessions* manager, Settings* s, languageEngine* le,
                           StyleEngine* se, QWidget* win)
    : QObject(win), ui(form), mngr(manager), settings(s), lang(le), style(se), window(win)
{
    sessionsModel = new QStandardItemModel(0, ColumnCount, this);
    sessionsProxy = new QSortFilterProxyModel(this);
    sessionsProxy->setDynamicSortFilter(true);
    sessionsProxy->setSourceModel(sessionsModel);
    connect(sessionsModel, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { forgetRows(first, last); });
    connect(sessionsModel, &QAbstractItemModel::modelAboutToBeReset, this, [this] { rowItems.clear(); });

    QTableView* view = ui->tableSessions;
    view->setModel(sessionsProxy);
    view->setSortingEnabled(true);
    view->sortByColumn(ColId, Qt::DescendingOrder);
    view->setItemDelegateForColumn(ColStatus, new TableStatusDelegate(view));
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 8);
    QHeaderView* header = view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ColStatus, QHeaderView::Fixed);
    header->resizeSection(ColStatus, 22);
    header->setSectionResizeMode(ColSaved, QHeaderView::Stretch);
    header->setResizeContentsPrecision(0);
    header->setHighlightSections(false);
    new ShownWidths(ui->sessionsTab, view, {ColStarted, ColDb, ColUser, ColElapsed});
    new NumberWidths(view, {ColId, ColQueries, ColRows, ColReceived});
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SessionsPage::selectionChanged);
}

QString SessionsPage::paddedId(unsigned long id)
{
    return QueryLog::paddedId(id);
}

void SessionsPage::forgetRows(int first, int last)
{
    for (int r = first; r <= last; ++r)
        if (QStandardItem* item = sessionsModel->item(r, ColId))
            rowItems.remove(item->text().toULong());
}

int SessionsPage::rowOf(unsigned long id) const
{
    QStandardItem* item = rowItems.value(id, nullptr);
    return item ? item->row() : -1;
}

void SessionsPage::addSession(SessionData* data, uint index)
{
    if (!data)
        return;
    // The oldest row makes room when the list is full.
    trimTo(std::max(0, settings->MaxSessions - 1));

    auto cell = [](const QString& text) {
        auto* item = new QStandardItem(text);
        item->setEditable(false);
        return item;
    };
    auto number = [&cell](unsigned int value) {
        QStandardItem* item = cell(QString());
        item->setData(value, Qt::DisplayRole);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        item->setForeground(QBrush(QColor(QStringLiteral("blue"))));
        return item;
    };
    QList<QStandardItem*> row;
    row << cell(paddedId(data->id));
    row << cell(QStringLiteral("yes"));
    row << cell(ArchiveFormat::startedAt(data->startedAt));
    row << cell(data->dbName);
    row << cell(data->userName);
    row << number(uint(data->queries.size()));
    QStandardItem* elapsed = cell(performedText);
    elapsed->setForeground(QBrush(StyleEngine::color(style->sessionsTab, QStringLiteral("text_performed_clr"),
                                                     QStringLiteral("#d15257"))));
    row << elapsed;
    row << number(data->rowsTotal);
    row << cell(ArchiveFormat::localeKb(double(data->responseKbTotal)));
    row << cell(yesNoText.value(1));
    if (data->queries.errors() > 0)
        row.at(ColStatus)->setText(QStringLiteral("no"));
    sessionsModel->appendRow(row);
    rowItems.insert(data->id, row.at(ColId));

    QTableView* view = ui->tableSessions;
    const QModelIndex shown = sessionsProxy->mapFromSource(row.at(ColId)->index());
    if (shown.isValid()) {
        view->selectionModel()->setCurrentIndex(shown, QItemSelectionModel::ClearAndSelect
                                                           | QItemSelectionModel::Rows);
        view->scrollTo(shown);
    }
    view->setFocus();

    if (settings->AutoOpenNewSession) {
        if (SessionWidget* tab = openTab(data, index, true)) {
            ui->tabWidget->setTabColor(ui->tabWidget->indexOf(tab), true);
            tab->setFlagActive(true);
        }
    }

    if (sessionsModel->rowCount() == 1) {
        ui->clearSessionsBtn->setEnabled(true);
        ui->saveBtn->setEnabled(true);
        ui->openTabSBtn->setEnabled(true);
    }
}

bool SessionsPage::closeSession(const SessionData* data)
{
    if (!data)
        return false;
    const int r = rowOf(data->id);
    const bool failed = !data->authenticated;
    if (r >= 0) {
        QStandardItem* elapsed = sessionsModel->item(r, ColElapsed);
        elapsed->setText(ArchiveFormat::elapsed(data->duration));
        elapsed->setData(QVariant(), Qt::ForegroundRole);
        if (failed) {
            const QBrush grey(StyleEngine::color(style->sessionsTab, QStringLiteral("row_connect_error_clr"),
                                                 QStringLiteral("#eeeeee")));
            for (int c = 0; c < ColumnCount; ++c)
                sessionsModel->item(r, c)->setBackground(grey);
        }
    }
    const int tab = findTab(data->id);
    if (tab >= 0) {
        ui->tabWidget->setTabColor(tab, false);
        if (auto* view = qobject_cast<SessionWidget*>(ui->tabWidget->widget(tab)))
            view->updateElapsedStat();
    } else {
        ui->clearSessionsBtn->setEnabled(mngr->activeSessions.isEmpty());
    }
    return failed;
}

void SessionsPage::setDbName(unsigned long id, const QString& name)
{
    const int r = rowOf(id);
    if (r < 0)
        return;
    QStandardItem* db = sessionsModel->item(r, ColDb);
    if (db->text().isEmpty())
        db->setText(name);
}

void SessionsPage::removeSession(unsigned long id)
{
    const int r = rowOf(id);
    if (r >= 0)
        sessionsModel->removeRow(r);
    const int tab = findTab(id);
    if (tab >= 0) {
        QWidget* page = ui->tabWidget->widget(tab);
        ui->tabWidget->removeTab(tab);
        if (ui->tabWidget->currentIndex() == 3)
            ui->tabWidget->setCurrentIndex(2);
        page->deleteLater();
    }
}

void SessionsPage::refreshRow(const SessionData* data)
{
    const int r = rowOf(data->id);
    if (r < 0)
        return;
    auto set = [this, r](int column, const QVariant& value) {
        QStandardItem* item = sessionsModel->item(r, column);
        if (item->data(Qt::DisplayRole) != value)
            item->setData(value, Qt::DisplayRole);
    };
    set(ColQueries, uint(data->queries.size()));
    set(ColRows, data->rowsTotal);
    set(ColReceived, ArchiveFormat::localeKb(double(data->responseKbTotal)));
    // How many of the statements counted are no longer held.
    const int released = data->queries.released();
    const QString tip = released > 0 && lang ? lang->sessions(QStringLiteral("released_str"))
                                                   .arg(QLocale::system().toString(released))
                                             : QString();
    QStandardItem* queries = sessionsModel->item(r, ColQueries);
    if (queries->toolTip() != tip)
        queries->setToolTip(tip);
}

void SessionsPage::markError(unsigned long id)
{
    const int r = rowOf(id);
    if (r >= 0 && sessionsModel->item(r, ColStatus)->text() != QLatin1String("no"))
        sessionsModel->item(r, ColStatus)->setText(QStringLiteral("no"));
}

void SessionsPage::trimTo(int limit)
{
    limit = std::max(0, limit);
    const int surplus = sessionsModel->rowCount() - limit;
    if (surplus > 0)
        sessionsModel->removeRows(0, surplus);
}

void SessionsPage::clear()
{
    sessionsModel->removeRows(0, sessionsModel->rowCount());
    rowItems.clear();
    deleteTabsSessions();
    ui->clearSessionsBtn->setEnabled(false);
    ui->saveBtn->setEnabled(false);
    ui->openTabSBtn->setEnabled(false);
    ui->btnCompareSessions->setEnabled(false);
}

int SessionsPage::findTab(unsigned long id) const
{
    TabWidget* tabs = ui->tabWidget;
    for (int i = TabWidget::spacerIndex; i < tabs->count(); ++i) {
        QWidget* page = tabs->widget(i);
        if (page && page->objectName() == QLatin1String("sessiontab") && tabs->tabText(i).toULong() == id)
            return i;
    }
    return -1;
}

void SessionsPage::setHighlightSession(unsigned long id, bool on)
{
    const int r = rowOf(id);
    if (r < 0)
        return;
    QFont font = ui->flowTable->font();
    font.setWeight(on ? QFont::Bold : QFont::Normal);
    for (int c = 0; c < ColumnCount; ++c)
        sessionsModel->item(r, c)->setFont(font);
}

void SessionsPage::createTab(SessionWidget* view, const QString& title, bool withIcon)
{
    TabWidget* tabs = ui->tabWidget;
    const int at = withIcon ? tabs->addTab(view, QIcon(QStringLiteral(":/images/session.png")), title)
                            : tabs->addTab(view, title);
    tabs->setTabClosable(at);
    tabs->setCurrentIndex(at);
}

SessionWidget* SessionsPage::openTab(SessionData* data, uint index, bool paddedTitle, int position)
{
    if (!data)
        return nullptr;
    const int existing = findTab(data->id);
    if (existing >= 0) {
        ui->tabWidget->setCurrentIndex(existing);
        auto* view = qobject_cast<SessionWidget*>(ui->tabWidget->widget(existing));
        if (view && position >= 0)
            view->setCurrentQuery(position);
        return view;
    }

    setHighlightSession(data->id, true);
    auto* view = new SessionWidget(lang, data, index, window);
    view->setSessionManager(mngr);
    view->loadQueries();
    if (position >= 0)
        view->setCurrentQuery(position);
    connect(view, &SessionWidget::clickedCopy, this, &SessionsPage::copyRequested);
    connect(view, &SessionWidget::sqlTabRequested, this, &SessionsPage::sqlTabRequested);
    connect(mngr, &MngrSessions::newQueriesSession, view, &SessionWidget::addQueries, Qt::QueuedConnection);
    createTab(view, paddedTitle ? paddedId(data->id) : QString::number(data->id), !paddedTitle);

    const int at = ui->tabWidget->indexOf(view);
    if (mngr->checkActiveSession(data->id)) {
        ui->tabWidget->setTabColor(at, true);
        view->setFlagActive(true);
    } else {
        view->updateElapsedStat();
    }
    return view;
}

QList<unsigned long> SessionsPage::selectedIds() const
{
    QList<unsigned long> ids;
    QSet<int> seen;
    for (const QModelIndex& cell : ui->tableSessions->selectionModel()->selectedIndexes()) {
        if (seen.contains(cell.row()))
            continue;
        seen.insert(cell.row());
        ids << sessionsProxy->index(cell.row(), ColId).data().toString().toULong();
    }
    return ids;
}

void SessionsPage::markSaved(unsigned long id, const QString& archiveId)
{
    const int r = rowOf(id);
    if (r < 0)
        return;
    QStandardItem* saved = sessionsModel->item(r, ColSaved);
    saved->setText(yesNoText.value(0));
    saved->setData(archiveId, Qt::UserRole);
}

bool SessionsPage::isSaved(unsigned long id) const
{
    const int r = rowOf(id);
    return r >= 0 && !sessionsModel->item(r, ColSaved)->data(Qt::UserRole).toString().isEmpty();
}

void SessionsPage::markUnsaved(const QStringList& archiveIds, bool all)
{
    for (int r = 0; r < sessionsModel->rowCount(); ++r) {
        QStandardItem* saved = sessionsModel->item(r, ColSaved);
        const QString archiveId = saved->data(Qt::UserRole).toString();
        if (archiveId.isEmpty() || !(all || archiveIds.contains(archiveId)))
            continue;
        saved->setText(yesNoText.value(1));
        saved->setData(QVariant(), Qt::UserRole);
    }
}

SessionWidget* SessionsPage::openSavedTab(SessionData* data)
{
    if (!data)
        return nullptr;
    // No session manager and no connection to its batches: the live session
    // at some list position is not this one.
    auto* view = new SessionWidget(lang, data, 0, window);
    view->ownsSessionData = true;
    view->updateElapsedStat();
    connect(view, &SessionWidget::clickedCopy, this, &SessionsPage::copyRequested);
    connect(view, &SessionWidget::sqlTabRequested, this, &SessionsPage::sqlTabRequested);
    view->loadQueries();
    createTab(view, QString::number(data->id), true);
    view->setFocus();
    return view;
}

void SessionsPage::openSelected()
{
    for (const unsigned long id : selectedIds()) {
        const int index = mngr->getSessionIndex(id);
        SessionData* data = index >= 0 ? mngr->getSessionData(uint(index)) : nullptr;
        if (!data || !data->authenticated)
            continue;
        const int existing = findTab(id);
        if (existing >= 0) {
            ui->tabWidget->setCurrentIndex(existing);
            continue;
        }
        openTab(data, uint(index), false);
    }
}

void SessionsPage::deleteTabsSessions()
{
    TabWidget* tabs = ui->tabWidget;
    for (int i = tabs->count() - 1; i > TabWidget::spacerIndex; --i) {
        QWidget* page = tabs->widget(i);
        if (page && page->objectName() == QLatin1String("sessiontab"))
            setHighlightSession(tabs->tabText(i).toULong(), false);
        tabs->removeTab(i);
        if (page)
            page->deleteLater();
    }
    if (tabs->currentIndex() == TabWidget::spacerIndex)
        tabs->setCurrentIndex(2);
}

void SessionsPage::selectionChanged()
{
    const int cells = ui->tableSessions->selectionModel()->selectedIndexes().size();
    const int rows = cells / std::max(1, sessionsModel->columnCount());
    ui->btnCompareSessions->setEnabled(rows >= 2 && rows <= 5);
}

void SessionsPage::changeLanguage()
{
    auto t = [this](const char* key) { return lang->sessions(QLatin1String(key)); };
    ui->clearSessionsBtn->setText(t("clear_all_btn"));
    ui->saveBtn->setText(t("save_session_btn"));
    ui->btnCompareSessions->setText(t("compare_btn"));
    ui->openTabSBtn->setText(t("open_tab_btn"));
    const char* const keys[] = {"id_col", "", "datetime_col", "db_col", "user_col", "queries_col",
                                "elapsed_col", "rows_col", "recieved_col", "saved_col"};
    for (int c = 0; c < ColumnCount; ++c)
        sessionsModel->setHeaderData(c, Qt::Horizontal, *keys[c] ? t(keys[c]) : QString());

    const QString oldPerformed = performedText;
    const QStringList oldYesNo = yesNoText;
    performedText = t("sess_performed_str");
    yesNoText = QStringList{t("sess_saved_yes_str"), t("sess_saved_no_str")};
    for (int r = 0; r < sessionsModel->rowCount(); ++r) {
        QStandardItem* elapsed = sessionsModel->item(r, ColElapsed);
        if (elapsed->data(Qt::ForegroundRole).isValid() && elapsed->text() == oldPerformed)
            elapsed->setText(performedText);
        QStandardItem* saved = sessionsModel->item(r, ColSaved);
        const int was = oldYesNo.indexOf(saved->text());
        if (was >= 0)
            saved->setText(yesNoText.value(was));
    }
}
