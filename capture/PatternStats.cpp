#include "PatternStats.h"

#include "Fingerprint.h"
#include "SessionData.h"

#include <algorithm>
#include <cmath>

// ---- LogHistogram

int LogHistogram::bucketOf(double ms)
{
    static const double scale = 1.0 / std::log(Ratio);
    const int i = int(std::log(ms / Min) * scale);
    return qBound(0, i, MaxBucket);
}

void LogHistogram::add(double ms)
{
    if (total == 0) {
        lowest = highest = ms;
    } else {
        lowest = qMin(lowest, ms);
        highest = qMax(highest, ms);
    }
    ++total;
    if (!(ms >= Min)) {
        ++below;
        return;
    }
    const int i = bucketOf(ms);
    if (counts.empty()) {
        first = i;
        counts.assign(1, 0);
    } else if (i < first) {
        counts.insert(counts.begin(), size_t(first - i), 0);
        first = i;
    } else if (i >= first + int(counts.size())) {
        counts.resize(size_t(i - first + 1), 0);
    }
    ++counts[size_t(i - first)];
}

void LogHistogram::merge(const LogHistogram& o)
{
    if (o.total == 0)
        return;
    if (total == 0) {
        *this = o;
        return;
    }
    lowest = qMin(lowest, o.lowest);
    highest = qMax(highest, o.highest);
    total += o.total;
    below += o.below;
    if (o.counts.empty())
        return;
    if (counts.empty()) {
        counts = o.counts;
        first = o.first;
        return;
    }
    const int lo = qMin(first, o.first);
    const int hi = qMax(first + int(counts.size()), o.first + int(o.counts.size()));
    std::vector<quint32> merged(size_t(hi - lo), 0);
    for (size_t k = 0; k < counts.size(); ++k)
        merged[size_t(first - lo) + k] += counts[k];
    for (size_t k = 0; k < o.counts.size(); ++k)
        merged[size_t(o.first - lo) + k] += o.counts[k];
    counts.swap(merged);
    first = lo;
}

double LogHistogram::percentile(double p) const
{
    if (total == 0)
        return 0.0;
    const quint64 rank = qMax<quint64>(1, quint64(std::ceil(p / 100.0 * double(total))));
    if (rank <= below || rank == 1)
        return lowest;
    if (rank >= total)
        return highest;
    quint64 seen = below;
    for (size_t k = 0; k < counts.size(); ++k) {
        seen += counts[k];
        if (seen >= rank) {
            // the value that errs least across the bucket, either way
            const double lo = Min * std::pow(Ratio, double(first + int(k)));
            const double hi = lo * Ratio;
            return qBound(lowest, 2.0 * lo * hi / (lo + hi), highest);
        }
    }
    return highest;
}

PatternSample patternSample(const Query& q, quint64 session)
{
    PatternSample s;
    s.text = q.text;
    s.durationMs = q.durationMs;
    s.rows = q.rows;
    s.kbReceived = q.responseKb;
    s.error = q.isError;
    s.finishedAt = q.finishedAt;
    s.session = session;
    s.db = q.dbName;
    return s;
}

// ---- PatternStats::Entry

void PatternStats::Entry::add(const PatternSample& s)
{
    if (count == 0 || s.durationMs > maxMs) {
        maxMs = s.durationMs;
        slowest = s;
    }
    if (count == 0)
        firstSeen = s.finishedAt;
    lastSeen = s.finishedAt;
    ++count;
    totalMs += s.durationMs;
    rows += s.rows;
    kbReceived += s.kbReceived;
    errors += s.error ? 1 : 0;
    durations.add(s.durationMs);
}

void PatternStats::Entry::merge(const Entry& o)
{
    if (o.count == 0)
        return;
    if (count == 0 || o.maxMs > maxMs) {
        maxMs = o.maxMs;
        slowest = o.slowest;
    }
    if (count == 0 || o.firstSeen < firstSeen)
        firstSeen = o.firstSeen;
    if (count == 0 || lastSeen < o.lastSeen)
        lastSeen = o.lastSeen;
    count += o.count;
    totalMs += o.totalMs;
    rows += o.rows;
    kbReceived += o.kbReceived;
    errors += o.errors;
    durations.merge(o.durations);
}

