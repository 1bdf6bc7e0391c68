#include "SessionWidget.h"
#include "ShownWidths.h"
#include "ui_SessionWidget.h"

#include "CodeEditor.h"
#include "ExportDialog.h"
#include "FilterDialog.h"
#include "MngrSessions.h"
#include "PatternTable.h"
#include "SessionData.h"
#include "SortFilterProxyModel.h"
#include "StyleEngine.h"
#include "TableButtonDelegate.h"
#include "TableQueryDelegate.h"
#include "TableStatusDelegate.h"
#include "TextHelpers.h"
#include "TwinGroups.h"
#include "TwinWidget.h"
#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QDialog>
#include <QHeaderView>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace {

/// `value` limited to 3 decimals (fixed notation, read back).
double round3(double value)
{
    return QString::number(value, 'f', 3).toDouble();
}

/// 3 decimals when positive, else 0.
double positive3(double value)
{
    return value > 0 ? round3(value) : 0.0;
}

} // namespace

/// The statement table of a session tab: row i is statement base() + i of
/// the record (the statements released before the table was loaded are not
/// rows), read from the record when a view asks, so that a batch costs the
/// rows it adds and no items are kept per statement. The statement cell's
/// highlighted HTML, tool tip and one-line form (user role, what filtering
/// and export read) are made the first time they are asked for and kept.
/// The shares of the total and of the slowest statement are read at the
/// moment they are shown: they move for every row with each batch.
/// It stays a QStandardItemModel for its header texts; it has no items.
/// GUI thread only.
class SessionQueryModel : public QStandardItemModel
{
public:
    explicit SessionQueryModel(QObject* parent)
        : QStandardItemModel(0, SessionWidget::ColumnCount, parent)
    {
    }

    void setRecord(SessionData* data) { record = data; }

    /// Forgets every row (and the cached texts), then shows the first `n` statements.
    void reload(int n)
    {
        beginResetModel();
        html.clear();
        tips.clear();
        lines.clear();
        shown = 0;
        first = record ? record->queries.released() : 0;
        endResetModel();
        append(n);
    }

    /// The record's position of row 0.
    int base() const { return first; }

    /// Removes the rows at the front whose statements the record released;
    /// returns how many.
    int dropReleased()
    {
        const int gone = record ? qMin(record->queries.released() - first, shown) : 0;
        if (gone <= 0)
            return 0;
        beginRemoveRows(QModelIndex(), 0, gone - 1);
        first += gone;
        shown -= gone;
        html.remove(0, gone);
        tips.remove(0, gone);
        lines.remove(0, gone);
        endRemoveRows();
        return gone;
    }

    /// Shows statements up to `n` (the record's first `n`), announced as one insertion.
    void append(int n)
    {
        n = qMin(n, record ? record->queries.size() : 0) - first;
        if (n <= shown)
            return;
        beginInsertRows(QModelIndex(), shown, n - 1);
        shown = n;
        html.resize(n);
        tips.resize(n);
        lines.resize(n);
        endInsertRows();
    }

