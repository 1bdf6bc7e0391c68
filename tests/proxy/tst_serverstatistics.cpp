// Arithmetic of the statistics poll: uptime text, rates between polls and the
// command table, without a server.
#include "ServerStatistics.h"

#include <QtTest>

using namespace ServerStatistics;

namespace {
Snapshot snapshot(std::initializer_list<qint64> values)
{
    Snapshot s;
    int i = 0;
    for (qint64 v : values)
        s[i++] = v;
    return s;
}
} // namespace

class TestServerStatistics : public QObject
{
    Q_OBJECT
private slots:
    void uptime_data();
    void uptime();
    void period();
    void firstPollIsZeroButThreads();
    void ratesOverPeriod();
    void otherRate();
    void counterThatWentDown();
    void counterThatWasZero();
    void missingVariableLeavesElementOut();
    void flow();
    void commandTableRates();
    void commandTableWithoutUptime();
    void commandTablePercentRounding();
};

void TestServerStatistics::uptime_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<int>("days");
    QTest::addColumn<QString>("text");
    QTest::newRow("one day") << qint64(90061) << 1 << "1 day 01:01";
    QTest::newRow("two days") << qint64(172800) << 2 << "2 days 00:00";
    QTest::newRow("zero days") << qint64(3599) << 0 << "0 days 00:59";
    QTest::newRow("nothing") << qint64(0) << 0 << "0 days 00:00";
    QTest::newRow("just below a day") << qint64(86399) << 0 << "0 days 23:59";
    QTest::newRow("long") << qint64(400 * 86400 + 15 * 3600 + 4 * 60) << 400 << "400 days 15:04";
}

void TestServerStatistics::uptime()
{
    QFETCH(qint64, seconds);
    QFETCH(int, days);
    QFETCH(QString, text);
    int d = -1;
    QTime t;
    splitUptime(seconds, &d, &t);
    QCOMPARE(d, days);
    QCOMPARE(uptimeText(d, t), text);
}

void TestServerStatistics::period()
{
    QCOMPARE(pollPeriod(0), 1);
    QCOMPARE(pollPeriod(1), 1);
    QCOMPARE(pollPeriod(3), 3);
    QCOMPARE(pollPeriod(86400), 86400);
    QCOMPARE(pollPeriod(4000000000u), 86400);
}

void TestServerStatistics::firstPollIsZeroButThreads()
{
    Snapshot prev; // nothing known yet
    const Rates r = computeRates(&prev, snapshot({1000, 400, 100, 50, 20, 7, 900000, 80000}), 3);
    QCOMPARE(r.params, (QList<double>{0, 0, 0, 0, 0, 0}));
    QCOMPARE(r.paramsGraph, (QList<double>{0, 7, 0, 0}));
    QCOMPARE(r.statements, qint64(0));
    // the values become the reference of the next poll
    QCOMPARE(prev, snapshot({1000, 400, 100, 50, 20, 7, 900000, 80000}));
}

void TestServerStatistics::ratesOverPeriod()
{
    Snapshot prev = snapshot({1000, 400, 100, 50, 20, 7, 900000, 80000});
    // 500 more statements within a period of 5 s; 10 KiB sent, 5 KiB received
    const Rates r = computeRates(&prev, snapshot({1500, 650, 150, 100, 20, 9, 900000 + 10240, 80000 + 5120}), 5);
    QCOMPARE(r.params.size(), 6);
    QCOMPARE(r.params[0], 100.0);
    QCOMPARE(r.params[1], 50.0);
    QCOMPARE(r.params[2], 10.0);
    QCOMPARE(r.params[3], 10.0);
    QCOMPARE(r.params[4], 0.0);
    QCOMPARE(r.params[5], (500.0 - 250 - 50 - 50) / 5);
    QCOMPARE(r.paramsGraph, (QList<double>{500, 9, 2.0, 1.0}));
    QCOMPARE(r.statements, qint64(500));
}

void TestServerStatistics::otherRate()
{
    // 10 SELECT and 5 UPDATE within one second, Queries 15 higher: other is 0
    Snapshot prev = snapshot({100, 10, 10, 10, 10, 1, 1, 1});
    const Rates r = computeRates(&prev, snapshot({115, 20, 15, 10, 10, 1, 1, 1}), 1);
    QCOMPARE(r.params, (QList<double>{15, 10, 5, 0, 0, 0}));
}