// ---- PatternStats

PatternStats::PatternStats(int maxKeys) : limit(qMax(1, maxKeys))
{
}

void PatternStats::unlink(int slot)
{
    Entry& e = entries[size_t(slot)];
    if (e.newer >= 0)
        entries[size_t(e.newer)].older = e.older;
    else
        newest = e.older;
    if (e.older >= 0)
        entries[size_t(e.older)].newer = e.newer;
    else
        oldest = e.newer;
    e.newer = e.older = -1;
}

void PatternStats::touch(int slot)
{
    if (newest == slot)
        return;
    Entry& e = entries[size_t(slot)];
    if (e.newer >= 0 || e.older >= 0 || oldest == slot)
        unlink(slot);
    e.older = newest;
    e.newer = -1;
    if (newest >= 0)
        entries[size_t(newest)].newer = slot;
    newest = slot;
    if (oldest < 0)
        oldest = slot;
}

int PatternStats::add(const QString& key, const PatternSample& s, bool* isNew)
{
    ++statementCount;
    allMs += s.durationMs;
    ++changes;
    int slot = index.value(key, -1);
    if (isNew)
        *isNew = slot < 0;
    if (slot < 0) {
        if (int(entries.size()) < limit) {
            slot = int(entries.size());
            entries.emplace_back();
        } else {
            // fold the least recently seen key into "other" and reuse its slot
            slot = oldest;
            unlink(slot);
            folded.merge(entries[size_t(slot)]);
            folded.changedAt = changes;
            ++foldedCount;
            index.remove(entries[size_t(slot)].key);
            entries[size_t(slot)] = Entry();
        }
        QString& kept = entries[size_t(slot)].key;
        kept = key;
        kept.squeeze();   // patterns come in buffers with room to spare
        index.insert(kept, slot);
    }
    Entry& e = entries[size_t(slot)];
    e.add(s);
    e.changedAt = changes;
    touch(slot);
    return slot;
}

std::vector<int> PatternStats::byTotalTime(int max) const
{
    std::vector<int> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    const auto larger = [this](int a, int b) {
        const Entry& x = entries[size_t(a)];
        const Entry& y = entries[size_t(b)];
        return x.totalMs != y.totalMs ? x.totalMs > y.totalMs : x.key < y.key;
    };
    if (max >= 0 && size_t(max) < order.size()) {
        std::partial_sort(order.begin(), order.begin() + max, order.end(), larger);
        order.resize(size_t(max));
    } else {
        std::sort(order.begin(), order.end(), larger);
    }
    return order;
}

size_t PatternStats::memoryBytes() const
{
    const auto text = [](const QString& s) { return size_t(s.capacity()) * 2 + 24; };
    size_t bytes = sizeof(*this) + entries.capacity() * sizeof(Entry);
    for (const Entry& e : entries) {
        bytes += e.durations.heapBytes() + text(e.key) + text(e.slowest.text) + text(e.slowest.db);
        for (const QString& t : e.tables)
            bytes += text(t) + sizeof(void*);
    }
    // QHash: a node per key (hash, next, key, value) and the bucket array
    bytes += size_t(index.size()) * (sizeof(void*) * 2 + sizeof(QString) + sizeof(int) + 8)
             + size_t(index.capacity()) * sizeof(void*);
    return bytes + folded.durations.heapBytes();
}

void PatternStats::clear()
{
    entries.clear();
    index.clear();
    folded = Entry();
    foldedCount = statementCount = 0;
    allMs = 0;
    ++changes;
    newest = oldest = -1;
}

// ---- StatementPatterns

const QStringList& StatementPatterns::add(const PatternSample& s)
{
    bool isNew = false;
    const int slot = patterns.add(Fingerprint::of(s.text), s, &isNew);
    PatternStats::Entry& e = patterns.at(slot);
    if (isNew)
        e.tables = Fingerprint::tables(e.key);
    for (const QString& t : qAsConst(e.tables))
        tables.add(t, s);
    return e.tables;
}

void StatementPatterns::clear()
{
    patterns.clear();
    tables.clear();
}
