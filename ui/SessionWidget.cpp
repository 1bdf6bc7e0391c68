#include "SessionWidget.h"
#include "ui_SessionWidget.h"

#include "CodeEditor.h"
#include "ExportDialog.h"
#include "FilterDialog.h"
#include "MngrSessions.h"
#include "SessionData.h"
#include "SortFilterProxyModel.h"
#include "StyleEngine.h"
#include "TableButtonDelegate.h"
#include "TableQueryDelegate.h"
#include "TableStatusDelegate.h"
#include "TextHelpers.h"
#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QStandardItemModel>

namespace {

/// The statement cell: its highlighted HTML and tool tip are made the first
/// time a view asks for them and kept, so that appending a batch costs no
/// highlighting for rows nobody looks at.
class StatementItem : public QStandardItem
{
public:
    explicit StatementItem(const QString& statement)
        : raw(statement.trimmed())
    {
        // The one-line form filtering and export read.
        setData(TextHelpers::recQuery(statement).simplified(), Qt::UserRole);
    }

    QVariant data(int role) const override
    {
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            if (!htmlDone) {
                html = TextHelpers::toHighlightText(raw);
                htmlDone = true;
            }
            return html;
        }
        if (role == Qt::ToolTipRole) {
            if (!tipDone) {
                tip = TextHelpers::toTooltipStr(raw);
                tipDone = true;
            }
            return tip;
        }
        return QStandardItem::data(role);
    }

    int type() const override { return QStandardItem::UserType + 1; }

private:
    QString raw;
    mutable QString html;
    mutable QString tip;
    mutable bool htmlDone = false;
    mutable bool tipDone = false;
};

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

QStandardItem* valueItem(const QVariant& value)
{
    auto* item = new QStandardItem;
    item->setData(value, Qt::EditRole);
    return item;
}

/// A cell that reads its statement's share of the session's total time or
/// its percent of the slowest statement at the moment it is shown: both
/// change for every statement with each new batch, and rewriting them all
/// would cost the whole table per batch.
class LiveShareItem : public QStandardItem
{
public:
    LiveShareItem(const Query* query, bool share) : q(query), shareOfTotal(share) {}

    QVariant data(int role) const override
    {
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return shareOfTotal ? QVariant(positive3(q->shareOfTotal)) : QVariant(q->percentOfMax);
        return QStandardItem::data(role);
    }

    int type() const override { return QStandardItem::UserType + 2; }

private:
    const Query* q;
    bool shareOfTotal;
};

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

    model = new QStandardItemModel(0, ColumnCount, this);
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
    if (ownsSessionData)
        delete sessionData;   // deletes its statements too
}

