#pragma once

#include <QList>
#include <QString>
#include <QTcpServer>

class MngrSessions;
class QThread;
class QTimer;
class Settings;
class StatisticsPoller;
class languageEngine;
struct StatisticsOpen;
struct StatisticsPoll;

/// The profiler port: accepts client connections and hands each socket
/// descriptor to the session manager, which relays and decodes it. While
/// profiling, a statistics connection to the same server is polled every
/// `StatusPeriod` seconds.
///
/// GUI thread only. Nothing here waits on the network: the statistics
/// connection is opened, polled and closed by a StatisticsPoller in a thread
/// of its own, one poller (and thread) per start; its results arrive as
/// queued values. A start therefore finishes later, in the event loop: it
/// listens (and reports serverStateChanged(true)) only after the connection
/// opened, the version was read and the first poll came back, or reports its
/// failure through errorReported() and stopCaptureRequested(). A stop drops
/// the poller: whatever it still answers is ignored. Poller threads are
/// children of the proxy until they end. A server that does not answer is
/// given up after the short timeouts of DbConnection (10 s to connect, 20 s
/// for a statement), so a start fails and a poll hands over to the recovery.
class ProxyServer : public QTcpServer
{
    Q_OBJECT
public:
    /// Starts listening at once when the `AlwaysTunneling` setting is on.
    /// `le` may be null: message texts then read as without a language file.
    ProxyServer(Settings* settings, MngrSessions* mngr, languageEngine* le, QObject* parent = nullptr);
    /// Drops the poller and waits a bounded time for poller threads to end;
    /// one still waiting on the network after that is left to end alone.
    ~ProxyServer() override;

    /// True between a successful start and the next stop.
    bool isRunning() const { return running; }
    /// True from startProxy() until the start succeeded, failed or was stopped.
    bool isStarting() const { return starting; }
    /// Server version and build platform, "10.11.6-MariaDB (debian-linux-gnu)";
    /// empty until a start read it.
    QString versionText() const { return version; }
    /// The server's id of the statistics connection; 0 while it is not open.
    qint64 statisticsConnectionId() const { return dbOpen ? connectionId : 0; }
    /// The driver's text of the last failure of the statistics connection.
    QString lastDatabaseError() const { return lastDbError; }
    /// The options string the driver gets for the current profile:
    /// "UNIX_SOCKET=<path>;" for a local socket, then "CLIENT_COMPRESS=1;".
    QString connectOptions() const;

public slots:
    /// Opens the statistics connection, reads the version, polls once and
    /// then listens on the profiler port, all in the background (see the
    /// class comment). Failures are reported through errorReported()
    /// followed by stopCaptureRequested().
    void startProxy();
    /// Closes the listener (unless `AlwaysTunneling`, which keeps it open or
    /// opens it), every active client connection and the statistics
    /// connection; cancels a start still under way.
    void stopProxy();
    /// Statistics side only: stops polling, closes the statistics connection
    /// and cancels a start still under way.
    void stop();
    /// True while the statistics connection is open.
    bool dbIsOpen() const { return dbOpen; }
    /// Asks for one poll of the server's statistics; when it comes back it
    /// fills the session manager's server models and emits updateStatSignal().
    /// Does nothing while the statistics connection is not open or while a
    /// poll is still under way (polls never queue up).
    void updateStatistics();
    /// stopProxy() and startProxy() when running or starting; nothing otherwise.
    void restartProxy();
    /// Reopens the statistics connection from the current profile in the
    /// background; when that fails, reports, asks to stop capture (when
    /// running) and to open the profiles dialog.
    void recoveryConnect();

signals:
    /// One poll: uptime text, server rates, profiler rates, graph values,
    /// version (see updateStatistics()).
    void updateStatSignal(QString uptime, QList<double> params, QList<double> paramsFlow,
                          QList<double> paramsGraph, QString version = QString());
    /// true: listening began or the statistics connection came back;
    /// false: the statistics connection was closed.
    void serverStateChanged(bool state);
    /// A failure to show the user: title and text in the current language.
    void errorReported(QString title, QString text);
    /// The start failed or profiling cannot go on: the window returns to its
    /// stopped state (which stops the proxy).
    void stopCaptureRequested();
    /// The statistics connection cannot be re-established: let the user pick
    /// or fix a profile.
    void profilesDialogRequested();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    /// Listens on the profile's address and port; true on success.
    bool listenProfile();
    /// A new poller in a new thread; the previous one must be dropped.
    void createPoller();
    /// Asks the poller to open the connection from the current profile;
    /// false (with lastDbError set) when there is no profile.
    bool openConnection(bool readVersion);
    /// Lets the poller go: its thread ends after its current request, and its
    /// answers are ignored from now on.
    void dropPoller();
    void onOpened(const StatisticsOpen& result);
    void onPolled(const StatisticsPoll& values);
    /// The start's last step: listen, or report why not.
    void finishStart();
    void reportConnectionError();
    QString errorText(const QString& key) const;
    void fillCommandTable(const StatisticsPoll& values);
    void fillProcessList(const StatisticsPoll& values);
    void fillOpenTables(const StatisticsPoll& values);

    Settings* settings;
    MngrSessions* mngr;
    languageEngine* le;
    QTimer* timer = nullptr;
    StatisticsPoller* poller = nullptr;
    QThread* pollerThread = nullptr;
    /// Counts pollers; a queued answer of any but the current one is ignored.
    quint64 generation = 0;
    QString version;
    qint64 connectionId = 0;
    bool running = false;
    /// A start waits for the connection or its first poll.
    bool starting = false;
    /// A reconnection waits for the connection; polling resumes after it
    /// when `resumePolling`.
    bool reconnecting = false;
    bool resumePolling = false;
    /// The poller reported the connection open (and it was not closed since).
    bool dbOpen = false;
    /// A poll was asked for and has not come back.
    bool pollPending = false;
    /// Whether this start polls, and its period in seconds (>= 1).
    bool statusCheck = true;
    int period = 1;
    QString lastDbError;
};
