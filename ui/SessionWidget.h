#pragma once

#include <QModelIndex>
#include <QString>
#include <QWidget>

#include "Plotter.h"

namespace Ui {
class SessionWidget;
}
class languageEngine;
class MngrSessions;
class QStandardItemModel;
class QTableView;
class SortFilterProxyModel;
class SessionQueryModel;
struct SessionData;
struct ExportField;

/// The tab of one captured client session: totals, the duration graph, the
/// statement table (filterable, exportable) and a viewer of the chosen
/// statement. Grows batch by batch while the session runs. GUI thread only.
class SessionWidget : public QWidget
{
    Q_OBJECT
public:
    /// Statement table columns.
    enum Column {
        ColNumber = 0, ColStatus, ColQuery, ColTimeMs, ColTimePercent, ColLongestPercent,
        ColRows, ColReceived, ColSent, ColumnCount
    };

    /// `sessionIndex` is the session's position in the session manager's list.
    SessionWidget(languageEngine* lang, SessionData* data, unsigned int sessionIndex,
                  QWidget* parent = nullptr);
    ~SessionWidget() override;

    /// Set for a session loaded from the archive: the view then deletes the
    /// record and its statements.
    bool ownsSessionData = false;

    QTableView* tableQueries() const;
    /// Shows the session's duration in the statistics line and ends the
    /// running form for good.
    void updateElapsedStat();
    /// Shows the running form of the elapsed time while `a`.
    void setFlagActive(bool a);

    /// With the manager known, a batch is recognised by the record it names,
    /// so positions that moved (older records dropped) still find this view.
    void setSessionManager(MngrSessions* manager) { mngr = manager; }

    SessionData* session() const { return sessionData; }
    unsigned int position() const { return sessionIndex; }
    /// The statement table, oldest statement first (a model without items:
    /// read it with index()/data()).
    QStandardItemModel* queryModel() const;
    SortFilterProxyModel* proxyModel() const { return proxy; }
    Plotter* graph() { return &plotter; }
    bool isActive() const { return active; }
    int currentFilterMode() const { return filterMode; }
    QString currentFilterKeyword() const { return filterKeyword; }

    /// What an export of the table writes: captions, XML names and the rows
    /// that pass the filter, in the order shown.
    QStringList exportCaptions() const;
    QStringList exportKeys() const;
    QList<QStringList> exportRows() const;
    /// What an export says before its rows: how many statements were released
    /// to stay within the memory budget; empty when none were.
    QString exportNote() const;
    /// The file an export proposes: the home folder and the 7-digit session number.
    QString defaultExportPath() const;

    /// Number of statement texts the session sent more than once (exactly equal).
    static int twinCount(const SessionData* data);

public slots:
    void addQueries(uint index, uint indexQuery, uint count);
    void loadQueries();
    /// Takes the rows of statements the record released since (to stay
    /// within the memory budget) out of the table and the graph, keeping the
    /// other rows, their sort, filter and selection.
    void dropReleased();
    void setCurrentQuery(int index);
    void onSelectRowQuery(QModelIndex cur, QModelIndex prev);
    void changeLanguage();
    void onClickedCopy();
    void openTwin();
    /// The statement patterns of this session in a dialog (the same list as
    /// the statistics page's, counted from the session's statements); a
    /// double click opens a pattern's slowest statement in an SQL tab.
    void on_btnPatterns_clicked();
    void on_btnToSql_clicked();
    void on_btnExplay_clicked();
    void on_btnExport_clicked();
    void on_btnFilter_clicked();

signals:
    /// The statement shown in the viewer, for the clipboard.
    void clickedCopy(QString text);
    /// Asks for an SQL editor tab with `query` in database `dbName`;
    /// command 1 executes it, 2 explains it.
    void sqlTabRequested(QString query, int command, QString dbName);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    /// Columns sized to their contents (shown) or left as they are (hidden).
    void setAutoWidths(bool on);
    QString text(const QString& key) const;
    void setupHeader();
    void setStatLabel(class QLabel* label, const QString& captionKey, const QString& value);
    void refreshTotals();
    void showRunning();
    /// Rewrites the share and percent-of-slowest columns of rows [0, to).
    void refreshDependentColumns(int to);
    /// The graph drawn again from the durations of the table's rows.
    void plotRows();
    /// Makes source row `row` current (selection, viewer, graph marker).
    void followRow(int row);
    /// Shows statement `row` in the viewer and marks it on the graph.
    void showQuery(int row);
    void enableActions();
    void sendToSql(int command);
    bool acceptsBatch(uint index);

    Ui::SessionWidget* ui;
    SessionData* sessionData;
    unsigned int sessionIndex;
    Plotter plotter;
    languageEngine* lang;
    bool active = false;
    SortFilterProxyModel* proxy = nullptr;
    SessionQueryModel* model = nullptr;
    int filterMode = 0;
    QString filterKeyword;

    MngrSessions* mngr = nullptr;
    int shownRow = -1;
};
