#include "SqlWorker.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

namespace {

/// How often finished statements are handed to the window, in ms.
constexpr int batchMs = 100;

/// The worker gives up connecting after this many seconds (a server that
/// does not answer must not keep a closed tab's thread alive for minutes).
const char* const workerTimeouts = "MYSQL_OPT_CONNECT_TIMEOUT=10";
/// The stop connection does one small thing; it waits less.
const char* const killTimeouts = "MYSQL_OPT_CONNECT_TIMEOUT=5;MYSQL_OPT_READ_TIMEOUT=5;MYSQL_OPT_WRITE_TIMEOUT=5";

QString errorText(const QSqlError& e)
{
    const QString server = e.databaseText().trimmed();
    return server.isEmpty() ? e.text().trimmed() : server;
}

QString quotedName(QString name)
{
    return QLatin1Char('`') + name.replace(QLatin1Char('`'), QLatin1String("``")) + QLatin1Char('`');
}

} // namespace

SqlWorker::SqlWorker(std::shared_ptr<SqlRunControl> c)
    : control(std::move(c)), name(DbConnection::uniqueName(QStringLiteral("sql-editor")))
{
}

SqlWorker::~SqlWorker()
{
    closeConnection();
}

void SqlWorker::closeConnection()
{
    db = QSqlDatabase();
    DbConnection::close(name);
    open = false;
}

void SqlWorker::shutdown()
{
    closeConnection();
    QThread::currentThread()->quit();
}

bool SqlWorker::connectionLost(const QSqlQuery& query)
{
    // Client errors of a connection gone or broken, and the server's own
    // "connection killed" / "shutdown in progress" / "disconnected".
    static const QStringList codes{QStringLiteral("2006"), QStringLiteral("2013"), QStringLiteral("2055"),
                                   QStringLiteral("1927"), QStringLiteral("1053"), QStringLiteral("4031")};
    return codes.contains(query.lastError().nativeErrorCode());
}

bool SqlWorker::ensureOpen(QString* error)
{
    if (open) {
        // A cheap question tells whether the connection still answers; nothing
        // of the run has been sent yet, so opening it again repeats nothing.
        QSqlQuery ping(db);
        if (ping.exec(QStringLiteral("SELECT CONNECTION_ID()")) && ping.next()) {
            QMutexLocker lock(&control->mutex);
            control->connectionId = ping.value(0).toULongLong();
            return true;
        }
        open = false;
    }
    db = DbConnection::open(control->params.withOptions(workerTimeouts), name, error);
    if (!db.isOpen())
        return false;
    // DECIMAL values as the server wrote them: as doubles 0.2500 would show
    // as 0.25 and long values would lose digits.
    db.setNumericalPrecisionPolicy(QSql::HighPrecision);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT CONNECTION_ID(), VERSION()")) || !q.next()) {
        if (error)
            *error = errorText(q.lastError());
        return false;
    }
    {
        QMutexLocker lock(&control->mutex);
        control->connectionId = q.value(0).toULongLong();
    }
    const QString version = q.value(1).toString();
    databases.clear();
    if (q.exec(QStringLiteral("SHOW DATABASES")))
        while (q.next())
            databases.append(q.value(0).toString());
    open = true;
    emit connected(version, databases);
    return true;
}

void SqlWorker::connectServer()
{
    QString error;
    if (!ensureOpen(&error))
        emit connectFailed(error);
}

