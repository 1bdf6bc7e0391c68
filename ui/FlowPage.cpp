#include "FlowPage.h"
#include "ui_MainWindow.h"

#include "CodeEditor.h"
#include "ExportDialog.h"
#include "FilterDialog.h"
#include "MngrSessions.h"
#include "SessionData.h"
#include "Settings.h"
#include "ShownWidths.h"
#include "SortFilterProxyModel.h"
#include "TableQueryDelegate.h"
#include "TableStatusDelegate.h"
#include "languageEngine.h"

#include <QHeaderView>
#include <QItemSelectionModel>

FlowPage::FlowPage(Ui::MainWindow* form, MngrSessions* manager, Settings* s, languageEngine* le,
                   QWidget* parentWidget)
    : QObject(parentWidget), ui(form), mngr(manager), settings(s), lang(le), dialogParent(parentWidget)
{
    flowModel = new FlowModel(this);
    flowProxy = new SortFilterProxyModel(this);
    flowProxy->setDynamicSortFilter(true);
    flowProxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    flowProxy->setSourceModel(flowModel);

    QTableView* view = ui->flowTable;
    view->setModel(flowProxy);
    view->setSortingEnabled(true);
    view->sortByColumn(FlowModel::ColNumber, Qt::DescendingOrder);
    view->setItemDelegateForColumn(FlowModel::ColStatus, new TableStatusDelegate(view));
    view->setItemDelegateForColumn(FlowModel::ColQuery, new TableQueryDelegate(CodeEditor::_css, view));
    view->setColumnHidden(FlowModel::ColFinished, true);
    view->setColumnHidden(FlowModel::ColPosition, true);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 8);

    QHeaderView* header = view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(FlowModel::ColStatus, QHeaderView::Fixed);
    header->resizeSection(FlowModel::ColStatus, 22);
    header->setSectionResizeMode(FlowModel::ColQuery, QHeaderView::Stretch);
    // Contents are measured on the rows on screen only: the flow grows at the
    // top, and measuring every row on every batch costs more than it shows.
    header->setResizeContentsPrecision(0);
    header->setHighlightSections(false);
    new NumberWidths(view, {FlowModel::ColNumber, FlowModel::ColSession, FlowModel::ColTimeMs, FlowModel::ColKb,
                            FlowModel::ColRows});

    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &FlowPage::onCurrentRowChanged);

    tick.setInterval(tickMs);
    connect(&tick, &QTimer::timeout, this, &FlowPage::flush);
    tick.start();
}

void FlowPage::enqueue(const SessionData* data, int from, quint32 firstNumber)
{
    if (!data)
        return;
    const int end = data->queries.size();
    pending.reserve(pending.size() + std::max(0, end - from));
    quint32 number = firstNumber;
    for (int i = std::max(from, data->queries.released()); i < end; ++i) {
        // UTC: the local time is worked out only for a row that shows it.
        const Query stored = data->queries.at(i, Qt::UTC);
        const Query* q = &stored;
        FlowRow r;
        r.number = number++;
        r.sessionId = data->id;
        r.isError = q->isError;
        r.text = q->text.trimmed();
        r.durationMs = FlowModel::round3(q->durationMs);
        r.responseKb = FlowModel::round3(double(q->responseKb));
        r.rows = q->rows;
        r.finishedAt = q->finishedAt;
        r.position = i;
        pending.append(std::move(r));
    }
    // Rows beyond the limit would only be dropped when shown.
    const int limit = std::max(1, settings->MaxLinesFlow);
    if (pending.size() > 2 * limit)
        pending.erase(pending.begin(), pending.end() - limit);
}

