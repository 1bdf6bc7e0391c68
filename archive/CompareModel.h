#pragma once

#include <QAbstractTableModel>
#include <QBitArray>
#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

/// One session handed to the comparison: its id as the lists show it and
/// its statement texts in statement order.
struct SessionQueries
{
    QString name;
    QStringList queries;
};

/// The comparison table: column 0 the statement number, column i + 1 the
/// statements of session i, one row per statement position. Whether a row
/// differs is worked out once for every row; a cell's highlighted HTML is
/// made when a view first asks for it and kept. The user role of a cell is
/// what rows sort by (the number, the trimmed statement). GUI thread only.
class CompareModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int SortRole = Qt::UserRole;

    /// `highlight` turns a trimmed statement into the HTML its cell shows.
    CompareModel(QList<SessionQueries> sessions, std::function<QString(const QString&)> highlight,
                 QColor unequal, QObject* parent = nullptr);

    const QList<SessionQueries>& sessions() const { return list; }
    /// True when the sessions sent different statements at `row` (or some
    /// sent none there).
    bool unequal(int row) const { return differs.testBit(row); }
    /// Statement `row` of session `session` untrimmed; a null string when the
    /// session has fewer statements.
    QString statement(int session, int row) const;
    /// Cells whose HTML has been made so far.
    int highlighted() const { return highlightedCells; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<SessionQueries> list;
    std::function<QString(const QString&)> highlight;
    QColor unequalColor;
    int rows = 0;
    QBitArray differs;
    /// HTML by column - 1, then row; a null string is not made yet.
    mutable QVector<QVector<QString>> html;
    mutable int highlightedCells = 0;
};
