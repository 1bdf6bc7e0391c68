#pragma once

#include <QModelIndex>
#include <QPointer>
#include <QWidget>

#include "ResultSet.h"

namespace Ui {
class ResponseExplainWidget;
}
class QSqlQuery;
class QTableWidget;
class languageEngine;

/// The rows of a classic EXPLAIN as a table. Risky values (a full table or
/// index scan, no key, more than 100 rows) get the theme's warning
/// background, a tool tip saying why and an icon; Extra shows one part per
/// line. Columns are found by field name, so MariaDB's ten columns and the
/// twelve of other servers (with `partitions` and `filtered`) both work.
/// The warning tool tips follow the language engine's languageChange().
/// GUI thread only.
class ResponseExplainWidget : public QWidget
{
    Q_OBJECT
public:
    /// `lang` gives the warning texts (group sql_view); without it the engine
    /// handed to WidgetEnv is used.
    ResponseExplainWidget(const ResultSet& result, QWidget* parent, languageEngine* lang = nullptr);
    /// Reads the rest of `query` (executed, before its first row) and shows it.
    ResponseExplainWidget(QSqlQuery* query, QWidget* parent);
    ~ResponseExplainWidget() override;

    QTableWidget* table() const;

public slots:
    /// Opens the value viewer with the text of the cell at `index`.
    void showData(QModelIndex index);
    /// Gives every warned cell its warning background and the tool tip of
    /// the current language.
    void updateToolTips();

private:
    QString text(const QString& key) const;

    Ui::ResponseExplainWidget* ui;
    QPointer<languageEngine> lang;
};
