// Statistics per statement pattern: percentiles against exact values, the
// figures of one pattern, folding of the least recently seen patterns, and
// tables counted from the patterns.
#include <QtTest>

#include "PatternStats.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {
PatternSample sample(double ms, qint64 at, quint64 session = 1, const QString& text = QString())
{
    return PatternSample{text, ms, quint64(at % 3), 0.5, at % 4 == 0, QDateTime::fromMSecsSinceEpoch(at, Qt::UTC), session, {}};
}
} // namespace

class TstPatternStats : public QObject
{
    Q_OBJECT
private slots:
    void percentiles_data()
    {
        QTest::addColumn<QVector<double>>("values");
        std::mt19937_64 rng(11);
        const auto draw = [&](int n, auto dist) {
            QVector<double> v(n);
            std::generate(v.begin(), v.end(), [&] { return dist(rng); });
            return v;
        };
        QTest::newRow("uniform") << draw(20000, std::uniform_real_distribution<double>(0.01, 100.0));
        QTest::newRow("log-normal") << draw(20000, std::lognormal_distribution<double>(-1.0, 1.5));
        QTest::newRow("heavy tail") << draw(20000, [](std::mt19937_64& r) {
            return 0.05 / std::pow(1.0 - std::uniform_real_distribution<double>(0.0, 0.999)(r), 1.2);
        });
        QTest::newRow("two modes") << draw(5001, [](std::mt19937_64& r) {
            return r() % 10 < 9 ? 0.2 + double(r() % 100) / 1000.0 : 800.0 + double(r() % 400);
        });
        QTest::newRow("zeros, sub-microsecond") << draw(3000, [](std::mt19937_64& r) { return r() % 3 ? double(r() % 5000) / 1e6 : 0.0; });
        QTest::newRow("one value") << QVector<double>{4.2};
        QTest::newRow("beyond the scale") << QVector<double>{1e9, 2e9, 5e9};
    }

    void percentiles()
    {
        QFETCH(QVector<double>, values);
        LogHistogram h, half1, half2;
        for (int i = 0; i < values.size(); ++i) {
            h.add(values[i]);
            (i % 2 ? half1 : half2).add(values[i]);
        }
        half1.merge(half2);
        std::sort(values.begin(), values.end());
        for (double p : {0.1, 1.0, 50.0, 90.0, 95.0, 99.0, 99.9, 100.0}) {
            const double exact = values[int(std::max(1.0, std::ceil(p / 100.0 * values.size()))) - 1], got = h.percentile(p);
            // below the scale's first bucket only the lowest value can be told
            QVERIFY2(std::abs(got - exact) <= (exact < LogHistogram::Min ? LogHistogram::Min : exact * 0.01),
                     qPrintable(QString("p%1: %2 against exact %3").arg(p).arg(got).arg(exact)));
            QCOMPARE(half1.percentile(p), got);
        }
        QCOMPARE(h.count(), quint64(values.size()));
    }

    void figuresOfOnePattern()
    {
        PatternStats stats;
        const double ms[] = {2.0, 9.5, 0.5, 4.0};
        for (int i = 0; i < 4; ++i)
            stats.add("P", sample(ms[i], 100 + i, 10 + quint64(i), "statement " + QString::number(i)));
        const PatternStats::Entry& e = stats.at(stats.slotOf("P"));
        // count, total, mean, max, slowest and its session, rows, errors (the one at 100), KiB, seen, p100, p1
        QCOMPARE(QVariantList({e.count, e.totalMs, e.meanMs(), e.maxMs, e.slowest.text, e.slowest.session, e.rows, e.errors,
                               e.kbReceived, e.firstSeen.toMSecsSinceEpoch(), e.lastSeen.toMSecsSinceEpoch(),
                               e.durations.percentile(100), e.durations.percentile(1)}),
                 QVariantList({4ull, 16.0, 4.0, 9.5, "statement 1", 11ull, 4ull, 1ull, 2.0, 100ll, 103ll, 9.5, 0.5}));
    }

    void leastRecentFoldedIntoOther()
    {
        PatternStats stats(3);
        for (const auto& [key, ms] : {std::pair{"a", 1.0}, {"b", 2.0}, {"b", 3.0}, {"c", 4.0}, {"a", 5.0}}) // a now newer than b
            stats.add(key, sample(ms, qint64(ms)));
        bool isNew = false;
        stats.add("d", sample(6.5, 6), &isNew);
        QVERIFY(isNew && stats.size() == 3 && stats.slotOf("b") == -1);
        QCOMPARE(QVariantList({stats.foldedKeys(), stats.other().count, stats.other().totalMs}), QVariantList({1ull, 2ull, 5.0}));
        stats.add("e", sample(7, 7)); // c goes next
        QVERIFY(stats.slotOf("c") == -1 && stats.other().count == 3 && stats.other().maxMs == 4.0);
        // nothing is lost: every statement is in a kept pattern or in "other"
        quint64 kept = stats.other().count;
        double keptMs = stats.other().totalMs;
        for (int i = 0; i < stats.size(); ++i) {
            kept += stats.at(i).count;
            keptMs += stats.at(i).totalMs;
        }
        QVERIFY(kept == stats.statements() && keptMs == stats.totalMs() && stats.at(stats.slotOf("a")).count == 2);
        const std::vector<int> top = stats.byTotalTime(2);
        QCOMPARE(stats.at(top[0]).key + stats.at(top[1]).key, QString("ed"));
    }

    void patternsAndTables()
    {
        StatementPatterns sp;
        for (const auto& [ms, text] : {std::pair{1.0, "SELECT c FROM sbtest1 WHERE id=5021"}, {3.0, "select c from sbtest1 where id = 7"},
                                       {2.0, "SELECT c FROM sbtest1 WHERE id=?"}, {4.0, "UPDATE sbtest2 SET k=k+1 WHERE id=3"},
                                       {8.0, "INSERT INTO sbtest2 SELECT * FROM sbtest1"}})
            sp.add(sample(ms, 1, 1, text));
        // spacing tells two forms of the select apart
        QCOMPARE(sp.patterns.size(), 4);
        QCOMPARE(sp.patterns.at(sp.patterns.slotOf("SELECT c FROM sbtest1 WHERE id=?")).count, 2ull);
        QCOMPARE(sp.patterns.at(sp.patterns.slotOf("SELECT c FROM sbtest1 WHERE id = ?")).count, 1ull);
        const PatternStats::Entry &t1 = sp.tables.at(sp.tables.slotOf("sbtest1")), &t2 = sp.tables.at(sp.tables.slotOf("sbtest2"));
        QCOMPARE(QVariantList({t1.count, t1.totalMs, t2.totalMs}), QVariantList({4ull, 14.0, 12.0}));
    }
};

QTEST_APPLESS_MAIN(TstPatternStats)
#include "tst_patternstats.moc"
