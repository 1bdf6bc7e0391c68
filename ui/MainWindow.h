#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace Ui {
class MainWindow;
}
class ArchiveStore;
class ArchiveWidget;
class FlowModel;
class FlowPage;
class MngrSessions;
class PlotterMoved;
class QModelIndex;
class QNetworkAccessManager;
class QNetworkReply;
class QSortFilterProxyModel;
class QStandardItemModel;
class SessionsPage;
class SortFilterProxyModel;
class ProxyServer;
class QClipboard;
class QCloseEvent;
class QSplitter;
class Settings;
class StatisticsPage;
class StyleEngine;
class QTableView;
class TableButtonDelegate;
class languageEngine;

/// The program's only top-level window: toolbar, main tab bar with the
/// statistics, flow and sessions pages, start/stop of capture and the
/// profile and settings dialogs. Its class-wide pointers let every other
/// window reach the shared objects. GUI thread only.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    MainWindow(languageEngine* le, StyleEngine* se, Settings* settings, MngrSessions* mngr,
               QClipboard* clipboard, QWidget* parent = nullptr);
    ~MainWindow() override;

    static languageEngine* _le;
    static StyleEngine* _se;
    static Settings* _settings;
    static MngrSessions* _mngr;
    static QClipboard* _clipboard;
    static MainWindow* _singleton;
    /// The session archive's connection.
    static QSqlDatabase _db;
    /// Application version: the project version of the build (CMakeLists.txt).
    static QString _version;
    /// Word size reported by the update check.
    static const int _bits = 32;

    /// Statement text helpers shared by every list and log.
    /// Runs of CR/LF become one space.
    static QString recQuery(QString text);
    /// Runs of spaces, CR and LF become one space.
    static QString remRN(QString text);
    /// Tool-tip form: lines of 80 characters, at most ten, "[...]" after more.
    static QString toTooltipStr(QString text);
    /// One-line highlighted HTML of a statement.
    static QString toHighlightText(QString text);

    /// Takes the proxy's failure reports (message boxes with the window as
    /// parent) and its requests to stop capture and to choose a profile.
    void setProxy(ProxyServer* proxy);

    StatisticsPage* statisticsPage() const;
    FlowPage* flowPage() const { return flow; }
    SessionsPage* sessionsPage() const { return sessionList; }
    Ui::MainWindow* form() const { return ui; }
    bool isCapturing() const { return capturing; }

    /// Statements seen since the last clear-all, with their rows and sizes.
    quint32 queryCount = 0;
    quint32 rowsSeen = 0;
    float responseKbSeen = 0;
    float requestKbSeen = 0;
    quint32 errorConnections = 0;
    quint32 errorQueries = 0;
    /// SQL editor tabs open; the next one is numbered one more.
    quint32 sqlTabCount = 0;

    /// How long an update check waits for its whole reply, in ms.
    int updateTimeoutMs = 10000;

signals:
    void startBtnPress();
    void stopBtnPress();
    void changedProfileSettings();
    /// Asks for an SQL editor tab with `query` in database `dbName`
    /// (command 1 executes it, 2 explains it); addSqlTab() answers it.
    void sqlTabRequested(QString query, int command, QString dbName);

public slots:
    /// Start/stop toggle of capture.
    void onClickStartBtn();
    /// Runs the general settings dialog and applies its options.
    void onClickSettingsBtn();
    /// One poll of the server's statistics; ignored while not capturing.
    void serverStatisticUpdate(QString uptime, QList<double> params, QList<double> paramsFlow,
                               QList<double> paramsGraph, QString version);
    /// A batch of statements of the session at list position `index`.
    void newQueries(uint index, uint indexQuery, uint count);
    void addSession(uint index);
    void closeSession(uint index);
    void setDbName(ulong id, QString name);
    void removeSession(ulong id);
    /// Opens the selected sessions of the list in tabs (or switches to them).
    void openTabSession();
    /// Shows the current profile on the statistics page.
    void settingsUpdate();
    /// Runs the profiles dialog; an accepted profile restarts capture with it.
    void on_profilesBtn_clicked();
    void onServerStateChanged(bool state);
    /// Opens the sessions selected in the archive list `table` in tabs.
    void openTabSavedSession(QTableView* table);
    /// Asks the update service for a newer version (nothing is sent when the
    /// build and the environment name no service). A newer version is offered
    /// with its download page; failures and "up to date" are reported only
    /// once the user has asked (`response` true) in this run.
    void checkUpdates(bool response);
    /// The check the user asks for: checkUpdates(true).
    void checkUpdates();

    /// Opens an SQL editor tab on the current profile's server with `query`;
    /// in database `dbName` when given. Command 1 executes the text at once
    /// when it only reads, and asks first otherwise; 2 explains it; any other
    /// value only opens the tab.
    void addSqlTab(QString query, int command, QString dbName);
    void addSqlTab(QString query, int command);
    void addSqlTab(QString query);
    void addSqlTab();

