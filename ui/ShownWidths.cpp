#include "ShownWidths.h"

#include <QAbstractItemDelegate>
#include <QEvent>
#include <QHeaderView>
#include <QStyleOptionViewItem>
#include <QTableView>

ShownWidths::ShownWidths(QWidget* p, QTableView* t, QList<int> cols)
    : QObject(p), page(p), table(t), columns(std::move(cols))
{
    page->installEventFilter(this);
    apply();
}

void ShownWidths::apply()
{
    setAuto(page->isVisible());
}

void ShownWidths::setAuto(bool on)
{
    QHeaderView* header = table->horizontalHeader();
    for (int c : qAsConst(columns))
        header->setSectionResizeMode(c, on ? QHeaderView::ResizeToContents : QHeaderView::Interactive);
}

bool ShownWidths::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == page) {
        if (event->type() == QEvent::Show)
            setAuto(true);
        else if (event->type() == QEvent::Hide)
            setAuto(false);
    }
    return QObject::eventFilter(watched, event);
}

NumberWidths::NumberWidths(QTableView* t, QList<int> cols)
    : QObject(t), table(t), columns(std::move(cols))
{
    QAbstractItemModel* model = table->model();
    for (int c : qAsConst(columns))
        table->horizontalHeader()->setSectionResizeMode(c, QHeaderView::Interactive);
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid())
                    measure(first, last);
            });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& tl, const QModelIndex& br) { measure(tl.row(), br.row(), tl.column(), br.column()); });
    connect(model, &QAbstractItemModel::modelReset, this,
            [this] { measure(0, table->model()->rowCount() - 1); });
    measure(0, model->rowCount() - 1);
}

void NumberWidths::measure(int first, int last, int fromColumn, int toColumn)
{
    if (first < 0 || last < first)
        return;
    const QAbstractItemModel* model = table->model();
    QHeaderView* header = table->horizontalHeader();
    for (int c : qAsConst(columns)) {
        if (c < fromColumn || c > toColumn)
            continue;
        // Digits are equally wide in the fonts of lists: the longest text is the widest.
        int longest = -1, longestRow = -1;
        for (int r = first; r <= last; ++r) {
            const int n = model->index(r, c).data().toString().size();
            if (n > longest) {
                longest = n;
                longestRow = r;
            }
        }
        if (longestRow < 0)
            continue;
        const QModelIndex index = model->index(longestRow, c);
        QStyleOptionViewItem option;
        option.initFrom(table);
        const int width = table->itemDelegate(index)->sizeHint(option, index).width();
        if (width > header->sectionSize(c))
            header->resizeSection(c, width);
    }
}
