#include "PatternTable.h"

#include "ExportDialog.h"
#include "StyleEngine.h"
#include "TableButtonDelegate.h"
#include "TableQueryDelegate.h"
#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace {

/// Cells of the "other" row (no rank) in the theme's muted colour.
class OtherRowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!index.sibling(index.row(), PatternModel::ColRank).data().isValid())
            option->palette.setColor(QPalette::Text, WidgetEnv::color(&StyleEngine::rootEntries,
                                                                      QStringLiteral("pattern_other_txt_clr"),
                                                                      QStringLiteral("#8a8a8a")));
    }
};

} // namespace

PatternTable::PatternTable(Kind k, const QString& css, QWidget* parent)
    : QWidget(parent), kind(k), table(new QTableView(this)), patternModel(new PatternModel(this)),
      sorter(new QSortFilterProxyModel(this)), bars(new TableButtonDelegate(this, true)),
      exportButton(new QPushButton(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(table);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(exportButton);
    layout->addLayout(buttons);
    exportButton->setObjectName(QStringLiteral("btnExport"));
    exportButton->setIcon(QIcon(QStringLiteral(":/images/table_save.png")));

    sorter->setSourceModel(patternModel);
    sorter->setSortRole(PatternModel::SortRole);
    sorter->setDynamicSortFilter(true);
    table->setModel(sorter);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setSortingEnabled(true);
    table->sortByColumn(PatternModel::ColTotal, Qt::DescendingOrder);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table->setItemDelegate(new OtherRowDelegate(this));
    bars->barColumn = PatternModel::ColTotal;
    table->setItemDelegateForColumn(PatternModel::ColTotal, bars);
    if (kind == Patterns)
        table->setItemDelegateForColumn(PatternModel::ColKey, new TableQueryDelegate(css, this));
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    // the pattern gets room of its own; the figures are as wide as they need
    header->setSectionResizeMode(PatternModel::ColKey, QHeaderView::Interactive);
    header->resizeSection(PatternModel::ColKey, fontMetrics().averageCharWidth() * 48);
    header->setResizeContentsPrecision(50);
    header->setHighlightSections(false);

    connect(table, &QTableView::doubleClicked, this, &PatternTable::onDoubleClicked);
    connect(exportButton, &QPushButton::clicked, this, &PatternTable::exportList);
}

void PatternTable::setStats(const PatternStats* stats)
{
    patternModel->setStats(stats);
    refresh();
}

void PatternTable::setShownForm(std::function<QString(const QString&)> form)
{
    patternModel->setShownForm(std::move(form));
}

void PatternTable::refresh()
{
    patternModel->refresh();
    bars->barFullScale = patternModel->totalMs();
    exportButton->setEnabled(patternModel->rowCount() > 0);
}

void PatternTable::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
}

void PatternTable::changeLanguage(languageEngine* le)
{
    lang = le;
    const auto t = [le](const char* key) { return le->statistics(QLatin1String(key)); };
    const char* const keys[PatternModel::ColumnCount] = {
        "num_col", kind == Patterns ? "pattern_col" : "table_col", "count_col", "total_ms_col", "mean_ms_col",
        "p50_col", "p95_col", "p99_col", "max_ms_col", "rows_total_col", "rows_mean_col", "received_kb_col",
        "errors_col", "first_seen_col", "last_seen_col", "slowest_session_col"};
    for (int c = 0; c < PatternModel::ColumnCount; ++c)
        patternModel->setHeaderData(c, Qt::Horizontal, t(keys[c]));
    patternModel->setOtherText(t("other_patterns_str"));
    exportButton->setText(t("patterns_export_btn"));
}

QList<ExportField> PatternTable::exportFields(Kind kind)
{
    return {{QStringLiteral("Number"), PatternModel::ColRank, ExportField::Text},
            {kind == Patterns ? QStringLiteral("Pattern") : QStringLiteral("Table"), PatternModel::ColKey,
             ExportField::Statement},
            {QStringLiteral("Count"), PatternModel::ColCount, ExportField::Text},
            {QStringLiteral("Total_ms"), PatternModel::ColTotal, ExportField::Number},
            {QStringLiteral("Mean_ms"), PatternModel::ColMean, ExportField::Number},
            {QStringLiteral("P50_ms"), PatternModel::ColP50, ExportField::Number},
            {QStringLiteral("P95_ms"), PatternModel::ColP95, ExportField::Number},
            {QStringLiteral("P99_ms"), PatternModel::ColP99, ExportField::Number},
            {QStringLiteral("Max_ms"), PatternModel::ColMax, ExportField::Number},
            {QStringLiteral("Rows"), PatternModel::ColRows, ExportField::Text},
            {QStringLiteral("Rows_mean"), PatternModel::ColRowsMean, ExportField::Number},
            {QStringLiteral("Get_Kb"), PatternModel::ColKb, ExportField::Number},
            {QStringLiteral("Errors"), PatternModel::ColErrors, ExportField::Text},
            {QStringLiteral("First_seen"), PatternModel::ColFirstSeen, ExportField::Text},
            {QStringLiteral("Last_seen"), PatternModel::ColLastSeen, ExportField::Text},
            {QStringLiteral("Slowest_session"), PatternModel::ColSession, ExportField::Text}};
}

QList<QStringList> PatternTable::exportRows() const
{
    return ExportDialog::collectRows(sorter, exportFields(kind));
}

void PatternTable::exportList()
{
    const QList<ExportField> fields = exportFields(kind);
    ExportDialog dialog(this, ExportDialog::collectCaptions(sorter, fields), ExportDialog::fieldKeys(fields),
                        exportRows(),
                        ExportDialog::defaultPath(kind == Patterns ? QStringLiteral("patterns.csv")
                                                                   : QStringLiteral("tables.csv")),
                        kind == Patterns ? QStringLiteral("Patterns") : QStringLiteral("Tables"), lang);
    dialog.exec();
}

void PatternTable::onDoubleClicked(const QModelIndex& index)
{
    const int row = sorter->mapToSource(index).row();
    const QString text = patternModel->sampleText(row);
    if (!text.isEmpty())
        emit statementRequested(text, patternModel->sampleDb(row));
}
