#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

/// Durations counted in buckets on a logarithmic scale: bucket i holds the
/// values from Min·Ratio^i up to Min·Ratio^(i+1) ms, so a percentile read
/// from it is within 1% of the exact one. Only the buckets from the lowest to
/// the highest one used are stored. Plain value; not thread-safe.
class LogHistogram
{
public:
    static constexpr double Min = 0.001;   ///< ms; shorter durations share one bucket below the scale
    static constexpr double Ratio = 1.02;
    static constexpr int MaxBucket = 2047; ///< longer durations share the last bucket

    void add(double ms);
    void merge(const LogHistogram& other);
    quint64 count() const { return total; }
    /// The nearest-rank percentile `p` (0 < p <= 100) in ms, kept within
    /// [lowest, highest] value added; 0 when empty.
    double percentile(double p) const;
    /// Bytes held outside the object.
    size_t heapBytes() const { return counts.capacity() * sizeof(quint32); }

private:
    static int bucketOf(double ms);
    std::vector<quint32> counts;  ///< buckets first .. first + size - 1
    int first = 0;
    quint32 below = 0;            ///< values under Min
    quint64 total = 0;
    double lowest = 0, highest = 0;
};

/// One captured statement as the statistics take it. Plain value.
struct PatternSample
{
    QString text;              ///< the statement
    double durationMs = 0;
    quint64 rows = 0;
    double kbReceived = 0;
    bool error = false;
    QDateTime finishedAt;      ///< when the answer came
    quint64 session = 0;       ///< session number
    QString db;                ///< the database in use
};

struct Query;

/// A captured statement of session `session` as the statistics take it.
PatternSample patternSample(const Query& q, quint64 session);

/// Figures per key (a statement pattern, or a table name), accumulated as
/// the statements arrive: count, time, percentiles, rows, KiB, errors, first
/// and last seen, and the slowest statement. At most `maxKeys` keys are kept;
/// when a new key comes at the limit, the least recently seen key is folded
/// into one "other" entry, which keeps its counts. Not thread-safe: one
/// owner (the session manager, in the GUI thread).
class PatternStats
{
public:
    struct Entry
    {
        QString key;
        quint64 count = 0;
        double totalMs = 0;
        double maxMs = 0;
        quint64 rows = 0;
        double kbReceived = 0;
        quint64 errors = 0;
        /// When the first and the latest counted statement were answered
        /// (statements are counted as they arrive: no time is converted or
        /// compared per statement).
        QDateTime firstSeen;
        QDateTime lastSeen;
        LogHistogram durations;
        PatternSample slowest;     ///< the statement with the longest duration
        QStringList tables;        ///< set by the owner (the tables a pattern names)
        quint64 changedAt = 0;     ///< stamp() of the last change
        int newer = -1, older = -1;  ///< neighbours in the order of last use

        double meanMs() const { return count ? totalMs / double(count) : 0.0; }
        double meanRows() const { return count ? double(rows) / double(count) : 0.0; }
        void add(const PatternSample& s);
        void merge(const Entry& other);
    };

    explicit PatternStats(int maxKeys = 10000);

    /// Counts `s` under `key`; returns the key's slot and sets `*isNew` when
    /// the key was not kept before.
    int add(const QString& key, const PatternSample& s, bool* isNew = nullptr);

    int maxKeys() const { return limit; }
    /// Slots 0 .. size() - 1 each hold one kept key; a slot is reused for a
    /// new key when its key is folded into "other".
    int size() const { return int(entries.size()); }
    const Entry& at(int slot) const { return entries[size_t(slot)]; }
    Entry& at(int slot) { return entries[size_t(slot)]; }
    /// Slot of `key`, -1 when it is not kept.
    int slotOf(const QString& key) const { return index.value(key, -1); }

    /// The keys folded away; count 0 while none was.
    const Entry& other() const { return folded; }
    /// How many keys were folded into other().
    quint64 foldedKeys() const { return foldedCount; }

    /// Statements counted, in every entry and in other().
    quint64 statements() const { return statementCount; }
    double totalMs() const { return allMs; }
    /// Grows with every change; entries changed since a stamp have a larger changedAt.
    quint64 stamp() const { return changes; }

    /// Kept slots ordered by total time, the largest first, at most `limit` (all when < 0).
    std::vector<int> byTotalTime(int limit = -1) const;

    /// Bytes held: entries, histograms, keys and samples not shared, the index.
    size_t memoryBytes() const;

    void clear();

private:
    void touch(int slot);
    void unlink(int slot);

    int limit;
    std::vector<Entry> entries;
    QHash<QString, int> index;
    Entry folded;
    quint64 foldedCount = 0;
    quint64 statementCount = 0;
    double allMs = 0;
    quint64 changes = 0;
    int newest = -1, oldest = -1;
};

/// The statistics of the statements captured since start: by pattern, and by
/// the tables each pattern names. Fed with each batch of statements in the
/// GUI thread; computes the pattern of each statement. Not thread-safe.
class StatementPatterns
{
public:
    explicit StatementPatterns(int maxPatterns = 10000) : patterns(maxPatterns), tables(maxPatterns) {}
    PatternStats patterns;
    PatternStats tables;

    /// Counts `s` under its pattern and under every table the pattern
    /// names; returns those tables.
    const QStringList& add(const PatternSample& s);
    void clear();
};