void SessionWidget::setAutoWidths(bool on)
{
    // A hidden table measures every row to size a column to its contents:
    // while the view is not shown the widths stay as they are.
    QHeaderView* header = ui->tableQueries->horizontalHeader();
    for (int c = 0; c < ColumnCount; ++c)
        if (c != ColStatus && c != ColQuery)
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
    setStatLabel(ui->statQuery, QStringLiteral("queries_str"), QString::number(queries));
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

void SessionWidget::fillRow(int row)
{
    // Only used for rows that exist already (a batch seen twice): rewrites
    // every cell in place.
    const Query* q = sessionData->queries.at(row);
    model->setData(model->index(row, ColNumber), row + 1);
    model->setData(model->index(row, ColStatus), q->isError ? QStringLiteral("no") : QStringLiteral("yes"));
    model->setItem(row, ColQuery, new StatementItem(q->text));
    model->setData(model->index(row, ColTimeMs), round3(q->durationMs));
    model->setItem(row, ColTimePercent, new LiveShareItem(q, true));
    model->setItem(row, ColLongestPercent, new LiveShareItem(q, false));
    model->setData(model->index(row, ColRows), q->rows);
    model->setData(model->index(row, ColReceived), positive3(q->responseKb));
    model->setData(model->index(row, ColSent), positive3(q->requestKb));
}

QList<double> SessionWidget::appendRows(int from, int to)
{
    QList<double> durations;
    if (to <= from)
        return durations;
    durations.reserve(to - from);
    // The whole batch is one insertion: its numbers first, so that the
    // sorting proxy places the rows in one pass instead of one pass per row.
    const int base = model->rowCount();
    QList<QStandardItem*> numbers;
    numbers.reserve(to - from);
    for (int i = from; i < to; ++i)
        numbers << valueItem(i + 1);
    model->invisibleRootItem()->appendRows(numbers);
    {
        // The other cells arrive silently and are announced once below.
        const QSignalBlocker blocker(model);
        for (int i = from; i < to; ++i) {
            const Query* q = sessionData->queries.at(i);
            const int r = base + (i - from);
            model->setItem(r, ColStatus, valueItem(q->isError ? QStringLiteral("no") : QStringLiteral("yes")));
            model->setItem(r, ColQuery, new StatementItem(q->text));
            model->setItem(r, ColTimeMs, valueItem(round3(q->durationMs)));
            model->setItem(r, ColTimePercent, new LiveShareItem(q, true));
            model->setItem(r, ColLongestPercent, new LiveShareItem(q, false));
            QStandardItem* rows = valueItem(q->rows);
            rows->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            rows->setForeground(QBrush(QColor(QStringLiteral("blue"))));
            model->setItem(r, ColRows, rows);
            model->setItem(r, ColReceived, valueItem(positive3(q->responseKb)));
            model->setItem(r, ColSent, valueItem(positive3(q->requestKb)));
            durations << q->durationMs;
        }
    }
    emit model->dataChanged(model->index(base, ColStatus), model->index(base + (to - from) - 1, ColumnCount - 1));
    return durations;
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
    const int n = sessionData->queries.size();
    shownRow = -1;

    // The proxy is detached while the rows are built, so that it sorts and
    // filters them once instead of taking them in one by one.
    QHeaderView* header = ui->tableQueries->horizontalHeader();
    const int sortColumn = header->sortIndicatorSection();
    const Qt::SortOrder sortOrder = header->sortIndicatorOrder();
    proxy->setSourceModel(nullptr);
    model->removeRows(0, model->rowCount());
    const QList<double> durations = appendRows(0, n);
    proxy->setSourceModel(model);
    setupHeader();
    ui->tableQueries->sortByColumn(sortColumn, sortOrder);

    plotter.clearGraph();
    plotter.addPoints(durations);
    refreshTotals();
    if (n > 0) {
        followRow(n - 1);
        enableActions();
    }
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

    const int total = sessionData->queries.size();
    const int end = int(qMin<qint64>(total, qint64(indexQuery) + count));
    const int have = model->rowCount();
    const int first = int(qMin<qint64>(indexQuery, have));

    // Rows of this batch that are shown already (loaded after the batch was
    // recorded) are rewritten; missing rows, also any skipped before, appended.
    for (int r = first; r < qMin(have, end); ++r)
        fillRow(r);
    const QList<double> durations = have < end ? appendRows(have, end) : QList<double>();

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
    if (!sessionData || row < 0 || row >= sessionData->queries.size()) {
        ui->queryViewer->clear();
        shownRow = -1;
        plotter.setDrawLinePosition(-1);
        return;
    }
    if (row == shownRow)
        return;
    shownRow = row;
    ui->queryViewer->setPlainText(sessionData->queries.at(row)->text);
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
    if (r < 0 || r >= sessionData->queries.size())
        return;
    emit sqlTabRequested(ui->queryViewer->toPlainText(), command, sessionData->queries.at(r)->dbName);
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
    if (!data)
        return 0;
    QHash<QString, int> seen;
    int twins = 0;
    for (const Query* q : data->queries) {
        if (++seen[q->text] == 2)
            ++twins;
    }
    return twins;
}

void SessionWidget::openTwin()
{
    if (twinCount(sessionData) > 0)
        emit twinRequested(sessionData);
    else
        QMessageBox::information(this, text(QStringLiteral("twin_btn")), text(QStringLiteral("not_found")),
                                 QMessageBox::Ok);
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

QString SessionWidget::defaultExportPath() const
{
    const qulonglong id = sessionData ? sessionData->id : 0;
    return ExportDialog::defaultPath(QStringLiteral("%1.csv").arg(id, 7, 10, QLatin1Char('0')));
}

void SessionWidget::on_btnExport_clicked()
{
    ExportDialog dialog(this, exportCaptions(), exportKeys(), exportRows(), defaultExportPath(),
                        QStringLiteral("Session"), lang);
    dialog.exec();
}
