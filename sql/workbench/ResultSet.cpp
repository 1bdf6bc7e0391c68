#include "ResultSet.h"

#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {
const int resultSetTypeId = qRegisterMetaType<ResultSet>("ResultSet");
}

bool ResultSet::isNull(int row, int column) const
{
    if (row < 0 || row >= rows.size())
        return true;
    const QVector<QVariant>& r = rows.at(row);
    return column < 0 || column >= r.size() || !r.at(column).isValid();
}

QString ResultSet::text(int row, int column) const
{
    if (isNull(row, column))
        return nullText();
    return valueText(rows.at(row).at(column));
}

QString ResultSet::valueText(const QVariant& value)
{
    if (value.userType() == QMetaType::QByteArray)
    {
        const QByteArray bytes = value.toByteArray();
        return QString::fromUtf8(bytes.constData(), bytes.size());
    }
    return value.toString();
}

QString ResultSet::nullText()
{
    return QStringLiteral("(null)");
}

ResultSet readResultSet(QSqlQuery& query, double ms)
{
    Q_UNUSED(resultSetTypeId)
    ResultSet result;
    result.statement = query.lastQuery();
    result.ms = ms;
    result.reportedSize = query.size();
    result.rowsAffected = query.numRowsAffected();
    result.isSelect = query.isSelect();

    const QSqlRecord record = query.record();
    const int columns = record.count();
    result.columns.reserve(columns);
    result.columnTypes.reserve(columns);
    for (int c = 0; c < columns; ++c) {
        const QSqlField field = record.field(c);
        result.columns.append(field.name());
        result.columnTypes.append(int(field.type()));
    }
    if (!result.isSelect)
        return result;

    if (result.reportedSize > 0)
        result.rows.reserve(result.reportedSize);
    while (query.next()) {
        QVector<QVariant> row(columns);
        for (int c = 0; c < columns; ++c) {
            if (query.isNull(c))
                continue; // stays invalid: NULL
            QVariant v = query.value(c);
            // An empty text must stay distinguishable from NULL.
            if (v.userType() == QMetaType::QString && v.toString().isNull())
                v = QVariant(QString(QLatin1String("")));
            row[c] = v.isValid() ? v : QVariant(QString(QLatin1String("")));
        }
        result.rows.append(row);
    }
    return result;
}
