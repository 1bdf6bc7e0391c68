#pragma once

#include <QTableWidgetItem>

/// Table item sorting by the real number it shows (plain or in the system
/// locale's form). GUI thread only.
class TableWidgetDouble : public QTableWidgetItem
{
public:
    explicit TableWidgetDouble(QString text, int type = QTableWidgetItem::Type);
    bool operator<(const QTableWidgetItem& other) const override;
};
