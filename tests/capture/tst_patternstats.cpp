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
    PatternSample s;
    s.text = text;
    s.durationMs = ms;
    s.rows = quint64(at % 3);
    s.kbReceived = 0.5;
    s.error = at % 4 == 0;
    s.finishedAt = QDateTime::fromMSecsSinceEpoch(at, Qt::UTC);
    s.session = session;
    return s;
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
            for (double& x : v)
                x = dist(rng);
            return v;
        };
        QTest::newRow("uniform") << draw(20000, std::uniform_real_distribution<double>(0.01, 100.0));
        QTest::newRow("log-normal") << draw(20000, std::lognormal_distribution<double>(-1.0, 1.5));
        // most statements fast, a few very slow
        QTest::newRow("heavy tail") << draw(20000, [](std::mt19937_64& r) {
            return 0.05 / std::pow(1.0 - std::uniform_real_distribution<double>(0.0, 0.999)(r), 1.2);
        });
        QTest::newRow("two modes") << draw(5001, [](std::mt19937_64& r) {
            return r() % 10 < 9 ? 0.2 + double(r() % 100) / 1000.0 : 800.0 + double(r() % 400);
        });
        QTest::newRow("with zeros and sub-microsecond") << draw(3000, [](std::mt19937_64& r) {
            return r() % 3 == 0 ? 0.0 : double(r() % 5000) / 1e6;
        });
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
        std::vector<double> sorted(values.begin(), values.end());
        std::sort(sorted.begin(), sorted.end());
        for (double p : {0.1, 1.0, 50.0, 90.0, 95.0, 99.0, 99.9, 100.0}) {
            const size_t rank = size_t(std::max(1.0, std::ceil(p / 100.0 * double(sorted.size()))));
            const double exact = sorted[rank - 1];
            const double got = h.percentile(p);
            // below the scale's first bucket only the lowest value can be told
            const double tolerance = exact < LogHistogram::Min ? LogHistogram::Min : exact * 0.01;
            QVERIFY2(std::abs(got - exact) <= tolerance,
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
        QCOMPARE(e.count, quint64(4));
        QCOMPARE(e.totalMs, 16.0);
        QCOMPARE(e.meanMs(), 4.0);
        QCOMPARE(e.maxMs, 9.5);
        QCOMPARE(e.slowest.text, QString("statement 1"));
        QCOMPARE(e.slowest.session, quint64(11));
        QCOMPARE(e.rows, quint64(1 + 2 + 0 + 1));
        QCOMPARE(e.errors, quint64(1));   // the one at 100
        QCOMPARE(e.kbReceived, 2.0);
        QCOMPARE(e.firstSeen.toMSecsSinceEpoch(), qint64(100));
        QCOMPARE(e.lastSeen.toMSecsSinceEpoch(), qint64(103));
        QCOMPARE(e.durations.percentile(100), 9.5);
        QCOMPARE(e.durations.percentile(1), 0.5);
    }

    void leastRecentFoldedIntoOther()
    {
        PatternStats stats(3);
        stats.add("a", sample(1, 1));
        stats.add("b", sample(2, 2));
        stats.add("b", sample(3, 3));
        stats.add("c", sample(4, 4));
        stats.add("a", sample(5, 5));   // a is now more recent than b
        bool isNew = false;
        stats.add("d", sample(6.5, 6), &isNew);
        QVERIFY(isNew);
        QCOMPARE(stats.size(), 3);
        QCOMPARE(stats.slotOf("b"), -1);
        QCOMPARE(stats.foldedKeys(), quint64(1));
        QCOMPARE(stats.other().count, quint64(2));
        QCOMPARE(stats.other().totalMs, 5.0);
        stats.add("e", sample(7, 7));   // c goes next
        QCOMPARE(stats.slotOf("c"), -1);
        QCOMPARE(stats.other().count, quint64(3));
        QCOMPARE(stats.other().maxMs, 4.0);
        // nothing is lost: every statement is in a kept pattern or in "other"
        quint64 kept = 0;
        double keptMs = 0;
        for (int i = 0; i < stats.size(); ++i) {
            kept += stats.at(i).count;
            keptMs += stats.at(i).totalMs;
        }
        QCOMPARE(kept + stats.other().count, stats.statements());
        QCOMPARE(keptMs + stats.other().totalMs, stats.totalMs());
        QCOMPARE(stats.at(stats.slotOf("a")).count, quint64(2));
        const std::vector<int> top = stats.byTotalTime(2);
        QCOMPARE(stats.at(top[0]).key, QString("e"));
        QCOMPARE(stats.at(top[1]).key, QString("d"));
    }

    void patternsAndTables()
    {
        StatementPatterns sp;
        sp.add(sample(1.0, 1, 1, "SELECT c FROM sbtest1 WHERE id=5021"));
        sp.add(sample(3.0, 2, 2, "select c from sbtest1 where id = 7"));
        sp.add(sample(2.0, 3, 1, "SELECT c FROM sbtest1 WHERE id=?"));
        sp.add(sample(4.0, 4, 1, "UPDATE sbtest2 SET k=k+1 WHERE id=3"));
        sp.add(sample(8.0, 5, 1, "INSERT INTO sbtest2 SELECT * FROM sbtest1"));
        QCOMPARE(sp.patterns.size(), 4);   // spacing tells two forms of the select apart
        QCOMPARE(sp.patterns.at(sp.patterns.slotOf("SELECT c FROM sbtest1 WHERE id=?")).count, quint64(2));
        QCOMPARE(sp.patterns.at(sp.patterns.slotOf("SELECT c FROM sbtest1 WHERE id = ?")).count, quint64(1));
        const PatternStats::Entry& t1 = sp.tables.at(sp.tables.slotOf("sbtest1"));
        QCOMPARE(t1.count, quint64(4));
        QCOMPARE(t1.totalMs, 14.0);
        QCOMPARE(sp.tables.at(sp.tables.slotOf("sbtest2")).totalMs, 12.0);
    }
};

QTEST_APPLESS_MAIN(TstPatternStats)
#include "tst_patternstats.moc"
