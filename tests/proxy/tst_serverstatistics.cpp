// Arithmetic of the statistics poll: uptime text, rates between polls and the
// command table, without a server.
#include "ServerStatistics.h"

#include <QtTest>

using namespace ServerStatistics;

namespace {
/// Rates of the last of `polls` (one snapshot each: Queries, Com_select/update/insert/delete,
/// Threads_connected, Bytes_sent/received; -1: the variable was not there) as
/// "all SELECT UPDATE INSERT DELETE other | statements threads KiB/s-sent KiB/s-received".
QString rates(const QList<QList<qint64>>& polls, int period)
{
    Snapshot prev, reference;
    Rates r;
    for (const QList<qint64>& values : polls) {
        Snapshot s;
        for (int i = 0; i < values.size(); ++i)
            if (values[i] >= 0)
                s[i] = reference[i] = values[i];
        r = computeRates(&prev, s, period);
        // what the next poll measures from; never a negative rate
        if (prev != reference || *std::min_element(r.params.begin(), r.params.end()) < 0)
            return QStringLiteral("wrong reference or negative rate");
    }
    QStringList out;
    for (double v : r.params + QList<double>{-1} + r.paramsGraph)
        out << (v < 0 ? QStringLiteral("|") : QString::number(v));
    return out.join(' ') + QStringLiteral(" statements ") + QString::number(r.statements);
}

/// The command table as "name|value|per hour|per second|percent" rows.
QStringList table(const QList<QPair<QString, qint64>>& counters, qint64 uptime)
{
    QStringList out;
    for (const CommandRow& r : commandTable(counters, uptime))
        out << QStringLiteral("%1|%2|%3|%4|%5").arg(r.name).arg(r.value).arg(r.perHour, 0, 'g', 12)
                   .arg(r.perSecond, 0, 'g', 12).arg(r.percent);
    return out;
}
} // namespace

class TestServerStatistics : public QObject
{
    Q_OBJECT
private slots:
    void uptimeAndPeriods()
    {
        const auto uptime = [](qint64 seconds) { int d = -1; QTime t; splitUptime(seconds, &d, &t); return uptimeText(d, t); };
        QCOMPARE(uptime(0), QStringLiteral("0 days 00:00"));
        QCOMPARE(uptime(86399), QStringLiteral("0 days 23:59"));
        QCOMPARE(uptime(90061), QStringLiteral("1 day 01:01"));
        QCOMPARE(uptime(400 * 86400 + 15 * 3600 + 4 * 60), QStringLiteral("400 days 15:04"));
        // a period of 0 polls every second; a day at most
        QCOMPARE(pollPeriod(0), 1);
        QCOMPARE(pollPeriod(4000000000u), 86400);
        QCOMPARE(flowRates({30, 12, 6, 3, 0, 9}, 3), (QList<double>{10, 4, 2, 1, 0, 3}));
        QCOMPARE(flowRates({5, 5, 0, 0, 0, 0}, 0), (QList<double>{5, 5, 0, 0, 0, 0}));
    }

    void ratesBetweenPolls()
    {
        // the first poll has no reference: threads only
        QCOMPARE(rates({{1000, 400, 100, 50, 20, 7, 900000, 80000}}, 3), QStringLiteral("0 0 0 0 0 0 | 0 7 0 0 statements 0"));
        QCOMPARE(rates({{1000, 400, 100, 50, 20, 7, 900000, 80000}, {1500, 650, 150, 100, 20, 9, 910240, 85120}}, 5),
                 QStringLiteral("100 50 10 10 0 30 | 500 9 2 1 statements 500"));
        // a restarted server reports smaller counters: no negative rates, the next poll measures from them
        QCOMPARE(rates({{5000, 3000, 10, 10, 10, 4, 100000, 100000}, {40, 10, 1, 1, 1, 2, 5000, 4000}}, 1),
                 QStringLiteral("0 0 0 0 0 0 | 0 2 0 0 statements 0"));
        QCOMPARE(rates({{5000, 3000, 10, 10, 10, 4, 100000, 100000}, {40, 10, 1, 1, 1, 2, 5000, 4000},
                        {60, 20, 1, 1, 1, 2, 7048, 4000}}, 1),
                 QStringLiteral("20 10 0 0 0 10 | 20 2 2 0 statements 20"));
        // a fresh server has run no UPDATE yet: the five of the next period still count
        QCOMPARE(rates({{50, 10, 0, 0, 0, 1, 0, 0}, {60, 15, 5, 0, 0, 1, 2048, 1024}}, 1),
                 QStringLiteral("10 5 5 0 0 0 | 10 1 2 1 statements 10"));
        // without Com_update and Bytes_sent their elements are left out, their references kept
        const QList<qint64> all{100, 50, 10, 10, 10, 1, 1000, 1000}, missing{110, 55, -1, 10, 10, 3, -1, 1000};
        QCOMPARE(rates({all, missing}, 1), QStringLiteral("10 5 0 0 5 | 10 3 0 statements 10"));
        QCOMPARE(rates({all, missing, {120, 55, 12, 10, 10, 3, 3048, 1000}}, 1),
                 QStringLiteral("10 0 2 0 0 8 | 10 3 2 0 statements 10"));
    }

    void commandTableRates()
    {
        QCOMPARE(table({{"Com_select", 7200}, {"Com_insert", 100}, {"Com_admin_commands", 0}}, 7200),
                 (QStringList{"select|7200|3600|1|99", "insert|100|50|0|1", "admin_commands|0|0|0|0"}));
        // one decimal, rounded down; percentages rounded half up
        QCOMPARE(table({{"Com_set_option", 1000}}, 7), QStringList{"set_option|1000|514285.7|142.8|100"});
        QCOMPARE(table({{"Com_a", 1}, {"Com_b", 3}, {"Com_c", 4}}, 100),
                 (QStringList{"a|1|36|0|13", "b|3|108|0|38", "c|4|144|0|50"}));
        // no uptime, no command: no division by zero
        QCOMPARE(table({{"Com_select", 5}}, 0), QStringList{"select|5|0|0|100"});
        QCOMPARE(table({{"Com_select", 0}}, 10), QStringList{"select|0|0|0|0"});
    }
};

QTEST_APPLESS_MAIN(TestServerStatistics)
#include "tst_serverstatistics.moc"