void FlowPage::flush()
{
    if (pending.isEmpty())
        return;
    const bool wasEmpty = flowModel->rowCount() == 0;
    QVector<FlowRow> batch;
    batch.swap(pending);
    flowModel->append(batch, settings->MaxLinesFlow);

    if (wasEmpty && flowModel->rowCount() > 0) {
        ui->btnFilter->setEnabled(true);
        ui->btnExport->setEnabled(true);
    }
    // The newest statement (view row 0 in the starting order) becomes current.
    const QModelIndex top = flowProxy->index(0, FlowModel::ColNumber);
    if (top.isValid())
        ui->flowTable->selectionModel()->setCurrentIndex(
            top, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (!ui->btnExecute->isEnabled())
        emit firstStatementShown();
}

void FlowPage::trimTo(int limit)
{
    flowModel->trimTo(limit);
    if (pending.size() > std::max(1, limit))
        pending.erase(pending.begin(), pending.end() - std::max(1, limit));
}

void FlowPage::clear()
{
    pending.clear();
    flowModel->clear();
    ui->queryViewer->clear();
    ui->btnFilter->setEnabled(false);
    ui->btnExport->setEnabled(false);
}

bool FlowPage::statementAt(const QModelIndex& viewIndex, unsigned long* sessionId, int* position) const
{
    if (!viewIndex.isValid())
        return false;
    const QModelIndex src = viewIndex.model() == flowProxy ? flowProxy->mapToSource(viewIndex) : viewIndex;
    if (!src.isValid() || src.row() >= flowModel->rowCount())
        return false;
    const FlowRow& r = flowModel->row(src.row());
    *sessionId = r.sessionId;
    *position = r.position;
    return true;
}

void FlowPage::onCurrentRowChanged(const QModelIndex& cur, const QModelIndex& prev)
{
    if (cur.isValid() && prev.isValid() && cur.row() == prev.row()
        && flowProxy->mapToSource(cur).row() == flowProxy->mapToSource(prev).row())
        return;
    unsigned long id = 0;
    int position = -1;
    if (!statementAt(cur, &id, &position)) {
        ui->queryViewer->clear();
        return;
    }
    const SessionData* data = mngr->getSessionData(uint(std::max(0, mngr->getSessionIndex(id))));
    if (!data || data->id != id || !data->queries.isKept(position)) {
        ui->queryViewer->clear();
        return;
    }
    const QString text = data->queries.text(position);
    if (ui->queryViewer->toPlainText() != text)
        ui->queryViewer->setPlainText(text);
}

bool FlowPage::currentStatement(QString* text, QString* dbName) const
{
    unsigned long id = 0;
    int position = -1;
    if (!statementAt(ui->flowTable->currentIndex(), &id, &position))
        return false;
    const int index = mngr->getSessionIndex(id);
    const SessionData* data = index >= 0 ? mngr->getSessionData(uint(index)) : nullptr;
    *text = ui->queryViewer->toPlainText();
    *dbName = data ? data->queries.dbName(position) : QString();
    return true;
}

void FlowPage::toggleFilter(bool checked)
{
    if (checked) {
        FilterDialog dialog(filterMode, filterKeyword, dialogParent, lang);
        if (dialog.exec() != QDialog::Accepted) {
            ui->btnFilter->setChecked(false);
            return;
        }
        filterMode = dialog.mode();
        filterKeyword = dialog.keyword();
        // In errors mode the status cell is column 2 of the flow.
        flowProxy->applyMode(filterMode, filterKeyword, FlowModel::ColStatus);
    } else {
        flowProxy->clearFilter();
    }
}

QStringList FlowPage::exportCaptions() const
{
    return ExportDialog::collectCaptions(flowProxy, ExportDialog::flowFields());
}

QList<QStringList> FlowPage::exportRows() const
{
    return ExportDialog::collectRows(flowProxy, ExportDialog::flowFields());
}

void FlowPage::runExport()
{
    ExportDialog dialog(dialogParent, exportCaptions(), ExportDialog::fieldKeys(ExportDialog::flowFields()),
                        exportRows(), ExportDialog::defaultPath(QStringLiteral("flow.csv")),
                        QStringLiteral("Flow"), lang);
    dialog.exec();
}

void FlowPage::changeLanguage()
{
    auto f = [this](const char* key) { return lang->flow(QLatin1String(key)); };
    ui->btnExplay->setText(f("explain_btn"));
    ui->btnExecute->setText(f("to_sql_editor_btn"));
    ui->lbCodeTitle->setText(f("code_query_str"));
    ui->btnCopy->setToolTip(f("copy_btn"));
    ui->btnExport->setText(f("export_btn"));
    ui->btnFilter->setText(f("filter_btn"));
    const char* const keys[] = {"num_col", "session_col", "", "query_col", "time_ms_col", "get_col",
                                "rows_col", "", ""};
    for (int c = 0; c < FlowModel::ColumnCount; ++c)
        flowModel->setHeaderData(c, Qt::Horizontal, *keys[c] ? f(keys[c]) : QString());
}
