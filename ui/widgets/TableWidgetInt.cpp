#include "TableWidgetInt.h"

#include "TableWidgetSort.h"

TableWidgetInt::TableWidgetInt(QString text, int type)
    : QTableWidgetItem(text, type)
{
}

bool TableWidgetInt::operator<(const QTableWidgetItem& other) const
{
    return TableWidgetSort::lessByValue<qlonglong>(text(), other.text(), TableWidgetSort::parseInt);
}