void TestServerStatistics::counterThatWentDown()
{
    // a restarted server reports smaller counters: no negative rates
    Snapshot prev = snapshot({5000, 3000, 10, 10, 10, 4, 100000, 100000});
    const Rates r = computeRates(&prev, snapshot({40, 10, 1, 1, 1, 2, 5000, 4000}), 1);
    for (double v : r.params)
        QVERIFY2(v >= 0, qPrintable(QString::number(v)));
    QCOMPARE(r.paramsGraph, (QList<double>{0, 2, 0, 0}));
    // and the next poll measures from the new values
    const Rates next = computeRates(&prev, snapshot({60, 20, 1, 1, 1, 2, 5000 + 2048, 4000}), 1);
    QCOMPARE(next.params[0], 20.0);
    QCOMPARE(next.params[1], 10.0);
    QCOMPARE(next.paramsGraph[2], 2.0);
}

void TestServerStatistics::counterThatWasZero()
{
    // a fresh server has run no UPDATE yet: the five of the next period still count
    Snapshot prev;
    computeRates(&prev, snapshot({50, 10, 0, 0, 0, 1, 0, 0}), 1);
    const Rates r = computeRates(&prev, snapshot({60, 15, 5, 0, 0, 1, 2048, 1024}), 1);
    QCOMPARE(r.params, (QList<double>{10, 5, 5, 0, 0, 0}));
    QCOMPARE(r.paramsGraph, (QList<double>{10, 1, 2, 1}));
}

void TestServerStatistics::missingVariableLeavesElementOut()
{
    Snapshot prev = snapshot({100, 50, 10, 10, 10, 1, 1000, 1000});
    Snapshot s = snapshot({110, 55, 10, 10, 10, 3, 3048, 1000});
    s[ComUpdate].reset();
    s[BytesSent].reset();
    const Rates r = computeRates(&prev, s, 1);
    // all, SELECT, INSERT, DELETE, other
    QCOMPARE(r.params, (QList<double>{10, 5, 0, 0, 5}));
    QCOMPARE(r.paramsGraph, (QList<double>{10, 3, 0}));
    QCOMPARE(*prev[ComUpdate], qint64(10));
    QCOMPARE(*prev[BytesSent], qint64(1000));
}

void TestServerStatistics::flow()
{
    QCOMPARE(flowRates({30, 12, 6, 3, 0, 9}, 3), (QList<double>{10, 4, 2, 1, 0, 3}));
    QCOMPARE(flowRates({5, 5, 0, 0, 0, 0}, 0), (QList<double>{5, 5, 0, 0, 0, 0}));
}

void TestServerStatistics::commandTableRates()
{
    const QList<CommandRow> rows =
        commandTable({{QStringLiteral("Com_select"), 7200}, {QStringLiteral("Com_insert"), 100},
                      {QStringLiteral("Com_admin_commands"), 0}},
                     7200);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].name, QStringLiteral("select"));
    QCOMPARE(rows[0].value, qint64(7200));
    QCOMPARE(rows[0].perHour, 3600.0);
    QCOMPARE(rows[0].perSecond, 1.0);
    QCOMPARE(rows[1].name, QStringLiteral("insert"));
    QCOMPARE(rows[1].perHour, 50.0);
    // 100 / 7200 = 0.0138...: one decimal rounded down
    QCOMPARE(rows[1].perSecond, 0.0);
    QCOMPARE(rows[2].name, QStringLiteral("admin_commands"));
    QCOMPARE(rows[0].percent, 99);
    QCOMPARE(rows[1].percent, 1);
    QCOMPARE(rows[2].percent, 0);

    // 1000 in 7 seconds: 142.857.../s reads 142.8, 514285.7/h
    const QList<CommandRow> r2 = commandTable({{QStringLiteral("Com_set_option"), 1000}}, 7);
    QCOMPARE(r2[0].perSecond, 142.8);
    QCOMPARE(r2[0].perHour, 514285.7);
    QCOMPARE(r2[0].percent, 100);
}

void TestServerStatistics::commandTableWithoutUptime()
{
    const QList<CommandRow> rows = commandTable({{QStringLiteral("Com_select"), 5}}, 0);
    QCOMPARE(rows[0].perHour, 0.0);
    QCOMPARE(rows[0].perSecond, 0.0);
    QVERIFY(std::isfinite(rows[0].perHour));
    QCOMPARE(rows[0].percent, 100);
    // no command at all: no division by zero in the percentages
    const QList<CommandRow> zero = commandTable({{QStringLiteral("Com_select"), 0}}, 10);
    QCOMPARE(zero[0].percent, 0);
}

void TestServerStatistics::commandTablePercentRounding()
{
    // 1 of 8 = 12.5 % rounds up to 13; 3 of 8 = 37.5 % to 38
    const QList<CommandRow> rows = commandTable(
        {{QStringLiteral("Com_a"), 1}, {QStringLiteral("Com_b"), 3}, {QStringLiteral("Com_c"), 4}}, 100);
    QCOMPARE(rows[0].percent, 13);
    QCOMPARE(rows[1].percent, 38);
    QCOMPARE(rows[2].percent, 50);
}

QTEST_APPLESS_MAIN(TestServerStatistics)
#include "tst_serverstatistics.moc"
