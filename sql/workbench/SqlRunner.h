#pragma once

#include "DbConnection.h"
#include "ResultSet.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class QThread;

/// One run of an editor tab: what to send and how. Plain values. [thread-safe]
struct SqlJob
{
    enum Kind { Execute, Profile, Explain, JsonExplain, Analyzer };
    Kind kind = Execute;
    /// The statements in order (Profile: one, the whole editor text).
    QStringList statements;
    /// Database chosen for the run: "USE" is sent once before the first
    /// statement; empty: no USE.
    QString database;
    /// USE `database` only when the server lists it (a name handed in before
    /// the tab knew the server's databases).
    bool databaseIfListed = false;
    /// Results whose rows are read and kept; the rows of later results are
    /// only counted.
    int keepResults = 50;
};

/// The outcome of one statement of a run. [thread-safe]
struct SqlOutcome
{
    enum Status { Ok, Failed, Stopped };
    /// Position in SqlJob::statements; -1 for the run's "USE".
    int index = -1;
    /// The text sent ("EXPLAIN …" for explains).
    QString statement;
    Status status = Ok;
    /// The server's message when the statement failed.
    QString error;
    /// Whether it ran at all (a statement stopped before it began did not).
    bool ran = false;
    /// Whether the statement produced a result set (rows kept or not).
    bool returnedRows = false;
    /// Rows for the log: the driver's row count, 0 when it reports none.
    int rows = 0;
    /// Execution time in ms (the statement only).
    double ms = 0.0;
    /// `result` holds rows for a result tab: the statement's result
    /// (Execute), the plan (explains) or SHOW PROFILE (Profile).
    bool hasResult = false;
    ResultSet result;
};

/// How a run ended.
enum class SqlRunEnd {
    Completed,   ///< every statement was sent (some may have failed under Execute)
    Failed,      ///< a failure ended it (explains, profile, a lost connection, a failed USE)
    Stopped,     ///< the user stopped it; later statements did not run
    NoConnection ///< the server could not be reached; nothing was sent
};

Q_DECLARE_METATYPE(SqlJob)
Q_DECLARE_METATYPE(SqlOutcome)
Q_DECLARE_METATYPE(SqlRunEnd)

struct SqlRunControl;
class SqlWorker;

/// The editor tab's own connection to its server, in a worker thread that
/// opens, uses and closes it; the window's thread never waits on it. Runs
/// one job at a time and reports its statements in batches as finished
/// values. stop() ends the running statement with "KILL QUERY" sent on a
/// second connection from a short-lived thread of its own. A lost connection
/// is opened again before the next run (never in the middle of one, so no
/// statement is sent twice). Destroying the runner stops what runs and lets
/// the worker end by itself. GUI thread only.
class SqlRunner : public QObject
{
    Q_OBJECT
public:
    explicit SqlRunner(const DbConnectionParams& params, QObject* parent = nullptr);
    ~SqlRunner() override;

    /// Opens the connection and reads the server's version and databases:
    /// answered by connected() or connectFailed().
    void connectServer();
    /// Starts `job`; false (and nothing happens) while a run is going on.
    bool start(const SqlJob& job);
    /// Ends the running statement on the server; no later statement of the
    /// run starts. Nothing happens while no run is going on.
    void stop();
    bool isBusy() const { return busy; }

    /// Waits up to `ms` in all for the worker and stop threads of every
    /// runner destroyed so far; true when all ended. For the end of the program.
    static bool waitForAll(int ms);

signals:
    /// The connection is open (again): the server's version text and its databases.
    void connected(QString version, QStringList databases);
    void connectFailed(QString error);
    /// Statements of the run that have ended, in order.
    void progress(QVector<SqlOutcome> outcomes);
    /// The run ended; `error` says why when it did not complete.
    void finished(SqlRunEnd end, QString error);

private:
    void onFinished(SqlRunEnd end, QString error);

    std::shared_ptr<SqlRunControl> control;
    SqlWorker* worker = nullptr;
    QThread* thread = nullptr;
    bool busy = false;
};
