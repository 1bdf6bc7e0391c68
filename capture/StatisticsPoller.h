#pragma once

#include "DbConnection.h"
#include "ServerStatistics.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QString>

/// One row of the server's process list, as it came.
struct StatisticsProcess
{
    qint64 id = 0;
    QString user;
    QString host;
    QString db;
    QString command;
    qint64 time = 0;
    QString info; ///< the statement being run; empty for an idle connection
};

/// What opening the statistics connection gave. A plain value. [thread-safe]
struct StatisticsOpen
{
    bool ok = false;
    /// The driver's text when the connection did not open.
    QString error;
    /// "10.11.6-MariaDB (debian-linux-gnu)"; empty unless asked for.
    QString version;
    /// The server's id of the connection (0 when it did not open).
    qint64 connectionId = 0;
};

/// The finished values of one poll, as they cross to the window's thread.
/// A plain value. [thread-safe]
struct StatisticsPoll
{
    /// False: an essential status statement failed; `error` holds the
    /// driver's text and nothing else is filled.
    bool ok = false;
    QString error;
    /// "3 days 04:15"
    QString uptime;
    /// Server rates against the previous poll of the same poller.
    ServerStatistics::Rates rates;
    QList<ServerStatistics::CommandRow> commands;
    /// False when SHOW FULL PROCESSLIST failed (the list is then empty).
    bool processListRead = false;
    QList<StatisticsProcess> processes;
    /// Database and table of every open table; empty when SHOW OPEN TABLES failed.
    QList<QPair<QString, QString>> openTables;
};

Q_DECLARE_METATYPE(StatisticsOpen)
Q_DECLARE_METATYPE(StatisticsPoll)

/// Runs the statistics statements on a connection of its own.
///
/// Lives in a thread of its own: construct it, move it to that thread and
/// call its slots only through queued invocations; it opens, uses and closes
/// its connection in that thread alone, and hands results out as values
/// through its signals (connect them queued). Deleted in its thread (the
/// thread's finished() to deleteLater()), which closes the connection.
/// Widget-free; one request at a time, in the order they were queued.
class StatisticsPoller : public QObject
{
    Q_OBJECT
public:
    /// `period`: poll period in seconds (>= 1), the divisor of every rate.
    explicit StatisticsPoller(int period, QObject* parent = nullptr);
    ~StatisticsPoller() override;

public slots:
    /// (Re)opens the connection with `params`; emits opened(). With
    /// `readVersion` the server's version and build platform are read too.
    /// The previous poll's counters stay: rates go on across a reconnection.
    void open(const DbConnectionParams& params, bool readVersion);
    /// One poll; emits polled(). A failed essential statement leaves the
    /// previous counters as they were.
    void poll();

signals:
    void opened(const StatisticsOpen& result);
    void polled(const StatisticsPoll& values);

private:
    /// Runs the status statement for `variable`; false when it failed to
    /// execute. `value` stays empty when no row came back.
    bool statusValue(const QString& variable, std::optional<qint64>* value, QString* error);
    void closeConnection();

    const QString name;
    const int period;
    ServerStatistics::Snapshot previous;
    int uptimeDays = 0;
    QTime uptimeTime{0, 0};
};