    /// Rows [first, last] read their record again (a batch seen twice).
    void refresh(int first, int last)
    {
        last = qMin(last, shown - 1);
        if (first > last)
            return;
        for (int r = first; r <= last; ++r) {
            html[r].clear();
            tips[r].clear();
            lines[r].clear();
        }
        emit dataChanged(index(first, 0), index(last, SessionWidget::ColumnCount - 1));
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : shown; }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : SessionWidget::ColumnCount;
    }
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override
    {
        return !parent.isValid() && shown > 0;
    }
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override
    {
        if (parent.isValid() || row < 0 || row >= shown || column < 0 || column >= SessionWidget::ColumnCount)
            return QModelIndex();
        return createIndex(row, column);
    }
    QModelIndex parent(const QModelIndex&) const override { return QModelIndex(); }
    using QStandardItemModel::parent;
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid())
            return Qt::ItemIsDropEnabled;
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemIsDragEnabled
            | Qt::ItemIsDropEnabled;
    }
    bool setData(const QModelIndex&, const QVariant&, int = Qt::EditRole) override { return false; }

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override
    {
        if (!index.isValid() || index.model() != this || index.row() >= shown || !record
            || !record->queries.isKept(first + index.row()))
            return QVariant();
        // Read only what the cell needs: a sorted view asks for one column of
        // many rows with each batch.
        const int row = index.row();
        const int at = first + row;
        const bool value = role == Qt::DisplayRole || role == Qt::EditRole;
        switch (index.column()) {
        case SessionWidget::ColNumber:
            return value ? QVariant(at + 1) : QVariant();
        case SessionWidget::ColStatus:
            return value ? QVariant(record->queries.isError(at) ? QStringLiteral("no") : QStringLiteral("yes"))
                         : QVariant();
        case SessionWidget::ColQuery:
            if (value) {
                if (html.at(row).isNull())
                    html[row] = TextHelpers::toHighlightText(record->queries.text(at).trimmed());
                return html.at(row);
            }
            if (role == Qt::ToolTipRole) {
                if (tips.at(row).isNull())
                    tips[row] = TextHelpers::toTooltipStr(record->queries.text(at).trimmed());
                return tips.at(row);
            }
            if (role == Qt::UserRole) {
                if (lines.at(row).isNull())
                    lines[row] = TextHelpers::recQuery(record->queries.text(at)).simplified();
                return lines.at(row);
            }
            return QVariant();
        default:
            break;
        }
        const Query stored = record->queries.figures(at);
        const Query* q = &stored;
        switch (index.column()) {
        case SessionWidget::ColTimeMs:
            return value ? QVariant(round3(q->durationMs)) : QVariant();
        case SessionWidget::ColTimePercent:
            return value ? QVariant(positive3(q->shareOfTotal)) : QVariant();
        case SessionWidget::ColLongestPercent:
            return value ? QVariant(q->percentOfMax) : QVariant();
        case SessionWidget::ColRows:
            if (value)
                return q->rows;
            if (role == Qt::TextAlignmentRole)
                return int(Qt::AlignRight | Qt::AlignVCenter);
            if (role == Qt::ForegroundRole)
                return QBrush(QColor(QStringLiteral("blue")));
            return QVariant();
        case SessionWidget::ColReceived:
            return value ? QVariant(positive3(q->responseKb)) : QVariant();
        case SessionWidget::ColSent:
            return value ? QVariant(positive3(q->requestKb)) : QVariant();
        default:
            return QVariant();
        }
    }

private:
    SessionData* record = nullptr;
    int shown = 0;   ///< rows that views know of
    int first = 0;   ///< the record's position of row 0
    // Cached texts of the statement cell; a null string is not made yet.
    mutable QVector<QString> html;
    mutable QVector<QString> tips;
    mutable QVector<QString> lines;
};

namespace {

const QString kBoldOpen = QStringLiteral(" <span style = \"font: bold\">");
const QString kBoldClose = QStringLiteral("</span>");

} // namespace

