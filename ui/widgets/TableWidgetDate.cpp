#include "TableWidgetDate.h"

#include "TableWidgetSort.h"

TableWidgetDate::TableWidgetDate(QString text, int type)
    : QTableWidgetItem(text, type)
{
}

bool TableWidgetDate::operator<(const QTableWidgetItem& other) const
{
    return TableWidgetSort::lessByValue<QDateTime>(text(), other.text(), [](const QString& t, bool* ok) {
        const QDateTime when = TableWidgetSort::parseDate(t);
        *ok = when.isValid();
        return when;
    });
}
