#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTime>

#include <array>
#include <memory>
#include <optional>

class MngrSessions;
class QSqlQuery;
class QTimer;
class Settings;
class languageEngine;

/// The profiler port: accepts client connections and hands each socket
/// descriptor to the session manager, which relays and decodes it. Owns the
/// statistics connection "a" to the same server and polls it every
/// `StatusPeriod` seconds while profiling.
/// GUI thread only (the relays and decoders run in threads of their own).
class ProxyServer : public QTcpServer
{
    Q_OBJECT
public:
    /// Starts listening at once when the `AlwaysTunneling` setting is on.
    /// `le` may be null: message texts then read as without a language file.
    ProxyServer(Settings* settings, MngrSessions* mngr, languageEngine* le, QObject* parent = nullptr);
    ~ProxyServer() override;

    /// True between a successful start and the next stop.
    bool isRunning() const { return running; }
    /// Server version and build platform, "10.11.6-MariaDB (debian-linux-gnu)";
    /// empty until a start read it.
    QString versionText() const { return version; }
    /// The statistics connection (connection name "a").
    QSqlDatabase database() const { return db; }
    /// The driver's text of the last failure of the statistics connection.
    QString lastDatabaseError() const { return lastDbError; }
    /// The options string connect() gives the driver for the current profile:
    /// "UNIX_SOCKET=<path>;" for a local socket, then "CLIENT_COMPRESS=1;".
    QString connectOptions() const;

public slots:
    /// Opens the statistics connection, reads the version, starts polling and
    /// listens on the profiler port. Failures are reported through
    /// errorReported() followed by stopCaptureRequested().
    void startProxy();
    /// Closes the listener (unless `AlwaysTunneling`), every active client
    /// connection and the statistics connection.
    void stopProxy();
    /// Statistics side only: stops polling and closes the statistics connection.
    void stop();
    /// True while the statistics connection is open.
    bool dbIsOpen() const;
    /// One poll of the server's statistics; emits updateStatSignal() and fills
    /// the session manager's server models. Does nothing while not started.
    void updateStatistics();
    /// stopProxy() and startProxy() when running; nothing otherwise.
    void restartProxy();
    /// Reopens a lost statistics connection; reports and asks to stop capture
    /// and to open the profiles dialog when that fails.
    void recoveryConnect();
    /// Opens the statistics connection from the current profile.
    bool connect();

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
    /// Runs a status statement; false when it failed to execute (recovery
    /// has then been started). `value` stays empty when no row came back.
    bool statusValue(const QString& name, std::optional<qint64>* value);
    void reportConnectionError();
    QString errorText(const QString& key) const;
    void fillCommandTable(const QList<QPair<QString, qint64>>& counters, qint64 uptime);
    void fillProcessList();
    void fillOpenTables();

    Settings* settings;
    MngrSessions* mngr;
    QSqlDatabase db;
    std::unique_ptr<QSqlQuery> query;
    QTimer* timer = nullptr;
    QString version;
    /// Values of the previous poll; empty before the first poll after a start.
    std::array<std::optional<qint64>, 8> prevCounters;
    QStringList statusNames;
    int uptimeDays = 0;
    QTime uptimeTime{0, 0};
    bool running = false;
    /// Poll period in seconds (>= 1), fixed at start.
    int period = 1;
    languageEngine* le;
    QString lastDbError;
};
