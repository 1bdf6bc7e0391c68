#include "ArchiveWidget.h"
#include "ui_ArchiveWidget.h"

#include "ArchiveListModel.h"
#include "ArchiveStore.h"
#include "CommentDialog.h"
#include "CompareWidget.h"
#include "TableStatusDelegate.h"
#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QHeaderView>
#include <QMessageBox>
#include <QSet>
#include <QSortFilterProxyModel>

ArchiveWidget::ArchiveWidget(ArchiveStore* s, QWidget* parent)
    : QWidget(parent), ui(new Ui::ArchiveWidget), store(s)
{
    ui->setupUi(this);
    model = new ArchiveListModel(this);
    proxy = new QSortFilterProxyModel(this);
    proxy->setSortRole(ArchiveListModel::SortRole);
    proxy->setDynamicSortFilter(true);
    proxy->setSourceModel(model);

    QTableView* view = ui->tableSaved;
    view->setModel(proxy);
    view->setItemDelegateForColumn(ArchiveListModel::ColStatus, new TableStatusDelegate(view));
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 8);
    QHeaderView* header = view->horizontalHeader();
    // Widths are measured from the first rows once the list is filled; a
    // column sized to its contents would measure every row on each change.
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setResizeContentsPrecision(200);
    header->setSectionResizeMode(ArchiveListModel::ColStatus, QHeaderView::Fixed);
    header->setMinimumSectionSize(qMin(header->minimumSectionSize(), 22));
    header->resizeSection(ArchiveListModel::ColStatus, 22);
    header->setSectionResizeMode(ArchiveListModel::ColComment, QHeaderView::Stretch);
    header->setHighlightSections(false);
    view->sortByColumn(ArchiveListModel::ColId, Qt::DescendingOrder);
    setFocusProxy(view);

    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ArchiveWidget::selectionChanged);
    if (languageEngine* le = WidgetEnv::language())
        connect(le, &languageEngine::languageChange, this, &ArchiveWidget::changeLanguage);

    changeLanguage();
    reload();
}

ArchiveWidget::~ArchiveWidget()
{
    delete ui;
}

QTableView* ArchiveWidget::table() const
{
    return ui->tableSaved;
}

QString ArchiveWidget::text(const char* key) const
{
    languageEngine* le = WidgetEnv::language();
    return le ? le->archive(QLatin1String(key)) : languageEngine::missingText();
}

void ArchiveWidget::changeLanguage()
{
    if (!WidgetEnv::language())
        return;   // the form's own texts stay
    ui->clearSavedBtn->setText(text("clear_all_btn"));
    ui->deleteBtn->setText(text("delete_btn"));
    ui->commentBtn->setText(text("comment_btn"));
    ui->btnCompareSaved->setText(text("compare_btn"));
    ui->openTabSavBtn->setText(text("open_tab_btn"));
    ui->btnRefresh->setText(text("refresh_btn"));
    const char* const keys[ArchiveListModel::ColumnCount] = {
        "id_col", nullptr, "datetime_col", "db_col", "user_col", "queries_col",
        "elapsed_col", "rows_col", "recieved_col", "comment_col"};
    for (int c = 0; c < ArchiveListModel::ColumnCount; ++c)
        model->setHeaderData(c, Qt::Horizontal, keys[c] ? text(keys[c]) : QString());
}

void ArchiveWidget::btnsSetActive(bool active)
{
    ui->clearSavedBtn->setEnabled(active);
    ui->deleteBtn->setEnabled(active);
    ui->commentBtn->setEnabled(active);
    ui->openTabSavBtn->setEnabled(active);
}

QStringList ArchiveWidget::selectedIds(const QTableView* view)
{
    QStringList ids;
    if (!view || !view->selectionModel())
        return ids;
    QSet<int> seen;
    for (const QModelIndex& cell : view->selectionModel()->selectedIndexes()) {
        if (seen.contains(cell.row()))
            continue;
        seen.insert(cell.row());
        ids << view->model()->index(cell.row(), ArchiveListModel::ColId).data().toString();
    }
    return ids;
}

QStringList ArchiveWidget::selectedIds() const
{
    return selectedIds(ui->tableSaved);
}

const ArchivedSession* ArchiveWidget::session(const QString& id) const
{
    const int r = model->rowOf(id);
    return r >= 0 ? &model->at(r) : nullptr;
}

