#include "ResponseExplainWidget.h"
#include "ui_ResponseExplainWidget.h"

#include "DataViewerWidget.h"
#include "ResultModel.h"
#include "StyleEngine.h"
#include "TableButtonDelegate.h"
#include "TableWarningDelegate.h"
#include "TableWidgetDouble.h"
#include "TableWidgetInt.h"
#include "TextHelpers.h"
#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QHeaderView>
#include <QSqlQuery>

namespace {

ResultSet readAll(QSqlQuery* query)
{
    return query ? readResultSet(*query, 0.0) : ResultSet();
}

/// An item that sorts by value when the column holds numbers, as the result
/// grid sorts the same column.
QTableWidgetItem* newItem(const QString& text, ResultModel::SortKind kind)
{
    switch (kind) {
    case ResultModel::SignedSort:
    case ResultModel::UnsignedSort:
        return new TableWidgetInt(text);
    case ResultModel::RealSort:
        return new TableWidgetDouble(text);
    default:
        return new QTableWidgetItem(text);
    }
}

} // namespace

ResponseExplainWidget::ResponseExplainWidget(const ResultSet& result, QWidget* parent, languageEngine* engine)
    : QWidget(parent), ui(new Ui::ResponseExplainWidget), lang(engine ? engine : WidgetEnv::language())
{
    ui->setupUi(this);
    QTableWidget* t = ui->table;
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    const int columns = result.columnCount();
    t->setColumnCount(columns);
    t->setHorizontalHeaderLabels(result.columns);

    auto* warnings = new TableWarningDelegate(t);
    auto* buttons = new TableButtonDelegate(t, true);
    connect(buttons, &TableButtonDelegate::buttonClicked, this, &ResponseExplainWidget::showData);
    QVector<TableWarningDelegate::Column> kinds(columns);
    for (int c = 0; c < columns; ++c) {
        kinds[c] = TableWarningDelegate::columnOf(result.columns.at(c));
        switch (kinds[c]) {
        case TableWarningDelegate::PossibleKeys:
            break; // the table's own delegate draws the keys one per line
        case TableWarningDelegate::Other:
            t->setItemDelegateForColumn(c, buttons);
            break;
        default:
            t->setItemDelegateForColumn(c, warnings);
        }
    }

    // Filled unsorted, then sorting is switched on without reordering: the
    // plan keeps the server's order until the user sorts.
    t->setSortingEnabled(false);
    t->setRowCount(result.rowCount());
    for (int r = 0; r < result.rowCount(); ++r) {
        for (int c = 0; c < columns; ++c) {
            QString value = result.isNull(r, c) ? QString() : result.text(r, c);
            if (kinds.at(c) == TableWarningDelegate::PossibleKeys)
                value.replace(QLatin1Char(','), QLatin1String(",\n"));
            QTableWidgetItem* item = newItem(value, ResultModel::sortKind(result, false, c));
            item->setToolTip(TextHelpers::toTooltipStr(value));
            t->setItem(r, c, item);
        }
    }
    updateToolTips();
    t->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    t->setSortingEnabled(true);

    if (lang)
        connect(lang, &languageEngine::languageChange, this, &ResponseExplainWidget::updateToolTips);
}

ResponseExplainWidget::ResponseExplainWidget(QSqlQuery* query, QWidget* parent)
    : ResponseExplainWidget(readAll(query), parent)
{
}

ResponseExplainWidget::~ResponseExplainWidget()
{
    delete ui;
}

QTableWidget* ResponseExplainWidget::table() const
{
    return ui->table;
}

QString ResponseExplainWidget::text(const QString& key) const
{
    return lang ? lang->sql(key) : languageEngine::missingText();
}

void ResponseExplainWidget::updateToolTips()
{
    QTableWidget* t = ui->table;
    const QColor warningColor =
        WidgetEnv::color(&StyleEngine::sqlsTab, QStringLiteral("explain_warning_clr"), QStringLiteral("#fde9d9"));
    for (int c = 0; c < t->columnCount(); ++c) {
        const QTableWidgetItem* header = t->horizontalHeaderItem(c);
        const TableWarningDelegate::Column kind = TableWarningDelegate::columnOf(header ? header->text() : QString());
        if (kind == TableWarningDelegate::Other)
            continue;
        for (int r = 0; r < t->rowCount(); ++r) {
            QTableWidgetItem* item = t->item(r, c);
            const QString key = item ? TableWarningDelegate::toolTipKey(kind, item->text()) : QString();
            if (key.isEmpty())
                continue;
            item->setBackground(warningColor);
            item->setToolTip(text(key));
        }
    }
}

void ResponseExplainWidget::showData(QModelIndex index)
{
    if (!index.isValid())
        return;
    DataViewerWidget viewer(index.data(Qt::DisplayRole).toString(), this, lang);
    viewer.exec();
}
