#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTime>

#include <array>
#include <optional>

/// Arithmetic of the server statistics poll: uptime text, rates between two
/// polls and the command table. Pure functions and plain values, no SQL;
/// [thread-safe] (no shared state).
namespace ServerStatistics {

/// Number of status variables read one by one at every poll.
constexpr int CounterCount = 8;
/// Indexes into the counters, in polling order.
enum Counter { Queries = 0, ComSelect, ComUpdate, ComInsert, ComDelete, ThreadsConnected, BytesSent, BytesReceived };

/// "Queries", "Com_select", "Com_update", "Com_insert", "Com_delete",
/// "Threads_connected", "Bytes_sent", "Bytes_received".
QStringList statusNames();

/// The poll period in seconds: a configured period below one second polls
/// (and divides) by one second; one above a day by a day (the timer's
/// milliseconds stay within an int).
int pollPeriod(quint32 statusPeriod);

/// Splits an uptime in seconds into whole days and the time of day.
void splitUptime(qint64 seconds, int* days, QTime* time);
/// "1 day 01:01", "0 days 00:05", "3 days 04:15".
QString uptimeText(int days, const QTime& time);

/// The change of a counter since the previous poll: 0 when there was no
/// previous value or when the counter went down (server restarted or
/// counters flushed), else value - previous. A counter that was 0 at the
/// previous poll is a previous value like any other.
qint64 counterDelta(std::optional<qint64> previous, qint64 value);

/// The eight values one poll read; a variable the server did not report is
/// left empty. Also the previous values kept between polls (empty: none yet).
using Snapshot = std::array<std::optional<qint64>, CounterCount>;

/// What one poll yields from the eight counters.
struct Rates
{
    /// Per second over the period: all, SELECT, UPDATE, INSERT, DELETE, other
    /// (a missing variable leaves its element out; "other" is always there).
    QList<double> params;
    /// Statements executed in the period (not divided), Threads_connected,
    /// KiB/s sent by the server, KiB/s received by the server.
    QList<double> paramsGraph;
    /// The "Queries" difference, rounded.
    qint64 statements = 0;
};

/// Turns one snapshot into rates against `previous` and stores the
/// snapshot's values into `previous` (a variable not reported keeps its
/// previous value). `period` in seconds (>= 1).
Rates computeRates(Snapshot* previous, const Snapshot& snapshot, int period);

/// The captured-statement counters (all, SELECT, UPDATE, INSERT, DELETE,
/// other) turned into rates per second over the period.
QList<double> flowRates(const QList<int>& groupCounters, int period);

/// One row of the command table.
struct CommandRow
{
    QString name;           ///< without the "Com_" prefix
    qint64 value = 0;       ///< since server start
    double perHour = 0;     ///< one decimal, rounded down; 0 without uptime
    double perSecond = 0;   ///< one decimal, rounded down; 0 without uptime
    int percent = 0;        ///< of all commands, rounded half up
};

/// The command table from the rows of SHOW STATUS LIKE 'com_%' (name, value)
/// and the uptime in seconds.
QList<CommandRow> commandTable(const QList<QPair<QString, qint64>>& counters, qint64 uptime);

} // namespace ServerStatistics
