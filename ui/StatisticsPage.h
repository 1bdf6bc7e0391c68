#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace Ui {
class StatisticsPage;
}
class MngrSessions;
class PatternTable;
class PlotterMoved;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;
class TableButtonDelegate;
class languageEngine;
struct Profile;

/// The statistics page of the main window: the current profile's server and
/// the profiler's listener, the profiler counters, the moving statement graph,
/// eight small graphs and the top lists of the server and of the profiler.
/// It shows what the main window hands it; the main window keeps the state.
/// GUI thread only.
class StatisticsPage : public QWidget
{
    Q_OBJECT
public:
    explicit StatisticsPage(QWidget* parent = nullptr);
    ~StatisticsPage() override;

    /// The page's widgets, under the object names of its form.
    Ui::StatisticsPage* form() const { return ui; }

    /// Puts the moving statement graph into the page (maximum Y 20).
    PlotterMoved* createPlotter();
    /// Shows the session manager's top lists, process list and command table
    /// through sortable proxies with bar and statement delegates.
    void createTables(MngrSessions* mngr, const QString& css);

    /// Bars of the server's top queries, tables and databases.
    QList<TableButtonDelegate*> serverBars() const { return serverBarDelegates; }
    /// Bars of the profiler's top queries, tables (attached to no view) and databases.
    QList<TableButtonDelegate*> profilerBars() const { return profilerBarDelegates; }
    QSortFilterProxyModel* proxyOf(QTableView* view) const;
    /// The profiler's statement patterns and tables (tabs of the top lists).
    PatternTable* patternsTable() const { return patterns; }
    PatternTable* tablesTable() const { return tables; }
    /// Brings the pattern and table lists up to date when on screen; once per tick.
    void refreshPatterns();

    /// The current profile's server and the profiler port; `noData` is shown
    /// for the port of a local-socket profile.
    void showProfile(const Profile& profile, const QString& noData);
    /// Server and profiler state indicators.
    void showState(bool running, const QString& text);
    /// The server's version, elided to the label's width (full text as tool tip).
    void showVersion(const QString& version);
    QString fullVersion() const { return version; }

    /// Texts of the page from the statistics group.
    void changeLanguage(languageEngine* le);

    /// Empties the eight small graphs.
    void clearGraphs();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    /// `rankOrder`: the rows come sorted by column 0, which the header shows.
    void setupTable(QTableView* view, QStandardItemModel* model, int stretchColumn, bool rankOrder = true);

    Ui::StatisticsPage* ui;
    QString version;
    QList<TableButtonDelegate*> serverBarDelegates;
    QList<TableButtonDelegate*> profilerBarDelegates;
    QList<QPair<QTableView*, QSortFilterProxyModel*>> proxies;
    PatternTable* patterns = nullptr;
    PatternTable* tables = nullptr;
};