SessionWidget::SessionWidget(languageEngine* lang_, SessionData* data, unsigned int index, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::SessionWidget)
    , sessionData(data)
    , sessionIndex(index)
    , lang(lang_)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("sessiontab"));
    ui->queryViewer->setReadOnlyStyle();
    ui->queryViewer->setReadOnly(true);

    QFont bigger = ui->statRecived->font();
    if (bigger.pointSize() > 0)
        bigger.setPointSize(bigger.pointSize() + 2);
    else
        bigger.setPixelSize(bigger.pixelSize() + 2);
    for (QLabel* l : {ui->statRecived, ui->statSent, ui->statRows, ui->statElapsed})
        l->setFont(bigger);

    plotter.setMaxY(5);
    plotter.setLabelGraph(text(QStringLiteral("time_ms_col")));
    ui->plotLayout->addWidget(&plotter);

    model = new SessionQueryModel(this);
    model->setRecord(sessionData);
    proxy = new SortFilterProxyModel(this);
    proxy->setDynamicSortFilter(true);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy->statusColumn = ColStatus;
    proxy->setSourceModel(model);

    QTableView* view = ui->tableQueries;
    view->setModel(proxy);
    view->setItemDelegateForColumn(ColStatus, new TableStatusDelegate(view));
    view->setItemDelegateForColumn(ColQuery, new TableQueryDelegate(CodeEditor::_css, view));
    auto* bar = new TableButtonDelegate(view, true);
    bar->barColumn = ColLongestPercent;
    bar->barFullScale = 100.0;
    view->setItemDelegateForColumn(ColLongestPercent, bar);

    setupHeader();
    new NumberWidths(view, {ColNumber, ColTimeMs, ColRows, ColReceived, ColSent});
    // With sorting enabled the view itself re-sorts when the header's sort
    // indicator changes.
    view->setSortingEnabled(true);
    view->sortByColumn(ColNumber, Qt::DescendingOrder);
    setFocusProxy(view);

    connect(ui->btnTwin, &QPushButton::clicked, this, &SessionWidget::openTwin);
    connect(view, &QTableView::doubleClicked, this, [this] { on_btnToSql_clicked(); });
    connect(&plotter, &Plotter::setIndexQuery, this, &SessionWidget::setCurrentQuery);
    if (lang)
        connect(lang, &languageEngine::languageChange, this, &SessionWidget::changeLanguage);
    connect(ui->btnCopy, &QPushButton::clicked, this, &SessionWidget::onClickedCopy);
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &SessionWidget::onSelectRowQuery);

    changeLanguage();

    struct LabelColour
    {
        QLabel* label;
        const char* key;
        const char* def;
    };
    const LabelColour colours[] = {
        {ui->statQuery, "queries_txt_clr", "#626262"},
        {ui->statRecived, "received_txt_clr", "#74b67f"},
        {ui->statSent, "send_txt_clr", "#5f89de"},
        {ui->statElapsed, "elapsed_txt_clr", "#74b67f"},
        {ui->statRows, "rows_txt_clr", "#5f89de"},
    };
    for (const LabelColour& c : colours) {
        QPalette pal = c.label->palette();
        pal.setColor(c.label->foregroundRole(),
                     WidgetEnv::color(&StyleEngine::sessionTab, QLatin1String(c.key), QLatin1String(c.def)));
        c.label->setPalette(pal);
    }
}

SessionWidget::~SessionWidget()
{
    delete ui;
    model->setRecord(nullptr);   // the table outlives the record by a moment
    if (ownsSessionData)
        delete sessionData;   // deletes its statements too
}

void SessionWidget::setAutoWidths(bool on)
{
    // A hidden table measures every row to size a column to its contents:
    // while the view is not shown the widths stay as they are.
    QHeaderView* header = ui->tableQueries->horizontalHeader();
    for (int c : {ColTimePercent, ColLongestPercent})
        header->setSectionResizeMode(c, on ? QHeaderView::ResizeToContents : QHeaderView::Interactive);
}

void SessionWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    setAutoWidths(true);
}

void SessionWidget::hideEvent(QHideEvent* event)
{
    setAutoWidths(false);
    QWidget::hideEvent(event);
}

void SessionWidget::setupHeader()
{
    QHeaderView* header = ui->tableQueries->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    setAutoWidths(isVisible());
    // Sizes to what is on screen: measuring thousands of rows after every
    // batch would cost more than the batch itself.
    header->setResizeContentsPrecision(0);
    header->setSectionResizeMode(ColStatus, QHeaderView::Fixed);
    header->setMinimumSectionSize(qMin(header->minimumSectionSize(), 22));
    header->resizeSection(ColStatus, 22);
    header->setSectionResizeMode(ColQuery, QHeaderView::Stretch);
}

QTableView* SessionWidget::tableQueries() const
{
    return ui->tableQueries;
}

QString SessionWidget::text(const QString& key) const
{
    return lang ? lang->session(key) : languageEngine::missingText();
}

void SessionWidget::setStatLabel(QLabel* label, const QString& captionKey, const QString& value)
{
    label->setText(text(captionKey) + kBoldOpen + value + kBoldClose);
}

