#pragma once

#include <QElapsedTimer>
#include <QModelIndex>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include "FlowModel.h"

namespace Ui {
class MainWindow;
}
class MngrSessions;
class Settings;
class SortFilterProxyModel;
class languageEngine;
struct SessionData;

/// The flow page of the main window: every captured statement, newest first,
/// with the chosen statement in the code viewer, the filter and the export.
/// Works on the page's widgets in the main window's form. Statements are
/// queued by enqueue() and shown by the next tick (every `tickMs`) in one
/// insertion, so a statement costs the GUI thread a copy of a few fields.
/// GUI thread only.
class FlowPage : public QObject
{
    Q_OBJECT
public:
    /// How often queued statements are shown, in ms.
    static constexpr int tickMs = 100;

    FlowPage(Ui::MainWindow* form, MngrSessions* mngr, Settings* settings, languageEngine* lang,
             QWidget* dialogParent);

    FlowModel* model() const { return flowModel; }
    SortFilterProxyModel* proxy() const { return flowProxy; }

    /// Queues the statements [from, end) of `data`, numbering them from
    /// `firstNumber` on (the running statement count of the first one).
    void enqueue(const SessionData* data, int from, quint32 firstNumber);
    /// Statements queued and not shown yet.
    int pendingCount() const { return pending.size(); }
    /// Shows the queued statements now (the tick does this).
    void flush();
    /// Drops the oldest rows beyond `limit`.
    void trimTo(int limit);
    /// Empties the flow (shown and queued) and disables filter and export.
    void clear();

    /// Filter button: the filter dialog, or every row again when unchecked.
    void toggleFilter(bool checked);
    /// The rows that pass the filter, in view order, as the export writes them.
    QList<QStringList> exportRows() const;
    QStringList exportCaptions() const;
    /// Runs the export dialog over the visible rows.
    void runExport();

    /// Session number and statement position of a view row of the flow
    /// table; false when the index is invalid.
    bool statementAt(const QModelIndex& viewIndex, unsigned long* sessionId, int* position) const;
    /// The current row's statement text and database (for the SQL buttons).
    bool currentStatement(QString* text, QString* dbName) const;

    void changeLanguage();

    int filterMode = 0;
    QString filterKeyword;

signals:
    /// The first statement reached the flow.
    void firstStatementShown();

private:
    void onCurrentRowChanged(const QModelIndex& cur, const QModelIndex& prev);

    Ui::MainWindow* ui;
    MngrSessions* mngr;
    Settings* settings;
    languageEngine* lang;
    QWidget* dialogParent;
    FlowModel* flowModel;
    SortFilterProxyModel* flowProxy;
    QVector<FlowRow> pending;
    QTimer tick;
};
