#pragma once

#include <QTableWidgetItem>

/// Table item sorting by the whole number it shows (plain or in the system
/// locale's form). GUI thread only.
class TableWidgetInt : public QTableWidgetItem
{
public:
    explicit TableWidgetInt(QString text, int type = QTableWidgetItem::Type);
    bool operator<(const QTableWidgetItem& other) const override;
};
