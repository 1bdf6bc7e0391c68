#pragma once

#include <QTableWidgetItem>

/// Table item sorting by the date it shows, "dd.MM.yy hh:mm" (two-digit years
/// are 2000-2099). GUI thread only.
class TableWidgetDate : public QTableWidgetItem
{
public:
    explicit TableWidgetDate(QString text, int type = QTableWidgetItem::Type);
    bool operator<(const QTableWidgetItem& other) const override;
};
