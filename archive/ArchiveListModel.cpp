#include "ArchiveListModel.h"

#include "ArchiveFormat.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>

ArchiveListModel::ArchiveListModel(QObject* parent)
    : QAbstractTableModel(parent), headers(ColumnCount)
{
}

ArchiveListModel::Row ArchiveListModel::make(const ArchivedSession& s, const QLocale& locale)
{
    Row r;
    r.session = s;
    r.number = ArchiveFormat::readSessionId(s.id);
    r.started = ArchiveFormat::readStartedAt(s.datetime);
    r.queries = s.queries.toLongLong();
    r.rowCount = s.rows.toLongLong();
    r.receivedKb = ArchiveFormat::readLocaleKb(s.receivedKb, locale);
    return r;
}

void ArchiveListModel::reset(const QVector<ArchivedSession>& sessions)
{
    beginResetModel();
    rows.clear();
    rows.reserve(sessions.size());
    const QLocale locale = QLocale::system();
    for (const ArchivedSession& s : sessions)
        rows.append(make(s, locale));
    endResetModel();
}

void ArchiveListModel::append(const ArchivedSession& session)
{
    beginInsertRows(QModelIndex(), rows.size(), rows.size());
    rows.append(make(session, QLocale::system()));
    endInsertRows();
}

int ArchiveListModel::remove(const QStringList& ids)
{
    int removed = 0;
    for (const QString& id : ids) {
        const int r = rowOf(id);
        if (r < 0)
            continue;
        beginRemoveRows(QModelIndex(), r, r);
        rows.remove(r);
        endRemoveRows();
        ++removed;
    }
    return removed;
}

void ArchiveListModel::setComment(const QString& id, const QString& comment)
{
    const int r = rowOf(id);
    if (r < 0)
        return;
    rows[r].session.comment = comment;
    emit dataChanged(index(r, ColComment), index(r, ColComment));
}

int ArchiveListModel::rowOf(const QString& id) const
{
    for (int r = 0; r < rows.size(); ++r)
        if (rows.at(r).session.id == id)
            return r;
    return -1;
}

void ArchiveListModel::setBold(quint64 id, bool on)
{
    if (on == bold.contains(id))
        return;
    if (on)
        bold.insert(id);
    else
        bold.remove(id);
    for (int r = 0; r < rows.size(); ++r)
        if (rows.at(r).number == id)
            emit dataChanged(index(r, 0), index(r, ColumnCount - 1), {Qt::FontRole});
}

int ArchiveListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int ArchiveListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString ArchiveListModel::text(const Row& row, int column) const
{
    const ArchivedSession& s = row.session;
    switch (column) {
    case ColId: return s.id;
    case ColStatus: return s.error;
    case ColStarted: return s.datetime;
    case ColDb: return s.db;
    case ColUser: return s.user;
    case ColQueries: return s.queries;
    case ColElapsed: return s.elapsed;
    case ColRows: return s.rows;
    case ColReceived: return s.receivedKb;
    case ColComment: return s.comment;
    default: return QString();
    }
}

QVariant ArchiveListModel::sortValue(const Row& row, int column) const
{
    switch (column) {
    case ColId: return row.number;
    case ColStarted: return row.started;
    case ColQueries: return row.queries;
    case ColRows: return row.rowCount;
    case ColReceived: return row.receivedKb;
    default: return text(row, column);
    }
}

QVariant ArchiveListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const Row& row = rows.at(index.row());
    const int c = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return text(row, c);
    case SortRole:
        return sortValue(row, c);
    case Qt::TextAlignmentRole:
        if (c == ColQueries || c == ColRows)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    case Qt::ForegroundRole:
        if (c == ColQueries || c == ColRows)
            return QBrush(QColor(QStringLiteral("blue")));
        return QVariant();
    case Qt::FontRole:
        if (bold.contains(row.number)) {
            QFont f;
            f.setWeight(QFont::Bold);
            return f;
        }
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant ArchiveListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::EditRole) && section >= 0
        && section < ColumnCount)
        return headers.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool ArchiveListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount
        || (role != Qt::DisplayRole && role != Qt::EditRole))
        return false;
    headers[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}
