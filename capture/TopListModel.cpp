#include "TopListModel.h"

#include <algorithm>

bool sorting(const TopElement& a, const TopElement& b)
{
    if (a.count != b.count)
        return a.count > b.count;
    return a.name < b.name;
}

bool sortingQuery(const TopElementQuery& a, const TopElementQuery& b)
{
    if (a.count != b.count)
        return a.count > b.count;
    return a.text < b.text;
}

TopListModel::TopListModel(int columns, int keyColumn, int countColumn, QObject* parent)
    : QStandardItemModel(0, columns, parent), cols(columns), keyCol(keyColumn), countCol(countColumn)
{
    Q_ASSERT(keyColumn > 0 && keyColumn < columns && countColumn > 0 && countColumn < columns);
    connect(this, &QAbstractItemModel::rowsAboutToBeRemoved, this, &TopListModel::onRowsAboutToBeRemoved);
    connect(this, &QAbstractItemModel::modelReset, this, &TopListModel::onModelReset);
}

TopListModel::~TopListModel()
{
    // The entries are owned here; the rows of the base model are placeholders.
    qDeleteAll(byKey);
}

void TopListModel::add(const QString& key, const QStringList& cells)
{
    Entry*& slot = byKey[key];
    if (!slot) {
        slot = new Entry;
        slot->cells = cells;
        while (slot->cells.size() < cols)
            slot->cells.append(QString());
        slot->cells[keyCol] = key;
        slot->cells[0].clear();
        slot->cells[countCol].clear();
    }
    Entry* e = slot;
    ++e->count;
    e->seq = ++nextSeq;
    if (!e->moved) {
        e->moved = true;
        touched.append(e);
    }
    if (batchDepth == 0)
        commit();
}

void TopListModel::beginBatch()
{
    ++batchDepth;
}

void TopListModel::endBatch()
{
    if (batchDepth > 0 && --batchDepth == 0)
        commit();
}

int TopListModel::countOf(const QString& key) const
{
    const Entry* e = byKey.value(key);
    return e ? e->count : 0;
}

QList<TopElement> TopListModel::elements() const
{
    QList<TopElement> out;
    out.reserve(order.size());
    for (const Entry* e : order)
        out.append(TopElement{e->cells.value(keyCol), e->count});
    return out;
}

QList<TopElementQuery> TopListModel::queryElements() const
{
    QList<TopElementQuery> out;
    out.reserve(order.size());
    for (const Entry* e : order)
        out.append(TopElementQuery{e->cells.value(keyCol), e->cells.value(3), e->cells.value(1), e->count});
    return out;
}

void TopListModel::setShownForm(int column, std::function<QString(const QString&)> shownForm)
{
    Q_ASSERT(column > 0 && column < cols && column != keyCol && column != countCol);
    formCol = column;
    form = std::move(shownForm);
    for (const Entry* e : qAsConst(order)) {
        e->formed = false;
        e->shown.clear();
    }
}

QVariant TopListModel::data(const QModelIndex& index, int role) const
{
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || !index.isValid() || index.parent().isValid()
        || index.row() >= order.size() || index.column() >= cols)
        return QStandardItemModel::data(index, role);
    const int c = index.column();
    if (c == 0)
        return index.row() + 1;
    const Entry* e = order.at(index.row());
    if (c == countCol)
        return e->count;
    if (c == formCol && form) {
        if (!e->formed) {
            e->shown = form(e->cells.at(c));
            e->formed = true;
        }
        return e->shown;
    }
    return e->cells.at(c);
}

// Rows are ordered by (count descending, seq ascending). A count only grows,
// so an entry counted in the batch only moves up: taken in the order of
// their old rows, each one is lifted into the already ordered rows above it
// (a binary search and a rotation of the rows it passes). New entries start
// at the end, where their count of 1 and newest seq place them.
void TopListModel::commit()
{
    if (touched.isEmpty())
        return;
    auto before = [](const Entry* a, const Entry* b) {
        return a->count != b->count ? a->count > b->count : a->seq < b->seq;
    };
    for (Entry* e : qAsConst(touched)) {
        if (e->pos < 0) {
            e->pos = order.size();
            order.append(e);
        }
    }
    std::sort(touched.begin(), touched.end(), [](const Entry* a, const Entry* b) { return a->pos < b->pos; });

    const int oldRows = shownRows;
    int first = -1;
    int last = -1;
    for (Entry* e : qAsConst(touched)) {
        const int from = e->pos;
        const auto top = order.begin();
        const int to = int(std::upper_bound(top, top + from, e, before) - top);
        if (to < from) {
            std::rotate(top + to, top + from, top + from + 1);
            for (int i = to; i <= from; ++i)
                order[i]->pos = i;
        }
        e->moved = false;
        // Rows already known to views whose entry or count changed.
        if (to < oldRows) {
            first = first < 0 ? to : std::min(first, to);
            last = std::max(last, std::min(from, oldRows - 1));
        }
    }
    touched.clear();

    ownChange = true;
    if (columnCount() < cols)
        setColumnCount(cols);
    if (order.size() > shownRows) {
        shownRows = order.size();
        QStandardItemModel::insertRows(oldRows, shownRows - oldRows);
    }
    ownChange = false;
    // A row's rank is its position and stays: leaving column 0 out spares a
    // proxy sorted by rank (how the lists are shown) from re-sorting the range.
    if (first >= 0)
        emit dataChanged(index(first, 1), index(last, cols - 1), {Qt::DisplayRole, Qt::EditRole});
}

void TopListModel::onRowsAboutToBeRemoved(const QModelIndex& parent, int first, int last)
{
    if (ownChange || parent.isValid())
        return;
    last = std::min(last, int(order.size()) - 1);
    if (first > last)
        return;
    for (int i = first; i <= last; ++i) {
        Entry* e = order.at(i);
        byKey.remove(e->cells.at(keyCol));
        touched.removeOne(e);
        delete e;
    }
    order.remove(first, last - first + 1);
    for (int i = first; i < order.size(); ++i)
        order[i]->pos = i;
    shownRows = order.size();
}

void TopListModel::onModelReset()
{
    for (Entry* e : byKey)
        delete e;
    byKey.clear();
    order.clear();
    touched.clear();
    shownRows = 0;
    if (columnCount() < cols)
        setColumnCount(cols);
}

void TopListModel::addLinear(QStandardItemModel* model, int keyColumn, int countColumn, const QString& key,
                             const QStringList& cells)
{
    int found = -1;
    for (int r = 0; r < model->rowCount(); ++r) {
        if (model->data(model->index(r, keyColumn)).toString() == key) {
            found = r;
            break;
        }
    }
    if (found >= 0) {
        QStandardItem* count = model->item(found, countColumn);
        count->setData(count->data(Qt::DisplayRole).toInt() + 1, Qt::DisplayRole);
    } else {
        QList<QStandardItem*> row;
        for (int c = 0; c < model->columnCount(); ++c) {
            auto* item = new QStandardItem;
            if (c == countColumn)
                item->setData(1, Qt::DisplayRole);
            else if (c == keyColumn)
                item->setText(key);
            else if (c > 0)
                item->setText(cells.value(c));
            row.append(item);
        }
        model->appendRow(row);
    }
    model->sort(countColumn, Qt::DescendingOrder);
    for (int r = 0; r < model->rowCount(); ++r) {
        if (QStandardItem* rank = model->item(r, 0))
            rank->setData(r + 1, Qt::DisplayRole);
    }
}
