#pragma once

#include "SqlRunner.h"

#include <QMutex>
#include <QSqlDatabase>

#include <memory>

class QSqlQuery;

/// What the runner (GUI thread), its worker and its stop threads share.
/// The fields below the mutex are read and written under it. [thread-safe]
struct SqlRunControl
{
    explicit SqlRunControl(const DbConnectionParams& p) : params(p) {}

    const DbConnectionParams params;
    QMutex mutex;
    /// Set by stop() for the current run; cleared when a run starts.
    bool stopRequested = false;
    /// Serial of the statement the server is executing for the worker; 0 while none.
    quint64 executing = 0;
    /// The worker connection's CONNECTION_ID() (0 before it is known).
    quint64 connectionId = 0;
};

/// Runs the jobs of one editor tab on a connection it opens itself. Lives in
/// the runner's worker thread; its slots are reached by queued calls only.
class SqlWorker : public QObject
{
    Q_OBJECT
public:
    explicit SqlWorker(std::shared_ptr<SqlRunControl> control);
    ~SqlWorker() override;

    /// "KILL QUERY" of the worker's running statement `serial`, sent on a new
    /// connection and repeated while that statement still runs (a kill that
    /// reaches the server before the statement does is lost). Blocks: call in
    /// a thread of its own.
    static void killStatement(const std::shared_ptr<SqlRunControl>& control, quint64 serial);

public slots:
    void connectServer();
    void run(SqlJob job);
    /// Closes the connection and ends the worker's thread.
    void shutdown();

signals:
    void connected(QString version, QStringList databases);
    void connectFailed(QString error);
    void progress(QVector<SqlOutcome> outcomes);
    void finished(SqlRunEnd end, QString error);

private:
    /// Opens the connection when it is closed or no longer answers; reads
    /// its id, the version and the databases after each opening.
    bool ensureOpen(QString* error);
    /// Sends `sql` unless a stop was asked for; keeps the rows when `keep`.
    SqlOutcome runOne(const QString& sql, bool keep);
    /// The profiled statement between "SET profiling = 1" and "= 0" (those and
    /// SHOW PROFILES are not stoppable and not logged).
    void runProfile(const SqlJob& job, QVector<SqlOutcome>* out);
    void closeConnection();
    static bool connectionLost(const QSqlQuery& query);

    std::shared_ptr<SqlRunControl> control;
    QString name;
    QSqlDatabase db;
    bool open = false;
    QStringList databases;
    quint64 serial = 0;
};
