#include "CaptureReport.h"

#include "SessionData.h"

#include <QLocale>

#include <algorithm>
#include <vector>

namespace {
QString number(double v, int decimals)
{
    return QLocale::c().toString(v, 'f', decimals);
}
} // namespace

QString CaptureReport::oneLine(const QString& text)
{
    QString out;
    out.reserve(text.size());
    bool blank = false;
    for (const QChar c : text) {
        if (c.isSpace()) {
            blank = true;
            continue;
        }
        if (blank && !out.isEmpty())
            out += QLatin1Char(' ');
        blank = false;
        out += c;
    }
    return out;
}

QString CaptureReport::sessionNumber(quint64 id)
{
    return QueryLog::paddedId(id);
}

QString CaptureReport::statementLine(const CapturedStatement& s)
{
    const QChar tab = QLatin1Char('\t');
    return s.finishedAt.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) + tab + sessionNumber(s.session) + tab
           + oneLine(s.user) + tab + oneLine(s.database) + tab + number(s.durationMs, 3) + tab
           + QString::number(s.rows) + tab + number(s.kbReceived, 3) + tab + number(s.kbSent, 3) + tab
           + (s.error ? QLatin1Char('1') : QLatin1Char('0')) + tab + oneLine(s.text);
}

void CaptureReport::addStatement(const CapturedStatement& s)
{
    ++statementCount;
    if (s.error)
        ++errorCount;
    totalMs += s.durationMs;
    const QString key = oneLine(s.text);
    if (byText.size() >= maxTexts && !byText.contains(key))
        letGoRareTexts();
    Entry& e = byText[key];
    if (e.count == 0)
        e.text = key;
    ++e.count;
    e.totalMs += s.durationMs;
}

void CaptureReport::letGoRareTexts()
{
    std::vector<qint64> counts;
    counts.reserve(size_t(byText.size()));
    for (const Entry& e : qAsConst(byText))
        counts.push_back(e.count);
    const auto median = counts.begin() + counts.size() / 2;
    std::nth_element(counts.begin(), median, counts.end());
    const qint64 cut = *median;
    cutTotal += cut;
    for (auto it = byText.begin(); it != byText.end();) {
        if (it->count > cut) {
            ++it;
            continue;
        }
        ++letGoTexts;
        letGoStatements += it->count;
        it = byText.erase(it);
    }
}

double CaptureReport::meanDurationMs() const
{
    return statementCount > 0 ? totalMs / double(statementCount) : 0.0;
}

QList<CaptureReport::Entry> CaptureReport::top(int limit) const
{
    QList<Entry> all = byText.values();
    const auto before = [](const Entry& a, const Entry& b) {
        if (a.count != b.count)
            return a.count > b.count;
        if (a.totalMs != b.totalMs)
            return a.totalMs > b.totalMs;
        return a.text < b.text;
    };
    if (limit < all.size()) {
        std::partial_sort(all.begin(), all.begin() + limit, all.end(), before);
        all = all.mid(0, limit);
    } else {
        std::sort(all.begin(), all.end(), before);
    }
    return all;
}

QString CaptureReport::summary() const
{
    QString out;
    out += QStringLiteral("# summary\n");
    out += QStringLiteral("# sessions\t%1\n").arg(sessionCount);
    out += QStringLiteral("# statements\t%1\n").arg(statementCount);
    out += QStringLiteral("# errors\t%1\n").arg(errorCount);
    out += QStringLiteral("# mean duration ms\t%1\n").arg(number(meanDurationMs(), 3));
    if (!archivePath.isEmpty()) {
        out += QStringLiteral("# archived sessions\t%1\t%2\n").arg(archivedCount).arg(archivePath);
        if (archiveFailures > 0)
            out += QStringLiteral("# sessions not archived\t%1\n").arg(archiveFailures);
    }
    if (letGoTexts > 0)
        out += QStringLiteral("# rarely seen texts let go\t%1 texts\t%2 statements\ta count below may be short by up to %3\n")
                   .arg(letGoTexts).arg(letGoStatements).arg(cutTotal);
    const QList<Entry> entries = top(10);
    out += QStringLiteral("# most frequent statements: count\ttotal ms\tmean ms\tstatement\n");
    for (const Entry& e : entries)
        out += QString::number(e.count) + QLatin1Char('\t') + number(e.totalMs, 3) + QLatin1Char('\t')
               + number(e.totalMs / double(e.count), 3) + QLatin1Char('\t') + e.text + QLatin1Char('\n');
    return out;
}