void SessionWidget::refreshTotals()
{
    const QLocale locale = QLocale::system();
    const int queries = sessionData ? sessionData->queries.size() : 0;
    const int released = sessionData ? sessionData->queries.released() : 0;
    setStatLabel(ui->statQuery, QStringLiteral("queries_str"),
                 released > 0 ? QStringLiteral("%1 (%2)").arg(queries).arg(
                     text(QStringLiteral("released_str")).arg(QLocale::system().toString(released)))
                              : QString::number(queries));
    setStatLabel(ui->statRecived, QStringLiteral("get_str"),
                 locale.toString(sessionData ? sessionData->responseKbTotal : 0.0f, 'f', 1)
                     + text(QStringLiteral("kb_str")));
    setStatLabel(ui->statSent, QStringLiteral("sent_str"),
                 locale.toString(sessionData ? sessionData->requestKbTotal : 0.0f, 'f', 1)
                     + text(QStringLiteral("kb_str")));
    setStatLabel(ui->statRows, QStringLiteral("rows_str"),
                 QString::number(sessionData ? sessionData->rowsTotal : 0u));
}

void SessionWidget::showRunning()
{
    setStatLabel(ui->statElapsed, QStringLiteral("elapsed_str"), text(QStringLiteral("performed_str")));
}

void SessionWidget::setFlagActive(bool a)
{
    showRunning();
    active = a;
}

void SessionWidget::updateElapsedStat()
{
    const QString duration = sessionData ? sessionData->duration.toString(QStringLiteral("hh:mm:ss.zzz")) : QString();
    setStatLabel(ui->statElapsed, QStringLiteral("elapsed_str"), duration);
    active = false;
}

void SessionWidget::changeLanguage()
{
    static const char* const headers[ColumnCount] = {
        "num_col", nullptr, "query_col", "time_ms_col", "time_per_col", "longest_per_col",
        "rows_col", "get_col", "sent_col"};
    for (int c = 0; c < ColumnCount; ++c)
        model->setHeaderData(c, Qt::Horizontal, headers[c] ? text(QLatin1String(headers[c])) : QString(),
                             Qt::EditRole);

    ui->btnExport->setText(text(QStringLiteral("export_btn")));
    ui->btnTwin->setText(text(QStringLiteral("twin_btn")));
    ui->btnPatterns->setText(text(QStringLiteral("patterns_btn")));
    ui->label->setText(text(QStringLiteral("code_query_str")));
    ui->btnCopy->setToolTip(text(QStringLiteral("copy_btn")));
    ui->btnToSql->setText(text(QStringLiteral("to_sql_editor_btn")));
    ui->btnExplay->setText(text(QStringLiteral("explain_btn")));
    ui->btnFilter->setText(text(QStringLiteral("filter_btn")));
    plotter.setLabelGraph(text(QStringLiteral("time_ms_col")));

    refreshTotals();
    if (active)
        showRunning();
    else
        updateElapsedStat();
}

QStandardItemModel* SessionWidget::queryModel() const
{
    return model;
}

void SessionWidget::refreshDependentColumns(int to)
{
    if (to <= 0)
        return;
    // The cells read the records when shown: repainting is enough, unless the
    // table is sorted by one of them and has to be re-sorted.
    const int sortColumn = ui->tableQueries->horizontalHeader()->sortIndicatorSection();
    if (sortColumn == ColTimePercent || sortColumn == ColLongestPercent)
        emit model->dataChanged(model->index(0, ColTimePercent), model->index(to - 1, ColLongestPercent),
                                {Qt::DisplayRole, Qt::EditRole});
    else
        ui->tableQueries->viewport()->update();
}

void SessionWidget::loadQueries()
{
    if (!sessionData)
        return;
    const int all = sessionData->queries.size();
    shownRow = -1;

    // The proxy is detached while the rows are built, so that it sorts and
    // filters them once instead of taking them in one by one.
    QHeaderView* header = ui->tableQueries->horizontalHeader();
    const int sortColumn = header->sortIndicatorSection();
    const Qt::SortOrder sortOrder = header->sortIndicatorOrder();
    proxy->setSourceModel(nullptr);
    model->reload(all);
    proxy->setSourceModel(model);
    const int n = model->rowCount();
    setupHeader();
    ui->tableQueries->sortByColumn(sortColumn, sortOrder);

    plotRows();
    refreshTotals();
    if (n > 0) {
        followRow(n - 1);
        enableActions();
    }
}

void SessionWidget::plotRows()
{
    QList<double> durations;
    durations.reserve(model->rowCount());
    for (int i = model->base(); i < model->base() + model->rowCount(); ++i)
        durations << sessionData->queries.durationMs(i);
    plotter.clearGraph();
    plotter.addPoints(durations);
}

