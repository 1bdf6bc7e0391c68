#include "FlowModel.h"

#include "SessionData.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

FlowModel::FlowModel(QObject* parent) : QAbstractTableModel(parent)
{
    for (int c = 0; c < ColumnCount; ++c)
        headers << QString();
}

double FlowModel::round3(double value)
{
    return QString::number(value, 'f', 3).toDouble();
}

void FlowModel::append(const QVector<FlowRow>& batch, int limit)
{
    limit = std::max(limit, 1);
    if (batch.isEmpty())
        return;
    // Only the newest `limit` rows of a batch can survive it.
    const int skip = std::max(0, batch.size() - limit);
    const int incoming = batch.size() - skip;
    const int surplus = std::max(0, int(rows.size()) + incoming - limit);

    if (surplus > 0) {
        beginRemoveRows(QModelIndex(), 0, surplus - 1);
        rows.erase(rows.begin(), rows.begin() + surplus);
        endRemoveRows();
    }
    const int first = int(rows.size());
    beginInsertRows(QModelIndex(), first, first + incoming - 1);
    for (int i = skip; i < batch.size(); ++i) {
        Stored s;
        s.row = batch.at(i);
        rows.push_back(std::move(s));
    }
    endInsertRows();
}

int FlowModel::trimTo(int limit)
{
    limit = std::max(limit, 1);
    const int surplus = int(rows.size()) - limit;
    if (surplus <= 0)
        return 0;
    beginRemoveRows(QModelIndex(), 0, surplus - 1);
    rows.erase(rows.begin(), rows.begin() + surplus);
    endRemoveRows();
    return surplus;
}

void FlowModel::clear()
{
    if (rows.empty())
        return;
    beginRemoveRows(QModelIndex(), 0, int(rows.size()) - 1);
    rows.clear();
    endRemoveRows();
}

int FlowModel::highlightedCount() const
{
    return int(std::count_if(rows.begin(), rows.end(), [](const Stored& s) { return s.highlighted; }));
}

int FlowModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

int FlowModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FlowModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows.size()) || index.column() >= ColumnCount)
        return QVariant();
    const Stored& s = rows.at(size_t(index.row()));
    const FlowRow& r = s.row;
    const int col = index.column();

    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        switch (col) {
        case ColNumber:
            return r.number;
        case ColSession:
            return QueryLog::paddedId(r.sessionId);
        case ColStatus:
            return r.isError ? QStringLiteral("no") : QStringLiteral("yes");
        case ColQuery:
            if (!s.highlighted) {
                s.html = highlighter ? highlighter(r.text) : r.text.toHtmlEscaped();
                s.highlighted = true;
            }
            return s.html;
        case ColTimeMs:
            return r.durationMs;
        case ColKb:
            return r.responseKb;
        case ColRows:
            return r.rows;
        case ColFinished:
            return r.finishedAt.toLocalTime();
        case ColPosition:
            return r.position;
        default:
            return QVariant();
        }
    }
    if (role == Qt::UserRole && col == ColQuery)
        return r.text;
    if (col == ColRows) {
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (role == Qt::ForegroundRole)
            return QBrush(QColor(Qt::blue));
    }
    return QVariant();
}

QVariant FlowModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::EditRole)
        && section >= 0 && section < headers.size())
        return headers.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool FlowModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= headers.size()
        || (role != Qt::DisplayRole && role != Qt::EditRole))
        return false;
    headers[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

Qt::ItemFlags FlowModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}
