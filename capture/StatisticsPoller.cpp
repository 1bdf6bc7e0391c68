#include "StatisticsPoller.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace {
QString statusStatement(const QString& pattern)
{
    return QStringLiteral("SHOW /*!50002 GLOBAL */ STATUS LIKE '") + pattern + QLatin1Char('\'');
}

/// A forward-only query on connection `name`.
QSqlQuery queryOn(const QString& name)
{
    QSqlQuery q(QSqlDatabase::database(name, false));
    q.setForwardOnly(true);
    return q;
}
} // namespace

StatisticsPoller::StatisticsPoller(int period, QObject* parent)
    : QObject(parent), name(DbConnection::uniqueName(QStringLiteral("a"))), period(qMax(1, period))
{
    qRegisterMetaType<StatisticsOpen>("StatisticsOpen");
    qRegisterMetaType<StatisticsPoll>("StatisticsPoll");
}

StatisticsPoller::~StatisticsPoller()
{
    closeConnection();
}

void StatisticsPoller::closeConnection()
{
    DbConnection::close(name);
}

void StatisticsPoller::open(const DbConnectionParams& params, bool readVersion)
{
    closeConnection();
    StatisticsOpen result;
    result.ok = DbConnection::open(params.withOptions(DbConnection::ShortTimeouts), name, &result.error).isOpen();
    if (result.ok) {
        QSqlQuery q = queryOn(name);
        if (readVersion) {
            if (q.exec(QStringLiteral("SELECT VERSION()")) && q.next())
                result.version = q.value(0).toString();
            if (q.exec(QStringLiteral("SHOW VARIABLES LIKE \"version_compile_os\"")) && q.next())
                result.version += QStringLiteral(" (") + q.value(1).toString() + QLatin1Char(')');
        }
        if (q.exec(QStringLiteral("SELECT CONNECTION_ID()")) && q.next())
            result.connectionId = q.value(0).toLongLong();
    }
    emit opened(result);
}

bool StatisticsPoller::statusValue(const QString& variable, std::optional<qint64>* value, QString* error)
{
    QSqlQuery q = queryOn(name);
    if (!q.exec(statusStatement(variable))) {
        *error = q.lastError().text();
        return false;
    }
    if (q.next())
        *value = q.value(1).toLongLong();
    return true;
}

void StatisticsPoller::poll()
{
    using namespace ServerStatistics;
    static const QStringList names = statusNames();
    StatisticsPoll out;
    const auto failed = [&]() {
        out.ok = false;
        emit polled(out);
    };

    // Uptime; without a row the previous days and time stay.
    std::optional<qint64> uptimeValue;
    if (!statusValue(QStringLiteral("Uptime"), &uptimeValue, &out.error))
        return failed();
    const qint64 uptime = uptimeValue.value_or(0);
    if (uptimeValue)
        splitUptime(uptime, &uptimeDays, &uptimeTime);

    Snapshot snapshot;
    for (int i = Queries; i <= ComDelete; ++i)
        if (!statusValue(names[i], &snapshot[i], &out.error))
            return failed();

    QSqlQuery q = queryOn(name);
    if (!q.exec(statusStatement(QStringLiteral("com_%")))) {
        out.error = q.lastError().text();
        return failed();
    }
    QList<QPair<QString, qint64>> counters;
    while (q.next())
        counters.append({q.value(0).toString(), q.value(1).toLongLong()});

    for (int i = ThreadsConnected; i <= BytesReceived; ++i)
        if (!statusValue(names[i], &snapshot[i], &out.error))
            return failed();

    // Every essential statement succeeded: only now are the counters consumed.
    out.ok = true;
    out.uptime = uptimeText(uptimeDays, uptimeTime);
    out.rates = computeRates(&previous, snapshot, period);
    out.commands = commandTable(counters, uptime);

    // The process list and the open tables are optional.
    out.processListRead = q.exec(QStringLiteral("SHOW FULL PROCESSLIST"));
    while (out.processListRead && q.next())
        out.processes.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                              q.value(3).toString(), q.value(4).toString(), q.value(5).toLongLong(),
                              q.value(7).toString()});

    if (q.exec(QStringLiteral("SHOW OPEN TABLES"))) {
        const QSqlRecord rec = q.record();
        int dbCol = rec.indexOf(QStringLiteral("Database"));
        int tableCol = rec.indexOf(QStringLiteral("Table"));
        if (dbCol < 0)
            dbCol = 0;
        if (tableCol < 0)
            tableCol = 1;
        while (q.next())
            out.openTables.append({q.value(dbCol).toString(), q.value(tableCol).toString()});
    }
    emit polled(out);
}