void SessionWidget::dropReleased()
{
    if (!sessionData || model->dropReleased() == 0)
        return;
    // Rows moved up: the graph and the statement shown follow the table.
    plotRows();
    shownRow = -1;
    const QModelIndex current = ui->tableQueries->currentIndex();
    showQuery(current.isValid() ? proxy->mapToSource(current).row() : -1);
    refreshTotals();
}

bool SessionWidget::acceptsBatch(uint index)
{
    if (!sessionData)
        return false;
    if (mngr) {
        // Positions move when the manager drops its oldest records: trust
        // the record, not the number.
        if (mngr->getSessionData(index) != sessionData)
            return false;
        sessionIndex = index;
        return true;
    }
    return index == sessionIndex;
}

void SessionWidget::addQueries(uint index, uint indexQuery, uint count)
{
    if (!acceptsBatch(index))
        return;
    refreshTotals();

    // Rows count from the first statement the table holds.
    const int base = model->base();
    const int total = sessionData->queries.size() - base;
    const int end = int(qMin<qint64>(total, qint64(indexQuery) - base + count));
    const int have = model->rowCount();
    const int first = int(qBound<qint64>(0, qint64(indexQuery) - base, have));

    // Rows of this batch that are shown already (loaded after the batch was
    // recorded) are read again; missing rows, also any skipped before, appended.
    model->refresh(first, qMin(have, end) - 1);
    QList<double> durations;
    if (have < end) {
        durations.reserve(end - have);
        for (int i = have; i < end; ++i)
            durations << sessionData->queries.durationMs(base + i);
        model->append(base + end);
    }

    // Older rows: their share of the total and of the slowest statement moved.
    refreshDependentColumns(first);

    if (!durations.isEmpty())
        plotter.addPoints(durations);
    if (end > 0)
        followRow(end - 1);
    if (!ui->btnExport->isEnabled() && end > 0)
        enableActions();
}

void SessionWidget::enableActions()
{
    ui->btnExport->setEnabled(true);
    ui->btnTwin->setEnabled(true);
    ui->btnPatterns->setEnabled(true);
    ui->btnFilter->setEnabled(true);
}

void SessionWidget::followRow(int row)
{
    const QModelIndex viewIndex = proxy->mapFromSource(model->index(row, ColNumber));
    if (!viewIndex.isValid())
        return;   // filtered out: what the user sees stays
    QTableView* view = ui->tableQueries;
    view->selectionModel()->setCurrentIndex(viewIndex, QItemSelectionModel::ClearAndSelect
                                                           | QItemSelectionModel::Rows);
    view->scrollTo(viewIndex, QAbstractItemView::EnsureVisible);
    showQuery(row);
}

void SessionWidget::showQuery(int row)
{
    if (!sessionData || row < 0 || !sessionData->queries.isKept(model->base() + row)) {
        ui->queryViewer->clear();
        shownRow = -1;
        plotter.setDrawLinePosition(-1);
        return;
    }
    if (row == shownRow)
        return;
    shownRow = row;
    ui->queryViewer->setPlainText(sessionData->queries.text(model->base() + row));
    plotter.setDrawLinePosition(row);
}

void SessionWidget::onSelectRowQuery(QModelIndex cur, QModelIndex prev)
{
    Q_UNUSED(prev)
    // showQuery() does nothing when the statement shown does not change.
    showQuery(cur.isValid() ? proxy->mapToSource(cur).row() : -1);
}

void SessionWidget::setCurrentQuery(int index)
{
    if (index < 0 || index >= model->rowCount())
        return;
    const QModelIndex viewIndex = proxy->mapFromSource(model->index(index, ColNumber));
    if (!viewIndex.isValid())
        return;
    ui->tableQueries->scrollTo(viewIndex);
    ui->tableQueries->selectionModel()->setCurrentIndex(viewIndex, QItemSelectionModel::ClearAndSelect
                                                                       | QItemSelectionModel::Rows);
}

void SessionWidget::onClickedCopy()
{
    emit clickedCopy(ui->queryViewer->toPlainText());
    setFocus();
}