void ArchiveWidget::makeCurrent(int sourceRow)
{
    const QModelIndex at = proxy->mapFromSource(model->index(sourceRow, 0));
    if (!at.isValid())
        return;
    ui->tableSaved->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect
                                                              | QItemSelectionModel::Rows);
    ui->tableSaved->scrollTo(at);
}

void ArchiveWidget::reload()
{
    const QStringList selected = selectedIds();
    QTableView* view = ui->tableSaved;
    view->setUpdatesEnabled(false);
    model->reset(store ? store->sessions() : QVector<ArchivedSession>());
    view->setUpdatesEnabled(true);
    for (int c = 0; c < ArchiveListModel::ColumnCount; ++c)
        if (c != ArchiveListModel::ColStatus && c != ArchiveListModel::ColComment)
            view->resizeColumnToContents(c);

    QItemSelectionModel* selection = view->selectionModel();
    QModelIndex current;
    for (const QString& id : selected) {
        const int r = model->rowOf(id);
        if (r < 0)
            continue;
        const QModelIndex at = proxy->mapFromSource(model->index(r, 0));
        selection->select(at, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (!current.isValid())
            current = at;
    }
    if (current.isValid())
        selection->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    else if (model->rowCount() > 0)
        view->setCurrentIndex(proxy->index(0, 0));
    btnsSetActive(model->rowCount() > 0);
    selectionChanged();
}

void ArchiveWidget::addSession(const ArchivedSession& session)
{
    model->append(session);
    makeCurrent(model->rowCount() - 1);
    btnsSetActive(true);
}

void ArchiveWidget::removeSessions(const QStringList& ids)
{
    model->remove(ids);
    if (model->rowCount() == 0)
        btnsSetActive(false);
    selectionChanged();
}

void ArchiveWidget::setComment(const QString& id, const QString& comment)
{
    model->setComment(id, comment);
}

void ArchiveWidget::clearAll()
{
    model->reset({});
    btnsSetActive(false);
    selectionChanged();
}

void ArchiveWidget::setHighlighted(quint64 id, bool on)
{
    model->setBold(id, on);
}

void ArchiveWidget::selectionChanged()
{
    const int rows = selectedIds().size();
    ui->btnCompareSaved->setEnabled(rows >= 2 && rows <= 5);
    ui->commentBtn->setEnabled(rows < 2 && model->rowCount() > 0);
}

void ArchiveWidget::on_openTabSavBtn_clicked()
{
    emit clickOpenTab(ui->tableSaved);
}

void ArchiveWidget::on_tableSaved_doubleClicked(QModelIndex index)
{
    Q_UNUSED(index)
    emit clickOpenTab(ui->tableSaved);
}

void ArchiveWidget::on_btnRefresh_clicked()
{
    reload();
}

void ArchiveWidget::on_deleteBtn_clicked()
{
    emit clickDelete();
}

void ArchiveWidget::on_clearSavedBtn_clicked()
{
    // The main window asks first and empties the list once the file is empty.
    if (model->rowCount() > 0)
        emit clickClearAll();
}

void ArchiveWidget::on_commentBtn_clicked()
{
    QTableView* view = ui->tableSaved;
    const QModelIndex current = view->currentIndex();
    if (model->rowCount() == 0 || !current.isValid()) {
        view->setFocus();
        return;
    }
    const QString id = proxy->index(current.row(), ArchiveListModel::ColId).data().toString();
    const QString comment = proxy->index(current.row(), ArchiveListModel::ColComment).data().toString();
    CommentDialog dialog(text("comment_btn"), comment, this);
    if (dialog.exec() == QDialog::Accepted)
        emit clickComment(id, dialog.getTextComment());
    view->setFocus();
}

void ArchiveWidget::on_btnCompareSaved_clicked()
{
    QList<SessionQueries> sessions;
    for (const QString& id : selectedIds()) {
        bool ok = false;
        const QStringList texts = store ? store->statementTexts(id, &ok) : QStringList();
        if (!ok) {
            languageEngine* le = WidgetEnv::language();
            QMessageBox::warning(this, le ? le->errors(QStringLiteral("error_str")) : QStringLiteral("Error"),
                                 (le ? le->errors(QStringLiteral("archive_read_error")) : QString())
                                     + QLatin1Char('\n') + (store ? store->lastError() : QString()));
            return;
        }
        sessions << SessionQueries{id, texts};
    }
    if (sessions.isEmpty())
        return;
    languageEngine* le = WidgetEnv::language();
    CompareWidget compare(sessions, le ? le->compare(QStringLiteral("title_str")) : QString(), this);
    compare.exec();
    ui->tableSaved->setFocus();
}
