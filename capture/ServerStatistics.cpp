#include "ServerStatistics.h"

#include <cmath>

namespace ServerStatistics {

QStringList statusNames()
{
    return {QStringLiteral("Queries"),           QStringLiteral("Com_select"), QStringLiteral("Com_update"),
            QStringLiteral("Com_insert"),        QStringLiteral("Com_delete"), QStringLiteral("Threads_connected"),
            QStringLiteral("Bytes_sent"),        QStringLiteral("Bytes_received")};
}

int pollPeriod(quint32 statusPeriod)
{
    return statusPeriod < 1 ? 1 : int(qMin<quint32>(statusPeriod, 24u * 3600u));
}

void splitUptime(qint64 seconds, int* days, QTime* time)
{
    if (seconds < 0)
        seconds = 0;
    *days = int(seconds / 86400);
    *time = QTime(0, 0).addSecs(int(seconds % 86400));
}

QString uptimeText(int days, const QTime& time)
{
    return QString::number(days) + (days == 1 ? QStringLiteral(" day ") : QStringLiteral(" days "))
           + time.toString(QStringLiteral("hh:mm"));
}

qint64 counterDelta(std::optional<qint64> previous, qint64 value)
{
    if (!previous || value < *previous)
        return 0;
    return value - *previous;
}

Rates computeRates(Snapshot* previous, const Snapshot& snapshot, int period)
{
    const double p = period < 1 ? 1.0 : double(period);
    Rates r;
    qint64 known = 0;
    for (int i = Queries; i <= ComDelete; ++i) {
        if (!snapshot[i])
            continue;
        const qint64 d = counterDelta((*previous)[i], *snapshot[i]);
        r.params.append(double(d) / p);
        if (i == Queries)
            r.statements = d;
        else
            known += d;
        (*previous)[i] = *snapshot[i];
    }
    r.params.append(double(r.statements - known) / p);

    r.paramsGraph.append(double(r.statements));
    for (int i = ThreadsConnected; i <= BytesReceived; ++i) {
        if (!snapshot[i])
            continue;
        const qint64 value = *snapshot[i];
        if (i == ThreadsConnected)
            r.paramsGraph.append(double(value));
        else
            r.paramsGraph.append(double(counterDelta((*previous)[i], value)) / 1024.0 / p);
        (*previous)[i] = value;
    }
    return r;
}

QList<double> flowRates(const QList<int>& groupCounters, int period)
{
    const double p = period < 1 ? 1.0 : double(period);
    QList<double> out;
    out.reserve(groupCounters.size());
    for (int c : groupCounters)
        out.append(double(c) / p);
    return out;
}

QList<CommandRow> commandTable(const QList<QPair<QString, qint64>>& counters, qint64 uptime)
{
    QList<CommandRow> rows;
    rows.reserve(counters.size());
    qint64 total = 0;
    for (const auto& c : counters) {
        CommandRow row;
        row.name = c.first.mid(4);
        row.value = c.second;
        if (uptime > 0) {
            row.perHour = std::floor(double(c.second) / (double(uptime) / 3600.0) * 10.0) / 10.0;
            row.perSecond = std::floor(double(c.second) / double(uptime) * 10.0) / 10.0;
        }
        total += c.second;
        rows.append(row);
    }
    for (CommandRow& row : rows)
        row.percent = total > 0 ? int(std::floor(double(row.value) / double(total) * 100.0 + 0.5)) : 0;
    return rows;
}

} // namespace ServerStatistics