void SessionWidget::sendToSql(int command)
{
    const QModelIndex cur = ui->tableQueries->currentIndex();
    if (!cur.isValid() || !sessionData)
        return;
    const int r = proxy->mapToSource(cur).row();
    if (r < 0 || !sessionData->queries.isKept(model->base() + r))
        return;
    emit sqlTabRequested(ui->queryViewer->toPlainText(), command, sessionData->queries.dbName(model->base() + r));
}

void SessionWidget::on_btnToSql_clicked()
{
    sendToSql(1);
}

void SessionWidget::on_btnExplay_clicked()
{
    sendToSql(2);
}

int SessionWidget::twinCount(const SessionData* data)
{
    return data ? TwinGroups::repeated(TwinGroups::group(data->queries)).size() : 0;
}

void SessionWidget::openTwin()
{
    TwinWidget twin(sessionData, text(QStringLiteral("title_str")), text(QStringLiteral("sql_col")),
                    text(QStringLiteral("replays_col")), text(QStringLiteral("rows_col")), this);
    if (twin.count() > 0)
        twin.exec();
    else
        QMessageBox::information(this, text(QStringLiteral("twin_btn")), text(QStringLiteral("not_found")),
                                 QMessageBox::Ok);
    setFocus();
}

void SessionWidget::on_btnPatterns_clicked()
{
    if (!sessionData)
        return;
    StatementPatterns counted;
    const StatementLog& log = sessionData->queries;
    for (int i = log.released(); i < log.size(); ++i)
        counted.add(patternSample(log.at(i, Qt::UTC), sessionData->id));
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("patternsDialog"));
    dialog.setWindowTitle(text(QStringLiteral("patterns_title")).arg(QueryLog::paddedId(sessionData->id)));
    auto* list = new PatternTable(PatternTable::Patterns, CodeEditor::_css, &dialog);
    list->view()->setObjectName(QStringLiteral("tablePatterns"));
    list->setShownForm([](const QString& t) { return TextHelpers::toHighlightText(t); });
    list->changeLanguage(lang);
    list->setStats(&counted.patterns);
    connect(list, &PatternTable::statementRequested, &dialog, [&](const QString& statement, const QString& db) {
        dialog.accept();
        emit sqlTabRequested(statement, 0, db);
    });
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(list);
    dialog.resize(qMax(width(), 900), 400);
    dialog.exec();
    setFocus();
}

void SessionWidget::on_btnFilter_clicked()
{
    QPushButton* btn = ui->btnFilter;
    if (!btn->isChecked()) {
        proxy->clearFilter();
        btn->setIcon(QIcon(QStringLiteral(":/images/filter_start.png")));
        return;
    }
    FilterDialog dialog(filterMode, filterKeyword, this, lang);
    if (dialog.exec() == QDialog::Accepted) {
        filterMode = dialog.mode();
        filterKeyword = dialog.keyword();
        proxy->applyMode(filterMode, filterKeyword, ColStatus);
        btn->setIcon(QIcon(QStringLiteral(":/images/filter_stop.png")));
    } else {
        btn->setChecked(false);
    }
}

QStringList SessionWidget::exportCaptions() const
{
    return ExportDialog::collectCaptions(proxy, ExportDialog::sessionFields());
}

QStringList SessionWidget::exportKeys() const
{
    return ExportDialog::fieldKeys(ExportDialog::sessionFields());
}

QList<QStringList> SessionWidget::exportRows() const
{
    return ExportDialog::collectRows(proxy, ExportDialog::sessionFields());
}

QString SessionWidget::exportNote() const
{
    const int released = sessionData ? sessionData->queries.released() : 0;
    return released > 0 ? text(QStringLiteral("released_str")).arg(QLocale::system().toString(released)) : QString();
}

QString SessionWidget::defaultExportPath() const
{
    const qulonglong id = sessionData ? sessionData->id : 0;
    return ExportDialog::defaultPath(QueryLog::paddedId(id) + QStringLiteral(".csv"));
}

void SessionWidget::on_btnExport_clicked()
{
    ExportDialog dialog(this, exportCaptions(), exportKeys(), exportRows(), defaultExportPath(),
                        QStringLiteral("Session"), lang);
    dialog.setNote(exportNote());
    dialog.exec();
}
