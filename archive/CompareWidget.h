#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include "CompareModel.h"

namespace Ui {
class CompareWidget;
}
class QSortFilterProxyModel;
class QTableView;
class CodeEditor;

/// Two to five sessions side by side, statement by statement: rows where
/// the sessions sent different statements are marked in the theme colour
/// "row_compare_noequal_clr"; the chosen cell's statement is shown in full
/// below. Owns nothing but its copy of the lists. GUI thread only.
class CompareWidget : public QDialog
{
    Q_OBJECT
public:
    CompareWidget(QList<SessionQueries> sessions, QString title, QWidget* parent = nullptr);
    ~CompareWidget() override;

    QTableView* table() const;
    CodeEditor* viewer() const;
    CompareModel* compareModel() const { return model; }

    /// Shows the statement of the current cell: the row's own number is
    /// read from column 0, so a sorted table still shows the right one.
    /// Column 0, or a session without that statement, empties the viewer.
    void on_tableCompare_currentCellChanged(int currentRow, int currentColumn, int previousRow, int previousColumn);

private:
    Ui::CompareWidget* ui;
    CompareModel* model = nullptr;
    QSortFilterProxyModel* proxy = nullptr;
};
