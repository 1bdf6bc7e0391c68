#include "CompareModel.h"

#include <QBrush>

CompareModel::CompareModel(QList<SessionQueries> sessions, std::function<QString(const QString&)> highlighter,
                           QColor unequal, QObject* parent)
    : QAbstractTableModel(parent), list(std::move(sessions)), highlight(std::move(highlighter)),
      unequalColor(unequal)
{
    for (const SessionQueries& s : qAsConst(list))
        rows = qMax(rows, s.queries.size());
    differs.resize(rows);
    for (int r = 0; r < rows; ++r) {
        // A row differs when a session has no statement there or one that
        // is not exactly (white space included) the first session's.
        const QStringList& first = list.at(0).queries;
        bool equal = r < first.size();
        for (int i = 1; equal && i < list.size(); ++i) {
            const QStringList& other = list.at(i).queries;
            equal = r < other.size() && other.at(r) == first.at(r);
        }
        differs.setBit(r, !equal);
    }
    html.resize(list.size());
}

QString CompareModel::statement(int session, int row) const
{
    if (session < 0 || session >= list.size() || row < 0 || row >= list.at(session).queries.size())
        return QString();
    return list.at(session).queries.at(row);
}

int CompareModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows;
}

int CompareModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : list.size() + 1;
}

QVariant CompareModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows)
        return QVariant();
    const int r = index.row();
    const int session = index.column() - 1;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        if (session < 0)
            return r + 1;
        const QStringList& texts = list.at(session).queries;
        if (r >= texts.size())
            return QString();
        QVector<QString>& cells = html[session];
        if (cells.isEmpty())
            cells.resize(texts.size());
        if (cells.at(r).isNull()) {
            cells[r] = highlight ? highlight(texts.at(r).trimmed()) : texts.at(r).trimmed().toHtmlEscaped();
            if (cells.at(r).isNull())
                cells[r] = QLatin1String("");
            ++highlightedCells;
        }
        return cells.at(r);
    }
    case SortRole:
        // Rows sort by what the cells show: the trimmed statement.
        if (session < 0)
            return r + 1;
        return statement(session, r).trimmed();
    case Qt::BackgroundRole:
        return differs.testBit(r) ? QVariant(QBrush(unequalColor)) : QVariant();
    default:
        return QVariant();
    }
}

QVariant CompareModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        if (section == 0)
            return QStringLiteral("#");
        if (section - 1 < list.size())
            return list.at(section - 1).name;
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}
