#pragma once

#include <QList>
#include <QObject>
#include <climits>

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

/// Sizes columns of numbers for the widest number they hold, shown or not:
/// each row is looked at once, when it arrives or changes, and only its
/// longest text per column is measured (sizing to contents would measure
/// the rows on screen only, or every row while hidden). A column only
/// widens; the user may widen it further. Set the table's model first.
/// GUI thread only.
class NumberWidths : public QObject
{
    Q_OBJECT
public:
    NumberWidths(QTableView* table, QList<int> columns);

private:
    /// Widens the columns from `fromColumn` to `toColumn` for rows `first`
    /// to `last` of the table's model.
    void measure(int first, int last, int fromColumn = 0, int toColumn = INT_MAX);

    QTableView* table;
    QList<int> columns;
};
