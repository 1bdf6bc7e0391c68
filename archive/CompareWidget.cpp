#include "CompareWidget.h"
#include "ui_CompareWidget.h"

#include "CodeEditor.h"
#include "StyleEngine.h"
#include "TableQueryDelegate.h"
#include "TextHelpers.h"
#include "WidgetEnv.h"

#include <QHeaderView>
#include <QSortFilterProxyModel>

CompareWidget::CompareWidget(QList<SessionQueries> sessions, QString title, QWidget* parent)
    : QDialog(parent), ui(new Ui::CompareWidget)
{
    ui->setupUi(this);
    setWindowFlags((windowFlags() | Qt::WindowMaximizeButtonHint) & ~Qt::WindowContextHelpButtonHint);
    setWindowTitle(title);
    ui->codeViewer->setReadOnlyStyle();
    ui->codeViewer->setReadOnly(true);

    const QColor unequal =
        WidgetEnv::color(&StyleEngine::sessionsTab, QStringLiteral("row_compare_noequal_clr"), QStringLiteral("#fde9d9"));
    model = new CompareModel(std::move(sessions), [](const QString& text) { return TextHelpers::toHighlightText(text); },
                             unequal, this);

    QTableView* view = ui->tableCompare;
    view->setItemDelegate(new TableQueryDelegate(CodeEditor::_css, view));
    // Fixed row heights: the view never measures rows it does not show.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(20);
    view->verticalHeader()->hide();

    // The proxy sorts once the model is complete, not row by row.
    proxy = new QSortFilterProxyModel(this);
    proxy->setSortRole(CompareModel::SortRole);
    proxy->setSourceModel(model);
    view->setModel(proxy);
    QHeaderView* header = view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Stretch);
    header->setSectionResizeMode(0, QHeaderView::Interactive);
    // Wide enough for the largest number, measured without laying out rows.
    const QFontMetrics metrics = view->fontMetrics();
    header->resizeSection(0, qMax(metrics.horizontalAdvance(QStringLiteral("#")),
                                  metrics.horizontalAdvance(QString::number(model->rowCount())))
                                 + 24);
    header->setSortIndicator(0, Qt::AscendingOrder);
    view->setSortingEnabled(true);

    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& cur, const QModelIndex& prev) {
                on_tableCompare_currentCellChanged(cur.row(), cur.column(), prev.row(), prev.column());
            });
}

CompareWidget::~CompareWidget()
{
    delete ui;
}

QTableView* CompareWidget::table() const
{
    return ui->tableCompare;
}

CodeEditor* CompareWidget::viewer() const
{
    return ui->codeViewer;
}

void CompareWidget::on_tableCompare_currentCellChanged(int currentRow, int currentColumn, int previousRow,
                                                       int previousColumn)
{
    if (currentRow == previousRow && currentColumn == previousColumn)
        return;
    const QModelIndex number = proxy->index(currentRow, 0);
    const int row = number.isValid() ? proxy->data(number, CompareModel::SortRole).toInt() - 1 : -1;
    const QString text = currentColumn > 0 ? model->statement(currentColumn - 1, row) : QString();
    if (text.isNull())
        ui->codeViewer->clear();
    else
        ui->codeViewer->setPlainText(text);
}
