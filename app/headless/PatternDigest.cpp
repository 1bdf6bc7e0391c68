#include "PatternDigest.h"

#include "CaptureReport.h"
#include "PatternStats.h"

#include <QLocale>

namespace {

QString number(double v, int decimals = 3)
{
    return QLocale::c().toString(v, 'f', decimals);
}

QString when(const QDateTime& t)
{
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

/// Rows to print: the top slots, then "other" (slot -1) when anything was folded.
std::vector<int> rowsOf(const PatternStats& stats, int top)
{
    std::vector<int> rows = stats.byTotalTime(qMax(0, top));
    if (stats.other().count > 0)
        rows.push_back(-1);
    return rows;
}

const PatternStats::Entry& entryOf(const PatternStats& stats, int slot)
{
    return slot < 0 ? stats.other() : stats.at(slot);
}

QString share(const PatternStats& stats, const PatternStats::Entry& e)
{
    return number(stats.totalMs() > 0 ? e.totalMs / stats.totalMs() * 100.0 : 0.0, 1);
}

} // namespace

namespace PatternDigest {

QString text(const PatternStats& stats, int top)
{
    QString out;
    out += QStringLiteral("# patterns: %1 statements in %2 patterns, %3 ms in all; the top %4 by total time\n")
               .arg(stats.statements())
               .arg(quint64(stats.size()) + stats.foldedKeys())
               .arg(number(stats.totalMs()))
               .arg(qMin(top, stats.size()));
    int rank = 0;
    for (int slot : rowsOf(stats, top)) {
        const PatternStats::Entry& e = entryOf(stats, slot);
        const QString pattern = slot < 0 ? QStringLiteral("(%1 patterns seen least recently, folded together)")
                                                 .arg(stats.foldedKeys())
                                         : CaptureReport::oneLine(e.key);
        out += QStringLiteral("\n%1  %2 ms total (%3%), %4 statements\n")
                   .arg(slot < 0 ? QStringLiteral("other") : QLatin1Char('#') + QString::number(++rank))
                   .arg(number(e.totalMs), share(stats, e))
                   .arg(e.count);
        out += QStringLiteral("    %1\n").arg(pattern);
        out += QStringLiteral("    time ms   mean %1  p50 %2  p95 %3  p99 %4  max %5\n")
                   .arg(number(e.meanMs()), number(e.durations.percentile(50)), number(e.durations.percentile(95)),
                        number(e.durations.percentile(99)), number(e.maxMs));
        out += QStringLiteral("    rows      %1 (mean %2)   received %3 KiB   errors %4\n")
                   .arg(e.rows)
                   .arg(number(e.meanRows(), 1), number(e.kbReceived, 1))
                   .arg(e.errors);
        out += QStringLiteral("    seen      %1 to %2\n").arg(when(e.firstSeen), when(e.lastSeen));
        QString sample = CaptureReport::oneLine(e.slowest.text);
        if (sample.size() > 200)
            sample = sample.left(200) + QStringLiteral("...");
        out += QStringLiteral("    slowest   session %1, %2 ms: %3\n")
                   .arg(CaptureReport::sessionNumber(e.slowest.session), number(e.maxMs), sample);
    }
    return out;
}

QString tsv(const PatternStats& stats, int top)
{
    QString out = QStringLiteral(
        "rank\tcount\ttotal_ms\tshare_pct\tmean_ms\tp50_ms\tp95_ms\tp99_ms\tmax_ms\trows\trows_mean\tkib_received\t"
        "errors\tfirst_seen\tlast_seen\tslowest_session\tslowest_database\tpattern\tslowest_statement\n");
    int rank = 0;
    const QChar tab = QLatin1Char('\t');
    for (int slot : rowsOf(stats, top)) {
        const PatternStats::Entry& e = entryOf(stats, slot);
        out += (slot < 0 ? QStringLiteral("other") : QString::number(++rank)) + tab + QString::number(e.count) + tab
               + number(e.totalMs) + tab + share(stats, e) + tab + number(e.meanMs()) + tab
               + number(e.durations.percentile(50)) + tab + number(e.durations.percentile(95)) + tab
               + number(e.durations.percentile(99)) + tab + number(e.maxMs) + tab + QString::number(e.rows) + tab
               + number(e.meanRows()) + tab + number(e.kbReceived) + tab + QString::number(e.errors) + tab
               + when(e.firstSeen) + tab + when(e.lastSeen) + tab + CaptureReport::sessionNumber(e.slowest.session)
               + tab + CaptureReport::oneLine(e.slowest.db) + tab
               + (slot < 0 ? QString() : CaptureReport::oneLine(e.key)) + tab
               + CaptureReport::oneLine(e.slowest.text) + QLatin1Char('\n');
    }
    return out;
}

} // namespace PatternDigest
