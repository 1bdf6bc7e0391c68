#include "TwinWidget.h"
#include "ui_TwinWidget.h"

#include "CodeEditor.h"
#include "DataViewerWidget.h"
#include "SessionData.h"
#include "TableButtonDelegate.h"
#include "TableQueryDelegate.h"
#include "TableWidgetInt.h"
#include "TextHelpers.h"

#include <QHeaderView>
#include <QIcon>

namespace {

/// A statement cell: highlighted the first time it is shown (a large
/// session has many rows, few of them ever on screen), raw text in the user
/// role, sorted by the raw text.
class StatementItem : public QTableWidgetItem
{
public:
    explicit StatementItem(const QString& text) : raw(text) {}

    QVariant data(int role) const override
    {
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            if (html.isNull())
                html = TextHelpers::toHighlightText(raw.trimmed());
            return html;
        }
        if (role == Qt::UserRole)
            return raw;
        return QTableWidgetItem::data(role);
    }

    bool operator<(const QTableWidgetItem& other) const override
    {
        return raw < other.data(Qt::UserRole).toString();
    }

private:
    QString raw;
    mutable QString html;
};

/// A positions cell: the capped list shown, the whole list in the user
/// role; sorted by the first position.
class PositionsItem : public QTableWidgetItem
{
public:
    PositionsItem(const QString& numbers, int first)
        : QTableWidgetItem(TwinWidget::cappedPositions(numbers)), firstPosition(first)
    {
        setData(Qt::UserRole, numbers);
    }

    bool operator<(const QTableWidgetItem& other) const override
    {
        const auto* o = dynamic_cast<const PositionsItem*>(&other);
        return o ? firstPosition < o->firstPosition : QTableWidgetItem::operator<(other);
    }

private:
    int firstPosition;
};

} // namespace

TwinWidget::TwinWidget(SessionData* data, QString title, QString sqlHeader, QString countHeader,
                       QString positionsHeader, QWidget* parent)
    : QDialog(parent), ui(new Ui::TwinWidget)
{
    ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/images/icon.ico")));
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowMaximizeButtonHint);
    ui->codeViewer->setReadOnlyStyle();
    ui->codeViewer->setReadOnly(true);
    setFocusProxy(ui->tableTwin);

    // Everything needed later is copied here; `data` is not kept.
    const unsigned long id = data ? data->id : 0;
    if (data)
        twins = TwinGroups::repeated(TwinGroups::group(data->queries));
    setWindowTitle(title + QLatin1Char(' ') + QueryLog::paddedId(id));

    QTableWidget* t = ui->tableTwin;
    t->setHorizontalHeaderLabels({sqlHeader, countHeader, positionsHeader});
    t->setItemDelegateForColumn(ColStatement, new TableQueryDelegate(CodeEditor::_css, t));
    auto* positions = new TableButtonDelegate(t, true);
    t->setItemDelegateForColumn(ColPositions, positions);
    connect(positions, &TableButtonDelegate::buttonClicked, this, &TwinWidget::showData);

    QHeaderView* header = t->horizontalHeader();
    header->setSectionResizeMode(ColStatement, QHeaderView::Stretch);
    header->setSectionResizeMode(ColCount, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ColPositions, QHeaderView::Fixed);
    header->resizeSection(ColPositions, 180);

    // Filled unsorted (sorting while filling moves every new row), then
    // sorting is switched on without reordering: rows stay in order of
    // first occurrence until the user sorts.
    t->setSortingEnabled(false);
    t->setRowCount(twins.size());
    for (int r = 0; r < twins.size(); ++r) {
        const TwinElement& g = twins.at(r);
        t->setItem(r, ColStatement, new StatementItem(g.text));
        t->setItem(r, ColCount, new TableWidgetInt(QString::number(g.count)));
        const int first = g.numbers.leftRef(g.numbers.indexOf(QLatin1Char(','))).toInt();
        t->setItem(r, ColPositions, new PositionsItem(g.numbers, first));
    }
    header->setSortIndicator(-1, Qt::AscendingOrder);
    t->setSortingEnabled(true);

    connect(t, &QTableWidget::currentCellChanged, this, &TwinWidget::onSelectRowQuery);
}

TwinWidget::~TwinWidget()
{
    delete ui;
}

int TwinWidget::count() const
{
    return ui->tableTwin->rowCount();
}

QTableWidget* TwinWidget::table() const
{
    return ui->tableTwin;
}

QString TwinWidget::shownStatement() const
{
    return ui->codeViewer->toPlainText();
}

QString TwinWidget::cappedPositions(const QString& numbers, int maxChars)
{
    if (numbers.size() <= maxChars)
        return numbers;
    const QString separator = QStringLiteral(", ");
    const int cut = numbers.lastIndexOf(separator, maxChars - separator.size() - 1);
    return numbers.left(qMax(0, cut)) + separator + QChar(0x2026);
}

void TwinWidget::onSelectRowQuery(int curRow, int curCol, int preRow, int preCol)
{
    Q_UNUSED(curCol)
    Q_UNUSED(preCol)
    if (curRow == preRow)
        return;
    const QTableWidgetItem* item = curRow >= 0 ? ui->tableTwin->item(curRow, ColStatement) : nullptr;
    if (item)
        ui->codeViewer->setPlainText(item->data(Qt::UserRole).toString());
    else
        ui->codeViewer->clear();
}

void TwinWidget::showData(QModelIndex index)
{
    if (!index.isValid())
        return;
    const QVariant whole = index.data(Qt::UserRole);
    DataViewerWidget viewer(whole.isValid() ? whole.toString() : index.data(Qt::DisplayRole).toString(), this);
    viewer.exec();
}
