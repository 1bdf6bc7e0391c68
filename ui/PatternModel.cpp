#include "PatternModel.h"

#include "PatternStats.h"

#include <cmath>

namespace {

double ms3(double v)
{
    return std::round(v * 1000.0) / 1000.0;
}

} // namespace

PatternModel::PatternModel(QObject* parent) : QAbstractTableModel(parent)
{
}

void PatternModel::setStats(const PatternStats* s)
{
    beginResetModel();
    stats = s;
    rows.clear();
    seenStamp = 0;
    allMs = 0;
    endResetModel();
}

void PatternModel::copyEntry(Row& row, int slot, bool other) const
{
    const PatternStats::Entry& e = other ? stats->other() : stats->at(slot);
    if (row.key != e.key || other)
        row.shown.clear();
    row.key = other ? QString() : e.key;
    row.count = e.count;
    row.totalMs = ms3(e.totalMs);
    row.meanMs = ms3(e.meanMs());
    row.p50 = ms3(e.durations.percentile(50));
    row.p95 = ms3(e.durations.percentile(95));
    row.p99 = ms3(e.durations.percentile(99));
    row.maxMs = ms3(e.maxMs);
    row.rows = e.rows;
    row.rowsMean = ms3(e.meanRows());
    row.kb = ms3(e.kbReceived);
    row.errors = e.errors;
    if (row.firstSeen != e.firstSeen)
        row.firstText.clear();
    row.firstSeen = e.firstSeen;
    row.lastSeen = e.lastSeen;
    row.lastText.clear();
    row.session = e.slowest.session;
    row.sample = e.slowest.text;
    row.sampleDb = e.slowest.db;
}

void PatternModel::refresh()
{
    if (!stats)
        return;
    const bool hasOther = stats->other().count > 0;
    const int want = stats->size() + (hasOther ? 1 : 0);
    const int had = int(rows.size());
    if (want < had) {   // the statistics were cleared
        beginResetModel();
        rows.clear();
        seenStamp = 0;
        endResetModel();
        refresh();
        return;
    }
    if (stats->stamp() == seenStamp && want == had)
        return;
    allMs = stats->totalMs();
    const std::vector<int> order = stats->byTotalTime();
    std::vector<int> rankOf(order.size());
    for (size_t k = 0; k < order.size(); ++k)
        rankOf[size_t(order[k])] = int(k) + 1;
    // the "other" row stays last: it appears only once every slot is in use
    std::vector<Row> added(size_t(want - had));
    int runStart = -1;   // rows that changed are announced in runs
    for (int r = 0; r < want; ++r) {
        const bool other = hasOther && r == want - 1;
        const int slot = other ? -1 : r;
        const quint64 changed = other ? stats->other().changedAt : stats->at(slot).changedAt;
        Row& row = r < had ? rows[size_t(r)] : added[size_t(r - had)];
        const int rank = other ? 0 : rankOf[size_t(r)];
        const bool differs = r < had && (changed > seenStamp || row.rank != rank);
        if (r >= had || changed > seenStamp)
            copyEntry(row, slot, other);
        row.rank = rank;
        if (differs && runStart < 0)
            runStart = r;
        if (runStart >= 0 && (!differs || r == had - 1)) {
            emit dataChanged(index(runStart, 0), index(differs ? r : r - 1, ColumnCount - 1));
            runStart = -1;
        }
    }
    if (want > had) {
        beginInsertRows(QModelIndex(), had, want - 1);
        rows.reserve(size_t(want));
        for (Row& row : added)
            rows.push_back(std::move(row));
        endInsertRows();
    }
    seenStamp = stats->stamp();
}

QString PatternModel::sampleText(int row) const
{
    return row >= 0 && row < int(rows.size()) ? rows[size_t(row)].sample : QString();
}

QString PatternModel::sampleDb(int row) const
{
    return row >= 0 && row < int(rows.size()) ? rows[size_t(row)].sampleDb : QString();
}

int PatternModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

int PatternModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PatternModel::value(const Row& row, int column, int role) const
{
    const bool other = row.key.isEmpty() && row.rank == 0;
    switch (column) {
    case ColRank:
        return other ? QVariant() : QVariant(row.rank);
    case ColKey:
        if (other)
            return role == SortRole ? QVariant(QString()) : QVariant(otherText.arg(stats ? stats->foldedKeys() : 0));
        if (role == SortRole)
            return row.key;
        if (row.shown.isEmpty())
            row.shown = shownForm ? shownForm(row.key) : row.key;
        return row.shown;
    case ColCount: return row.count;
    case ColTotal: return row.totalMs;
    case ColMean: return row.meanMs;
    case ColP50: return row.p50;
    case ColP95: return row.p95;
    case ColP99: return row.p99;
    case ColMax: return row.maxMs;
    case ColRows: return row.rows;
    case ColRowsMean: return row.rowsMean;
    case ColKb: return row.kb;
    case ColErrors: return row.errors;
    case ColFirstSeen:
    case ColLastSeen: {
        const QDateTime& t = column == ColFirstSeen ? row.firstSeen : row.lastSeen;
        if (role == SortRole)
            return t;
        QString& text = column == ColFirstSeen ? row.firstText : row.lastText;
        if (text.isEmpty())
            text = t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        return text;
    }
    case ColSession:
        return QStringLiteral("%1").arg(row.session, 7, 10, QLatin1Char('0'));
    default:
        return QVariant();
    }
}

QVariant PatternModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows.size()))
        return QVariant();
    const Row& row = rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case SortRole:
        return value(row, index.column(), role);
    case Qt::UserRole:
        if (index.column() != ColKey)
            return QVariant();
        return row.rank == 0 ? value(row, ColKey, Qt::DisplayRole) : QVariant(row.key);
    case Qt::ToolTipRole:
        return index.column() == ColKey ? QVariant(row.sample.left(2000)) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == ColKey || index.column() >= ColFirstSeen
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant PatternModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return headers[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool PatternModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount
        || (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    headers[section] = value;
    emit headerDataChanged(orientation, section, section);
    return true;
}
