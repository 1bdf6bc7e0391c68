#include "ResultModel.h"

#include "TextHelpers.h"

#include <QDateTime>

#include <vector>

namespace {

/// Rows between two looks at the cancel flag of a filter run.
const int cancelCheckRows = 2048;

} // namespace

ResultModel::ResultModel(const ResultSet& result, bool profile_, QObject* parent)
    : QAbstractTableModel(parent)
    , rs(result)
    , profile(profile_)
{
    kinds.reserve(rs.columnCount());
    for (int c = 0; c < rs.columnCount(); ++c)
        kinds.append(sortKind(rs, profile, c));
}

QString ResultModel::cellText(const ResultSet& result, bool profile, int row, int column)
{
    if (result.isNull(row, column))
        return ResultSet::nullText();
    const QVariant& v = result.rows.at(row).at(column);
    if (profile && column == 1)
        return QString::number(v.toDouble(), 'f', 6);
    return ResultSet::valueText(v);
}

ResultModel::SortKind ResultModel::sortKind(const ResultSet& result, bool profile, int column)
{
    if (profile && column == 1)
        return RealSort;
    switch (result.columnTypes.value(column, QMetaType::QString)) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return SignedSort;
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return UnsignedSort;
    case QMetaType::Float:
    case QMetaType::Double:
        return RealSort;
    case QMetaType::QDate:
    case QMetaType::QTime:
    case QMetaType::QDateTime:
        return DateTimeSort;
    default:
        return TextSort;
    }
}

namespace {

/// Order of a value's class within a column: NULL, a value read as the
/// column's type, a value that could not be read so.
enum KeyClass : quint8 { NullKey = 0, ValueKey = 1, OtherKey = 2 };

struct SortKey
{
    KeyClass cls = NullKey;
    union {
        qint64 i;
        quint64 u;
        double d;
    };
    SortKey() : i(0) {}
};

SortKey keyOf(const QVariant& v, ResultModel::SortKind kind)
{
    SortKey k;
    if (!v.isValid())
        return k;
    bool ok = false;
    switch (kind) {
    case ResultModel::SignedSort:
        k.i = v.toLongLong(&ok);
        break;
    case ResultModel::UnsignedSort:
        k.u = v.toULongLong(&ok);
        break;
    case ResultModel::RealSort:
        k.d = v.toDouble(&ok);
        ok = ok && k.d == k.d; // NaN has no place among the numbers
        break;
    case ResultModel::DateTimeSort:
        if (v.userType() == QMetaType::QDateTime) {
            const QDateTime dt = v.toDateTime();
            ok = dt.isValid();
            k.i = dt.toMSecsSinceEpoch();
        } else if (v.userType() == QMetaType::QDate) {
            ok = v.toDate().isValid();
            k.i = v.toDate().toJulianDay();
        } else if (v.userType() == QMetaType::QTime) {
            ok = v.toTime().isValid();
            k.i = v.toTime().msecsSinceStartOfDay();
        }
        break;
    case ResultModel::TextSort:
        break;
    }
    k.cls = ok ? ValueKey : OtherKey;
    return k;
}

int compareKeys(const SortKey& a, const SortKey& b, ResultModel::SortKind kind)
{
    if (a.cls != b.cls)
        return a.cls < b.cls ? -1 : 1;
    if (a.cls != ValueKey)
        return 0;
    switch (kind) {
    case ResultModel::UnsignedSort:
        return a.u < b.u ? -1 : (b.u < a.u ? 1 : 0);
    case ResultModel::RealSort:
        return a.d < b.d ? -1 : (b.d < a.d ? 1 : 0);
    default:
        return a.i < b.i ? -1 : (b.i < a.i ? 1 : 0);
    }
}

int compareTexts(const QString& a, const QString& b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c : QString::compare(a, b, Qt::CaseSensitive);
}

} // namespace

/// The sort keys of one column, made on its first sort and kept.
struct ResultModel::ColumnKeys
{
    std::vector<SortKey> keys;
};

ResultModel::~ResultModel() = default;

bool ResultModel::lessThan(int a, int b, int column) const
{
    const bool nullA = rs.isNull(a, column), nullB = rs.isNull(b, column);
    if (nullA || nullB)
        return nullA && !nullB;
    const SortKind kind = sortKind(column);
    if (kind != TextSort) {
        auto& cached = keyCache[column];
        if (!cached) {
            cached = std::make_unique<ColumnKeys>();
            cached->keys.reserve(size_t(rs.rowCount()));
            for (int r = 0; r < rs.rowCount(); ++r)
                cached->keys.push_back(keyOf(rs.rows.at(r).value(column), kind));
        }
        const SortKey& ka = cached->keys[size_t(a)];
        const SortKey& kb = cached->keys[size_t(b)];
        const int c = compareKeys(ka, kb, kind);
        if (c != 0 || ka.cls == ValueKey)
            return c < 0;
        // Two values the column could not read as its type: as texts.
    }
    return compareTexts(text(a, column), text(b, column)) < 0;
}

QBitArray ResultModel::matchingRows(const ResultSet& result, bool profile, const QString& needle,
                                    const std::atomic<bool>* cancel)
{
    const int rows = result.rowCount(), columns = result.columnCount();
    QBitArray out(rows);
    for (int r = 0; r < rows; ++r) {
        if (cancel && r % cancelCheckRows == 0 && cancel->load(std::memory_order_relaxed))
            break;
        for (int c = 0; c < columns; ++c) {
            if (cellText(result, profile, r, c).contains(needle, Qt::CaseInsensitive)) {
                out.setBit(r);
                break;
            }
        }
    }
    return out;
}

int ResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rs.rowCount();
}

int ResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rs.columnCount();
}

QVariant ResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return text(index.row(), index.column());
    case Qt::ToolTipRole:
        if (profile && index.column() != 0)
            return QVariant();
        // The tool tip shows at most 800 characters (and "[...]"): a huge
        // value is never copied whole for it.
        return TextHelpers::toTooltipStr(text(index.row(), index.column()).left(802));
    default:
        return QVariant();
    }
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return rs.columns.value(section);
    return section + 1;
}

ResultProxy::ResultProxy(QObject* parent)
    : QSortFilterProxyModel(parent)
{
}

void ResultProxy::setAcceptedRows(const QBitArray& rows)
{
    accepted = rows;
    invalidateFilter();
}

bool ResultProxy::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    return accepted.isEmpty() || (sourceRow < accepted.size() && accepted.testBit(sourceRow));
}

bool ResultProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    return static_cast<const ResultModel*>(sourceModel())->lessThan(left.row(), right.row(), left.column());
}
