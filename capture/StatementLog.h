#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <deque>
#include <iterator>
#include <limits>
#include <memory>
#include <vector>

/// One captured statement as its readers see it: a plain value, made from
/// the compact log on each read.
struct Query
{
    QString text;              ///< the statement, decoded with the session's codec at capture time
    double durationMs = 0.0;   ///< from the first request byte to the forwarded answer, in ms
    float shareOfTotal = 0.0f; ///< percent of the session's total statement time
    int percentOfMax = 0;      ///< percent of the session's slowest statement, rounded (halves up)
    unsigned int rows = 0;     ///< rows returned
    float responseKb = 0.0f;   ///< KiB of row data returned
    float requestKb = 0.0f;    ///< KiB of statement sent
    QString dbName;            ///< the session's current database when the statement was recorded
    bool isError = false;      ///< the server answered with an error packet
    QDateTime finishedAt;      ///< when the answer was decoded
};

/// Bytes held by every statement log that reports to it; the session
/// manager keeps its logs within a budget with it. GUI thread only.
struct MemoryLedger
{
    qint64 bytes = 0;
};

/// Statement texts stored once each, as UTF-8, in large blocks; a text is
/// kept while some statement refers to it. Ids are small numbers.
/// Not thread-safe: one owner.
class TextPool
{
public:
    TextPool();
    ~TextPool();
    TextPool(const TextPool&) = delete;
    TextPool& operator=(const TextPool&) = delete;

    /// The id of `utf8`, stored when it is new; the caller holds one reference.
    quint32 intern(const QByteArray& utf8);
    /// Drops one reference; the text goes when none is left.
    void unref(quint32 id);
    /// Forgets every text and frees all room.
    void clear();
    QString text(quint32 id) const;
    /// Number of distinct texts held.
    int count() const { return live; }
    /// Bytes held: blocks, index and hash table.
    qint64 bytes() const;

private:
    struct Entry
    {
        quint32 block;  ///< block number; for a free entry, the next free entry + 1
        quint32 offset; ///< start of the text's length prefix in its block
        quint32 refs;   ///< 0 for a free entry
    };
    const char* at(const Entry& e, quint32* length) const;
    quint32 hashOf(const char* data, quint32 length) const;
    quint32 findSlot(const char* data, quint32 length, quint32 hash) const;
    void grow();
    void removeFromTable(quint32 id);
    quint32 store(const char* data, quint32 length);
    void dropBlock(quint32 block);

    std::vector<std::unique_ptr<char[]>> blocks;
    std::vector<quint32> blockSize;   ///< bytes of each block
    std::vector<quint32> blockTexts;  ///< texts still living in each block
    qint64 current = -1;              ///< block appended to (-1 none yet); its used bytes in `used`
    quint32 used = 0;
    qint64 blockTotal = 0;            ///< bytes of the blocks held
    std::vector<Entry> entries;
    quint32 freeEntry = 0;            ///< first free entry + 1; 0 when none
    std::vector<quint32> table;       ///< open addressing: entry + 1, 0 empty
    int live = 0;
};

/// The ordered statement log of one session, compact: per statement a
/// fixed-size record of packed numbers and the id of its text in the log's
/// TextPool. Statements are numbered from 0 in the order they were logged;
/// the oldest ones may be released (to stay within a memory budget), after
/// which positions below released() hold nothing, while size() still counts
/// every statement ever logged. The error count is kept over every statement.
///
/// A live session's log works each statement's share of the total time and
/// its percent of the slowest statement out when it is read, from the
/// session's running figures (followRatings()); other logs keep the values
/// appended. GUI thread only (or one owner).
class StatementLog
{
public:
    StatementLog();
    ~StatementLog();
    StatementLog(const StatementLog&) = delete;
    StatementLog& operator=(const StatementLog&) = delete;