SqlOutcome SqlWorker::runOne(const QString& sql, bool keep)
{
    SqlOutcome o;
    o.statement = sql;
    {
        QMutexLocker lock(&control->mutex);
        if (control->stopRequested) {
            o.status = SqlOutcome::Stopped;
            return o;
        }
        control->executing = ++serial;
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    QElapsedTimer timer;
    timer.start();
    const bool ok = q.exec(sql);
    o.ms = double(timer.nsecsElapsed()) / 1000000.0;
    o.ran = true;
    bool stopAsked;
    {
        QMutexLocker lock(&control->mutex);
        control->executing = 0;
        stopAsked = control->stopRequested;
    }
    if (!ok) {
        // A statement that fails after a stop was asked for was ended by it.
        o.status = stopAsked ? SqlOutcome::Stopped : SqlOutcome::Failed;
        o.error = errorText(q.lastError());
        if (connectionLost(q))
            open = false;
        return o;
    }
    o.rows = q.size() < 0 ? 0 : q.size();
    o.returnedRows = q.isSelect();
    if (o.returnedRows && keep) {
        o.result = readResultSet(q, o.ms);
        o.hasResult = true;
    }
    return o;
}

void SqlWorker::runProfile(const SqlJob& job, QVector<SqlOutcome>* out)
{
    QSqlQuery q(db);
    SqlOutcome o;
    if (!q.exec(QStringLiteral("SET profiling = 1"))) {
        o.statement = job.statements.value(0);
        o.status = SqlOutcome::Failed;
        o.error = errorText(q.lastError());
        out->append(o);
        return;
    }
    o = runOne(job.statements.value(0), false);
    o.index = 0;
    if (o.status == SqlOutcome::Ok) {
        // The newest entry is the statement just run: the server lists only the
        // first characters of a long statement, so texts cannot be compared.
        qulonglong id = 0;
        if (q.exec(QStringLiteral("SHOW PROFILES")))
            while (q.next())
                id = qMax(id, q.value(0).toULongLong());
        if (id > 0 && q.exec(QStringLiteral("SHOW PROFILE FOR QUERY ") + QString::number(id))) {
            o.result = readResultSet(q, o.ms);
            o.hasResult = true;
        }
    }
    // Profiling goes off whatever happened; a stop sent a moment ago may still
    // interrupt the first attempt.
    for (int attempt = 0; attempt < 3 && open; ++attempt)
        if (q.exec(QStringLiteral("SET profiling = 0")))
            break;
    out->append(o);
}

void SqlWorker::run(SqlJob job)
{
    QVector<SqlOutcome> batch;
    QElapsedTimer sinceBatch;
    sinceBatch.start();
    const auto flush = [&] {
        if (!batch.isEmpty())
            emit progress(batch);
        batch.clear();
        sinceBatch.restart();
    };
    const auto endWith = [&](SqlRunEnd end, const QString& error) {
        flush();
        emit finished(end, error);
    };

    QString error;
    if (!ensureOpen(&error)) {
        endWith(SqlRunEnd::NoConnection, error);
        return;
    }
    if (!job.database.isEmpty() && (!job.databaseIfListed || databases.contains(job.database))) {
        // A failed USE ends the run: its statements were meant for that database.
        SqlOutcome use = runOne(QStringLiteral("USE ") + quotedName(job.database), false);
        if (use.status != SqlOutcome::Ok) {
            batch.append(use);
            endWith(use.status == SqlOutcome::Stopped ? SqlRunEnd::Stopped : SqlRunEnd::Failed, use.error);
            return;
        }
    }

    if (job.kind == SqlJob::Profile) {
        runProfile(job, &batch);
        const SqlOutcome& o = batch.last();
        endWith(o.status == SqlOutcome::Ok ? SqlRunEnd::Completed
                : o.status == SqlOutcome::Stopped ? SqlRunEnd::Stopped : SqlRunEnd::Failed,
                o.error);
        return;
    }

    QString prefix;
    if (job.kind == SqlJob::Explain || job.kind == SqlJob::Analyzer)
        prefix = QStringLiteral("EXPLAIN ");
    else if (job.kind == SqlJob::JsonExplain)
        prefix = QStringLiteral("EXPLAIN FORMAT=JSON ");
    const bool stopOnFailure = job.kind != SqlJob::Execute;

    int kept = 0;
    for (int i = 0; i < job.statements.size(); ++i) {
        const QString& statement = job.statements.at(i);
        if (statement.trimmed().isEmpty())
            continue;
        SqlOutcome o = runOne(prefix + statement, kept < job.keepResults);
        o.index = i;
        if (o.hasResult)
            ++kept;
        batch.append(o);
        if (o.status == SqlOutcome::Stopped) {
            endWith(SqlRunEnd::Stopped, QString());
            return;
        }
        if (o.status == SqlOutcome::Failed && (stopOnFailure || !open)) {
            endWith(SqlRunEnd::Failed, o.error);
            return;
        }
        if (sinceBatch.elapsed() >= batchMs)
            flush();
    }
    endWith(SqlRunEnd::Completed, QString());
}

void SqlWorker::killStatement(const std::shared_ptr<SqlRunControl>& control, quint64 target)
{
    const QString connName = DbConnection::uniqueName(QStringLiteral("sql-stop"));
    {
        QSqlDatabase db = DbConnection::open(control->params.withOptions(killTimeouts), connName);
        for (int attempt = 0; db.isOpen() && attempt < 25; ++attempt) {
            quint64 id;
            {
                QMutexLocker lock(&control->mutex);
                if (control->executing != target || control->connectionId == 0)
                    break;
                id = control->connectionId;
            }
            QSqlQuery q(db);
            q.exec(QStringLiteral("KILL QUERY ") + QString::number(id));
            // Give the statement time to end before asking again.
            for (int wait = 0; wait < 10; ++wait) {
                QThread::msleep(20);
                QMutexLocker lock(&control->mutex);
                if (control->executing != target)
                    break;
            }
        }
    }
    DbConnection::close(connName);
}
