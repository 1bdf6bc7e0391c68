#pragma once

#include <QString>
#include <QWidget>

#include <functional>

#include "PatternModel.h"

class PatternStats;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class TableButtonDelegate;
class languageEngine;
struct ExportField;

/// A list of pattern statistics (statement patterns, or tables) with its
/// export: a table sorted by total time and sortable by every column, a
/// value bar of each row's share of the total time, and an Export button.
/// A double click asks for the row's slowest statement. The owner calls
/// refresh() once per tick. GUI thread only.
class PatternTable : public QWidget
{
    Q_OBJECT
public:
    enum Kind { Patterns, Tables };
    /// `css`: style of highlighted statements (used when a shown form is set).
    PatternTable(Kind kind, const QString& css, QWidget* parent = nullptr);

    void setStats(const PatternStats* stats);
    /// The key column shows keys in this form (highlighted HTML).
    void setShownForm(std::function<QString(const QString&)> form);
    /// Takes the changes of the statistics into the list and rescales the bars.
    void refresh();
    /// Texts from the statistics group.
    void changeLanguage(languageEngine* le);

    QTableView* view() const { return table; }
    PatternModel* model() const { return patternModel; }
    QSortFilterProxyModel* proxy() const { return sorter; }

    /// The export's fields, and the rows as the list shows them.
    static QList<ExportField> exportFields(Kind kind);
    QList<QStringList> exportRows() const;

signals:
    /// The slowest statement of the double-clicked row and its database.
    void statementRequested(const QString& text, const QString& db);

protected:
    /// A list that comes into view catches up at once.
    void showEvent(QShowEvent* event) override;

private:
    void exportList();
    void onDoubleClicked(const QModelIndex& index);

    const Kind kind;
    QTableView* table;
    PatternModel* patternModel;
    QSortFilterProxyModel* sorter;
    TableButtonDelegate* bars;
    QPushButton* exportButton;
    languageEngine* lang = nullptr;
};
