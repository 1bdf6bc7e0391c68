#pragma once

#include "ResultSet.h"

#include <QAbstractTableModel>
#include <QBitArray>
#include <QSortFilterProxyModel>

#include <atomic>
#include <map>
#include <memory>

/// A result set as a table: the rows stay the stored values of the
/// ResultSet; display texts and tool tips are made when a view asks for
/// them, nothing per cell up front. Read-only; GUI thread only, except the
/// static functions marked [thread-safe].
class ResultModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    /// How a column's values are ordered.
    enum SortKind { TextSort, SignedSort, UnsignedSort, RealSort, DateTimeSort };

    /// `profile`: the rows of SHOW PROFILE (status name, duration in
    /// seconds); the duration shows with 6 decimals and only the status has
    /// a tool tip.
    ResultModel(const ResultSet& result, bool profile, QObject* parent = nullptr);
    ~ResultModel() override;

    const ResultSet& result() const { return rs; }
    bool isProfile() const { return profile; }

    /// Display text of a cell: "(null)" for NULL, the profile's duration
    /// with 6 decimals, otherwise the value as text. [thread-safe]
    static QString cellText(const ResultSet& result, bool profile, int row, int column);
    QString text(int row, int column) const { return cellText(rs, profile, row, column); }

    /// Ordering of `column` from its declared type: integers and reals by
    /// value, dates and times by value, everything else as text.
    static SortKind sortKind(const ResultSet& result, bool profile, int column);
    SortKind sortKind(int column) const { return kinds.value(column, TextSort); }
    /// Whether row `a` sorts before row `b` in `column`. NULL sorts before
    /// every value in every column (first ascending, last descending);
    /// values that a numeric column cannot read as numbers come after the
    /// numbers; texts compare without regard to case, then with it.
    bool lessThan(int a, int b, int column) const;

    /// Source rows whose display text contains `needle` in any column,
    /// without regard to case. Stops early (with a partial result) when
    /// `cancel` becomes true. [thread-safe]
    static QBitArray matchingRows(const ResultSet& result, bool profile, const QString& needle,
                                  const std::atomic<bool>* cancel = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct ColumnKeys;

    ResultSet rs;
    bool profile;
    QVector<SortKind> kinds;
    /// Sort keys of the columns sorted so far (numbers read once, not per comparison).
    mutable std::map<int, std::unique_ptr<ColumnKeys>> keyCache;
};

/// Sorts a ResultModel by value and keeps the rows of a precomputed filter.
/// GUI thread only.
class ResultProxy : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit ResultProxy(QObject* parent = nullptr);

    /// Keeps only the source rows set in `rows`; an empty array keeps every row.
    void setAcceptedRows(const QBitArray& rows);
    const QBitArray& acceptedRows() const { return accepted; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    QBitArray accepted;
};
