#include "SortFilterProxyModel.h"

#include <QRegExp>

SortFilterProxyModel::SortFilterProxyModel(QObject* parent) : QSortFilterProxyModel(parent)
{
    setFilterCaseSensitivity(Qt::CaseInsensitive);
}

QString SortFilterProxyModel::patternForMode(int mode)
{
    switch (mode) {
    case ModeRead:
        return QStringLiteral("(SELECT|SHOW|DESCRIBE)\\s+");
    case ModeWrite:
        return QStringLiteral("(INSERT|DELETE|UPDATE|^CREATE|DROP|ALTER|TRUNCATE|REPLACE)\\s+");
    default:
        return QString();
    }
}

void SortFilterProxyModel::applyMode(int mode, const QString& kw, int errorStatusColumn)
{
    keyword = kw;
    onlyErrors = (mode == ModeErrors);
    statusColumn = onlyErrors ? errorStatusColumn : 1;
    setFilterCaseSensitivity(Qt::CaseInsensitive);
    setFilterRegExp(patternForMode(mode));
    // The fields above are not seen by Qt: re-filter even when the pattern
    // itself did not change.
    invalidateFilter();
}

void SortFilterProxyModel::clearFilter()
{
    keyword.clear();
    onlyErrors = false;
    statusColumn = 1;
    setFilterRegExp(QString());
    invalidateFilter();
}

bool SortFilterProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const QAbstractItemModel* src = sourceModel();
    if (!src)
        return true;

    QRegExp rx = filterRegExp();
    rx.setCaseSensitivity(Qt::CaseInsensitive);
    const bool emptyPattern = rx.isEmpty();

    // The last column is not examined.
    bool passed = false;
    const int lastExamined = src->columnCount(sourceParent) - 2;
    for (int c = 0; c <= lastExamined && !passed; ++c) {
        const QString text = src->index(sourceRow, c, sourceParent).data(Qt::UserRole).toString();
        if (!emptyPattern && rx.indexIn(text) < 0)
            continue;
        if (keyword.isEmpty() || text.contains(keyword, Qt::CaseInsensitive))
            passed = true;
    }

    if (onlyErrors)
        return passed
            && src->index(sourceRow, statusColumn, sourceParent).data(Qt::DisplayRole).toString()
                   == QLatin1String("no");
    return passed;
}