private slots:
    void changeLanguage();
    void copyToClipboard(QString text);
    /// Profiler graphs: sessions, statements and Kb per second (every second).
    void updateProfilerGraphs();
    void showProxyError(QString title, QString text);
    /// One SQL tab fewer (connected to each SQL tab's destroyed()).
    void deleteTabSql();
    /// Runs the About box; its update button starts an asked check.
    void onClickHelpBtn();
    /// Evaluates and frees one reply of the update service.
    void checkVersion(QNetworkReply* reply);

    // Sessions page.
    void onClickClearSessionsBtn();
    void tabSessionClose(QString id);
    void on_btnCompareSessions_clicked();

    // Session archive (MainWindowArchive.cpp).
    /// Saves the sessions selected in the session list.
    void onClickSaveBtn();
    /// Asks, then deletes every saved session.
    void onClickClearSavedBtn();
    /// Deletes the sessions selected in the archive tab.
    void onClickDeleteBtn();
    void onClickCommentBtn(QString id, QString comment);
    void deleteTabArchive();
    /// Shows the archive tab (read again when it is open already).
    void on_btnArhive_clicked();

    // Flow page and the top-query lists.
    void on_flowTable_doubleClicked(QModelIndex index);
    void on_btnCopy_clicked();
    void on_btnExecute_clicked();
    void on_btnExplay_clicked();
    void on_btnFilter_clicked();
    void on_btnExport_clicked();
    void on_tableTopQueries_doubleClicked(QModelIndex index);
    void on_tableTopQueriesDb_doubleClicked(QModelIndex index);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    /// The settings' memory budget handed to the session manager, applied at once.
    void applyMemoryBudget();
    /// The session list's row and the tabs of session `id` show what is kept of it.
    void reloadReleased(ulong id);
    void createGraphics();
    void createTables();
    void subscribe(bool on);
    void showProfilerCounters();
    /// Compare button: 2 to 5 selected sessions (connected to the list's selection).
    void on_tableSessions_selectionChanged();
    /// Bold (or normal) row of session `id` in the session list.
    void setHighlightSession(ulong id, bool on);
    /// Removes every run-time tab; the fixed pages and the spacer stay.
    void deleteTabsSessions();
    void openTopQuery(QTableView* view, const QModelIndex& index);
    /// Wires every way to an SQL tab (toolbar, flow, session tabs, top lists).
    void setupSqlTabs();
    /// Closes the SQL tabs, stopping what they run, and waits a bounded time
    /// for their connections to end.
    void closeSqlTabs();
    /// Opens the archive file (MainWindowArchive.cpp).
    void loadSavedSessions();
    void closeSavedSessions();
    /// New sessions are numbered above every saved one.
    void followArchiveIds();
    /// The update check's network manager and the About button.
    void setupUpdateCheck();
    /// Size, position and splitters as the last close left them (settings.ini, [Window]).
    void restoreLayout();

    Ui::MainWindow* ui;
    /// The splitters of the fixed pages, whose positions are kept between runs.
    QList<QSplitter*> layoutSplitters;
    bool capturing = false;
    PlotterMoved* serverPlotter = nullptr;
    PlotterMoved* flowPlotter = nullptr;
    QStringList startStopText{QStringLiteral("Start"), QStringLiteral("Stop")};
    QString noDataText{QStringLiteral("None")};
    QStringList stateText{QStringLiteral("Running"), QStringLiteral("Stopped")};
    ProxyServer* proxy = nullptr;
    QTimer graphTimer;
    QList<double> previousTotals{0.0, 0.0, 0.0};
    QList<TableButtonDelegate*> serverBarDelegates;
    QList<TableButtonDelegate*> profilerBarDelegates;
    FlowPage* flow = nullptr;
    SessionsPage* sessionList = nullptr;
    /// The flow table's model and filter proxy (owned by the flow page).
    FlowModel* flowModel = nullptr;
    SortFilterProxyModel* flowProxy = nullptr;
    /// The session list's model and sorting proxy (owned by the sessions page).
    QStandardItemModel* sessionsModel = nullptr;
    QSortFilterProxyModel* sessionsProxy = nullptr;
    /// The archive file and its tab while that is open.
    ArchiveStore* archive = nullptr;
    ArchiveWidget* archiveWidget = nullptr;
    /// Sends the update checks; its replies arrive in checkVersion().
    QNetworkAccessManager* network = nullptr;
    /// Set by an update check the user asked for; never cleared.
    bool announceUpdateResult = false;
};
