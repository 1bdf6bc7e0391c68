#include "TableWidgetDouble.h"

#include "TableWidgetSort.h"

TableWidgetDouble::TableWidgetDouble(QString text, int type)
    : QTableWidgetItem(text, type)
{
}

bool TableWidgetDouble::operator<(const QTableWidgetItem& other) const
{
    return TableWidgetSort::lessByValue<double>(text(), other.text(), TableWidgetSort::parseDouble);
}