    /// Every statement logged, released ones included.
    int size() const { return int(first + keptCount); }
    int count() const { return size(); }
    bool isEmpty() const { return size() == 0; }
    /// The statements released from the front.
    int released() const { return int(first); }
    /// The statements still held.
    int kept() const { return int(keptCount); }
    bool isKept(int i) const { return i >= int(first) && i < size(); }
    /// Statements logged with the error flag, released ones included.
    int errors() const { return errorCount; }

    /// The statement at `i`; an empty Query when it is not kept.
    /// The statement at `i`; `finishedAt` in `zone` (UTC avoids working out
    /// the local time, which costs microseconds per statement).
    Query at(int i, Qt::TimeSpec zone = Qt::LocalTime) const;
    /// The numbers of the statement at `i` (duration, shares, rows, KiB, error
    /// flag) without its text, database or finish time: what counters and
    /// number columns read, at a fraction of the cost of at().
    Query figures(int i) const;
    QString text(int i) const;
    QString dbName(int i) const;
    double durationMs(int i) const;
    bool isError(int i) const;

    void append(const Query& q);
    /// Overwrites the percent of the slowest statement of a statement kept
    /// (logs that do not follow a session's figures).
    void setPercentOfMax(int i, int percent);

    /// From now on shares and percents are worked out from `*totalMs` (sum of
    /// the durations) and `*maxMs` (slowest so far, at least 1 ms); both must
    /// outlive the log.
    void followRatings(const double* totalMs, const double* maxMs);

    /// Releases the oldest statements until at least `bytes` are freed or
    /// nothing is kept; returns the bytes freed.
    qint64 releaseBytes(qint64 bytes);
    /// Releases every statement before position `end`.
    void releaseBefore(int end);
    /// Bytes held by the log.
    qint64 bytes() const { return held; }
    /// Reports the log's bytes (now and every change) to `ledger`, which
    /// must outlive the log or be detached with nullptr.
    void setLedger(std::shared_ptr<MemoryLedger> ledger);

    /// Kept statements, oldest first, as values.
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Query;
        using difference_type = int;
        using pointer = const Query*;
        using reference = Query;
        const_iterator(const StatementLog* log, int i) : log(log), i(i) {}
        Query operator*() const { return log->at(i); }
        const_iterator& operator++()
        {
            ++i;
            return *this;
        }
        bool operator!=(const const_iterator& o) const { return i != o.i; }
        bool operator==(const const_iterator& o) const { return i == o.i; }

    private:
        const StatementLog* log;
        int i;
    };
    const_iterator begin() const { return const_iterator(this, released()); }
    const_iterator end() const { return const_iterator(this, size()); }

    /// Bytes of one statement's record.
    static int recordBytes();

private:
#pragma pack(push, 4)
    struct Record
    {
        double durationMs;
        qint64 finishedAtMs; ///< ms since the epoch; `invalidTime` when unknown
        quint32 text;
        quint32 rows;
        float responseKb;
        float requestKb;
        quint16 db;
        quint8 percentOfMax;
        quint8 isError;
    };
#pragma pack(pop)
    static constexpr int ChunkRecords = 1024;
    static constexpr qint64 invalidTime = std::numeric_limits<qint64>::min();

    const Record* record(int i) const;
    Record* record(int i) { return const_cast<Record*>(static_cast<const StatementLog*>(this)->record(i)); }
    float shareOf(int i, const Record& r) const;
    int percentOf(const Record& r) const;
    quint16 dbIndex(const QString& db);
    void account();

    std::deque<std::unique_ptr<Record[]>> chunks; ///< chunks.front() holds position firstChunk * ChunkRecords
    quint32 firstChunk = 0;
    quint32 first = 0;  ///< released statements
    quint32 keptCount = 0; ///< kept statements
    int errorCount = 0;
    TextPool texts;
    QStringList dbNames;
    int lastDb = -1;
    std::deque<float> shares; ///< shares appended, for logs that do not follow a session (from `first`)
    const double* totalMs = nullptr;
    const double* maxMs = nullptr;
    qint64 held = 0;
    std::shared_ptr<MemoryLedger> ledger;
};
