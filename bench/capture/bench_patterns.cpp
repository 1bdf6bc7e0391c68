// Prints the throughput of the statement fingerprint on one core (typical
// statements of an OLTP application, each with its own values), the cost of
// counting a statement into the pattern statistics (fingerprint, lookup,
// percentile histogram, tables), and the memory those statistics hold for
// 10 000 patterns.
//
//   bench_patterns [statements, default 400000]
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <random>
#include <time.h>

#include "Fingerprint.h"
#include "PatternStats.h"

namespace {

QStringList typicalStatements(int n, std::mt19937_64& rng)
{
    const auto id = [&]() { return QString::number(rng() % 100000 + 1); };
    const auto text = [&]() { return QString::number(rng(), 16).repeated(3); };
    QStringList out;
    out.reserve(n);
    for (int i = 0; i < n; ++i) {
        const int t = QString::number(rng() % 16 + 1).toInt();
        switch (i % 8) {
        case 0: out << "SELECT c FROM sbtest" + QString::number(t) + " WHERE id=" + id(); break;
        case 1: out << "SELECT DISTINCT c FROM sbtest" + QString::number(t) + " WHERE id BETWEEN " + id() + " AND " + id() + " ORDER BY c"; break;
        case 2: out << "SELECT SUM(k) FROM sbtest" + QString::number(t) + " WHERE id BETWEEN " + id() + " AND " + id(); break;
        case 3: out << "UPDATE sbtest" + QString::number(t) + " SET c='" + text() + "' WHERE id=" + id(); break;
        case 4: out << "INSERT INTO sbtest" + QString::number(t) + " (id, k, c, pad) VALUES (" + id() + ", " + id() + ", '" + text() + "', '" + text() + "')"; break;
        case 5: out << "select o.id, o.total from orders o join customers c on c.id = o.customer_id where c.email = '" + text() + "@example.com' and o.created_at > '2026-01-0" + QString::number(t % 9 + 1) + "' limit 20"; break;
        case 6: out << "SELECT * FROM items WHERE id IN (" + id() + ", " + id() + ", " + id() + ", " + id() + ")"; break;
        default: out << "DELETE FROM sbtest" + QString::number(t) + " WHERE id=" + id(); break;
        }
    }
    return out;
}

/// CPU time of this thread in seconds: the machine may be shared, and the
/// figure is what one core does.
double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

long rssKb()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? QByteArray(argv[1]).toInt() : 400000;
    QTextStream out(stdout);
    std::mt19937_64 rng(5);
    const QStringList statements = typicalStatements(n, rng);
    qint64 chars = 0;
    for (const QString& s : statements)
        chars += s.size();

    // fingerprint alone, best of three passes
    double best = 1e30;
    qint64 checksum = 0;
    for (int pass = 0; pass < 3; ++pass) {
        const double t0 = cpuSeconds();
        for (const QString& s : statements)
            checksum += Fingerprint::of(s).size();
        best = qMin(best, cpuSeconds() - t0);
    }
    out << "fingerprint: " << n << " statements, mean " << double(chars) / n << " characters\n";
    out << QString("  %1 million statements/s (%2 MB of text/s), one core\n")
               .arg(n / best / 1e6, 0, 'f', 2)
               .arg(double(chars) * 2 / best / 1e6, 0, 'f', 0);

    // the whole count per statement: pattern, lookup, histogram, tables
    StatementPatterns sp;
    PatternSample sample;
    const double t0 = cpuSeconds();
    for (int i = 0; i < n; ++i) {
        sample.text = statements.at(i);
        sample.durationMs = std::lognormal_distribution<double>(-1.5, 1.0)(rng);
        sp.add(sample);
    }
    const double counted = cpuSeconds() - t0;
    out << QString("pattern statistics: %1 million statements/s counted (%2 us each), %3 patterns, %4 tables\n")
               .arg(n / counted / 1e6, 0, 'f', 2)
               .arg(counted / n * 1e6, 0, 'f', 2)
               .arg(sp.patterns.size())
               .arg(sp.tables.size());

    // memory for 10 000 patterns, 100 statements each
    const long before = rssKb();
    {
        PatternStats stats(10000);
        for (int round = 0; round < 100; ++round)
            for (int p = 0; p < 10000; ++p) {
                sample.text = "SELECT c, pad FROM orders_" + QString::number(p) + " WHERE id = " + QString::number(rng() % 100000);
                sample.durationMs = std::lognormal_distribution<double>(-1.0, 1.2)(rng);
                stats.add("SELECT c, pad FROM orders_" + QString::number(p) + " WHERE id = ?", sample);
            }
        const long after = rssKb();
        out << QString("10 000 patterns x 100 statements: %1 MB counted by the statistics (%2 bytes per pattern), "
                       "resident memory grew %3 MB\n")
                   .arg(double(stats.memoryBytes()) / 1e6, 0, 'f', 1)
                   .arg(stats.memoryBytes() / 10000)
                   .arg(double(after - before) / 1e3, 0, 'f', 1);
    }
    out << "(checksum " << checksum << ")\n";
    return 0;
}
