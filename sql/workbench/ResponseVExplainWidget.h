#pragma once

#include <QJsonValue>
#include <QWidget>

#include "ResultSet.h"

namespace Ui {
class ResponseVExplainWidget;
}
class QSqlQuery;
class QTreeWidget;
class QTreeWidgetItem;

/// The JSON plan of EXPLAIN FORMAT=JSON as an expandable tree: an object
/// member or array element holding a non-empty object or array is a branch,
/// everything else a leaf "name: value". A result that is not JSON gives an
/// empty tree. GUI thread only.
class ResponseVExplainWidget : public QWidget
{
    Q_OBJECT
public:
    /// Shows the plan held in the first column of the first row of `result`.
    ResponseVExplainWidget(const ResultSet& result, QWidget* parent);
    /// Reads the rest of `query` (executed, before its first row) and shows it.
    ResponseVExplainWidget(QSqlQuery* query, QWidget* parent);
    ~ResponseVExplainWidget() override;

    QTreeWidget* tree() const;

    /// Adds the members of `value` under `parent`: an object's members in
    /// ascending name order, an array's elements in order, each labelled by
    /// its position from 1.
    void addItems(const QJsonValue& value, QTreeWidgetItem* parent);

    /// A JSON scalar as shown: whole numbers without exponent or decimals,
    /// other numbers in their shortest exact form (1.2 stays 1.2), true,
    /// false, null, strings as written.
    static QString scalarText(const QJsonValue& value);

private:
    Ui::ResponseVExplainWidget* ui;
};
