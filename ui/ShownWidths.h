#pragma once

#include <QList>
#include <QObject>

class QTableView;
class QWidget;

/// Sizes the listed columns of a table to their contents only while `page`
/// is shown. A hidden table measures every row for such a column (Qt cannot
/// tell which rows are on screen), so a page that is not shown keeps its
/// widths until it is shown again. GUI thread only.
class ShownWidths : public QObject
{
    Q_OBJECT
public:
    ShownWidths(QWidget* page, QTableView* table, QList<int> columns);

    /// Puts the columns into the mode that fits the page's visibility now.
    void apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setAuto(bool on);

    QWidget* page;
    QTableView* table;
    QList<int> columns;
};
