#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class QSqlQuery;

/// The answer of one finished statement as plain values: the statement,
/// its column names and rows, and its time. Built by readResultSet() in
/// whatever thread ran the statement and handed to the window's thread by
/// value (implicitly shared containers, cheap to copy). [thread-safe]
struct ResultSet
{
    /// The statement as executed (QSqlQuery::lastQuery()).
    QString statement;
    /// Field names, in result order.
    QStringList columns;
    /// QMetaType id of each field's values as the driver declares them
    /// (QMetaType::LongLong, Double, QString, ...); decides how a column sorts.
    QVector<int> columnTypes;
    /// One vector per row, one value per column. An invalid QVariant
    /// (QVariant()) is SQL NULL; every other value is valid.
    QVector<QVector<QVariant>> rows;
    /// Execution time in milliseconds (the statement only, not reading rows).
    double ms = 0.0;
    /// The driver's row count (QSqlQuery::size()), -1 when it reports none.
    int reportedSize = -1;
    /// Rows changed by a data-changing statement, -1 when not known.
    int rowsAffected = -1;
    /// Whether the statement produced a result set (it may have no rows).
    bool isSelect = false;

    int rowCount() const { return rows.size(); }
    int columnCount() const { return columns.size(); }
    /// Whether the value at (row, column) is SQL NULL.
    bool isNull(int row, int column) const;
    /// The value as text: "(null)" for NULL, otherwise valueText().
    QString text(int row, int column) const;
    /// A stored value as text: QVariant::toString(), except that bytes
    /// (binary columns) are read as UTF-8 over their whole length, zero bytes
    /// included (QVariant stops at the first zero byte). [thread-safe]
    static QString valueText(const QVariant& value);
    /// The text shown for SQL NULL: "(null)".
    static QString nullText();
    /// The row count the status line shows: the driver's count; when it
    /// reports none (SQLite, a forward-only query), the rows read.
    int shownRowCount() const { return reportedSize < 0 ? rows.size() : reportedSize; }
};

Q_DECLARE_METATYPE(ResultSet)

/// Reads every row of `query`, which has just been executed and stands
/// before its first row, into a ResultSet with `ms` as its time. Must be
/// called in the thread that owns the query's connection. DECIMAL values keep
/// the server's text (all digits) only when the query was executed with
/// QSql::HighPrecision; the default policy turns them into doubles.
ResultSet readResultSet(QSqlQuery& query, double ms);
