#include "StatementLog.h"

#include <QHash>

#include <cmath>
#include <cstring>

namespace {

constexpr quint32 BlockBytes = 64 * 1024;
/// Texts longer than this get a block of their own, freed with the text.
constexpr quint32 OwnBlockBytes = 16 * 1024;

int roundHalfUp(double v)
{
    return int(std::floor(v + 0.5));
}

int prefixBytes(quint32 length)
{
    int n = 1;
    while (length >= 0x80) {
        length >>= 7;
        ++n;
    }
    return n;
}

} // namespace

// ---- TextPool --------------------------------------------------------------

TextPool::TextPool() = default;
TextPool::~TextPool() = default;

const char* TextPool::at(const Entry& e, quint32* length) const
{
    const char* p = blocks[e.block].get() + e.offset;
    quint32 len = 0;
    int shift = 0;
    for (;;) {
        const auto b = quint8(*p++);
        len |= quint32(b & 0x7f) << shift;
        if (!(b & 0x80))
            break;
        shift += 7;
    }
    *length = len;
    return p;
}

quint32 TextPool::hashOf(const char* data, quint32 length) const
{
    return quint32(qHashBits(data, length, 0x5bd1e995u));
}

quint32 TextPool::findSlot(const char* data, quint32 length, quint32 hash) const
{
    const quint32 mask = quint32(table.size() - 1);
    quint32 i = hash & mask;
    while (const quint32 slot = table[i]) {
        quint32 len = 0;
        const char* p = at(entries[slot - 1], &len);
        if (len == length && std::memcmp(p, data, length) == 0)
            return i;
        i = (i + 1) & mask;
    }
    return i;
}

void TextPool::grow()
{
    std::vector<quint32> old;
    old.swap(table);
    table.assign(old.empty() ? 1024 : old.size() * 2, 0);
    const quint32 mask = quint32(table.size() - 1);
    for (quint32 slot : old) {
        if (!slot)
            continue;
        quint32 len = 0;
        const char* p = at(entries[slot - 1], &len);
        quint32 i = hashOf(p, len) & mask;
        while (table[i])
            i = (i + 1) & mask;
        table[i] = slot;
    }
}

quint32 TextPool::store(const char* data, quint32 length)
{
    const quint32 need = quint32(prefixBytes(length)) + length;
    quint32 block;
    quint32 offset = 0;
    if (need > OwnBlockBytes) {
        block = quint32(blocks.size());
        blocks.emplace_back(new char[need]);
        blockSize.push_back(need);
        blockTexts.push_back(0);
        blockTotal += need;
    } else {
        if (current < 0 || used + need > BlockBytes) {
            if (current >= 0 && blockTexts[size_t(current)] == 0)
                dropBlock(quint32(current));
            current = qint64(blocks.size());
            blocks.emplace_back(new char[BlockBytes]);
            blockSize.push_back(BlockBytes);
            blockTexts.push_back(0);
            blockTotal += BlockBytes;
            used = 0;
        }
        block = quint32(current);
        offset = used;
        used += need;
    }
    char* p = blocks[block].get() + offset;
    quint32 len = length;
    while (len >= 0x80) {
        *p++ = char((len & 0x7f) | 0x80);
        len >>= 7;
    }
    *p++ = char(len);
    std::memcpy(p, data, length);
    ++blockTexts[block];

    quint32 id;
    if (freeEntry) {
        id = freeEntry - 1;
        freeEntry = entries[id].block;
        entries[id] = Entry{block, offset, 1};
    } else {
        id = quint32(entries.size());
        entries.push_back(Entry{block, offset, 1});
    }
    return id;
}

quint32 TextPool::intern(const QByteArray& utf8)
{
    if ((quint64(live) + 1) * 4 > quint64(table.size()) * 3)
        grow();
    const auto length = quint32(utf8.size());
    const quint32 slot = findSlot(utf8.constData(), length, hashOf(utf8.constData(), length));
    if (table[slot]) {
        ++entries[table[slot] - 1].refs;
        return table[slot] - 1;
    }
    const quint32 id = store(utf8.constData(), length);
    table[slot] = id + 1;
    ++live;
    return id;
}

void TextPool::removeFromTable(quint32 id)
{
    const quint32 mask = quint32(table.size() - 1);
    quint32 len = 0;
    const char* p = at(entries[id], &len);
    quint32 i = hashOf(p, len) & mask;
    while (table[i] != id + 1)
        i = (i + 1) & mask;
    // Backward shift: later entries of the probe run move up into the hole.
    table[i] = 0;
    quint32 j = i;
    for (;;) {
        j = (j + 1) & mask;
        if (!table[j])
            break;
        const char* q = at(entries[table[j] - 1], &len);
        const quint32 home = hashOf(q, len) & mask;
        const bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
        if (!stays) {
            table[i] = table[j];
            table[j] = 0;
            i = j;
        }
    }
}

void TextPool::unref(quint32 id)
{
    Entry& e = entries[id];
    if (--e.refs > 0)
        return;
    removeFromTable(id);
    const quint32 block = e.block;
    if (--blockTexts[block] == 0 && qint64(block) != current)
        dropBlock(block);
    e.block = freeEntry;
    freeEntry = id + 1;
    --live;
}

QString TextPool::text(quint32 id) const
{
    quint32 len = 0;
    const char* p = at(entries[id], &len);
    return QString::fromUtf8(p, int(len));
}

void TextPool::clear()
{
    std::vector<std::unique_ptr<char[]>>().swap(blocks);
    std::vector<quint32>().swap(blockSize);
    std::vector<quint32>().swap(blockTexts);
    current = -1;
    used = 0;
    blockTotal = 0;
    std::vector<Entry>().swap(entries);
    freeEntry = 0;
    std::vector<quint32>().swap(table);
    live = 0;
}

void TextPool::dropBlock(quint32 block)
{
    blockTotal -= blockSize[block];
    blocks[block].reset();
    blockSize[block] = 0;
}

qint64 TextPool::bytes() const
{
    return blockTotal + qint64(table.capacity()) * 4 + qint64(entries.capacity()) * qint64(sizeof(Entry))
           + qint64(blocks.capacity()) * 16;
}

// ---- StatementLog ----------------------------------------------------------

StatementLog::StatementLog() = default;

StatementLog::~StatementLog()
{
    setLedger(nullptr);
}

int StatementLog::recordBytes()
{
    return int(sizeof(Record));
}

const StatementLog::Record* StatementLog::record(int i) const
{
    const quint32 pos = quint32(i) - firstChunk * ChunkRecords;
    return &chunks[pos / ChunkRecords][pos % ChunkRecords];
}

float StatementLog::shareOf(int i, const Record& r) const
{
    if (!totalMs)
        return shares[size_t(i - int(first))];
    return *totalMs != 0.0 ? float(r.durationMs / *totalMs * 100.0) : 0.0f;
}

int StatementLog::percentOf(const Record& r) const
{
    if (!maxMs)
        return r.percentOfMax;
    return roundHalfUp(r.durationMs / *maxMs * 100.0);
}

Query StatementLog::figures(int i) const
{
    Query q;
    if (!isKept(i))
        return q;
    const Record& r = *record(i);
    q.durationMs = r.durationMs;
    q.shareOfTotal = shareOf(i, r);
    q.percentOfMax = percentOf(r);
    q.rows = r.rows;
    q.responseKb = r.responseKb;
    q.requestKb = r.requestKb;
    q.isError = r.isError;
    return q;
}

Query StatementLog::at(int i, Qt::TimeSpec zone) const
{
    Query q = figures(i);
    if (!isKept(i))
        return q;
    const Record& r = *record(i);
    q.text = texts.text(r.text);
    q.dbName = dbNames.value(r.db);
    if (r.finishedAtMs != invalidTime)
        q.finishedAt = QDateTime::fromMSecsSinceEpoch(r.finishedAtMs, zone);
    return q;
}

QString StatementLog::text(int i) const
{
    return isKept(i) ? texts.text(record(i)->text) : QString();
}

QString StatementLog::dbName(int i) const
{
    return isKept(i) ? dbNames.value(record(i)->db) : QString();
}

double StatementLog::durationMs(int i) const
{
    return isKept(i) ? record(i)->durationMs : 0.0;
}

bool StatementLog::isError(int i) const
{
    return isKept(i) && record(i)->isError;
}

quint16 StatementLog::dbIndex(const QString& db)
{
    if (lastDb >= 0 && dbNames.at(lastDb) == db)
        return quint16(lastDb);
    int i = dbNames.indexOf(db);
    if (i < 0) {
        // A session switching among more than 65 535 databases records the
        // later ones under the newest name it kept.
        if (dbNames.size() > 0xFFFF)
            return quint16(dbNames.size() - 1);
        dbNames.append(db);
        i = dbNames.size() - 1;
    }
    lastDb = i;
    return quint16(i);
}

void StatementLog::append(const Query& q)
{
    const quint32 pos = first + keptCount - firstChunk * ChunkRecords;
    if (pos / ChunkRecords >= chunks.size())
        chunks.emplace_back(new Record[ChunkRecords]);
    Record& r = chunks[pos / ChunkRecords][pos % ChunkRecords];
    r.durationMs = q.durationMs;
    r.finishedAtMs = q.finishedAt.isValid() ? q.finishedAt.toMSecsSinceEpoch() : invalidTime;
    r.text = texts.intern(q.text.toUtf8());
    r.rows = q.rows;
    r.responseKb = q.responseKb;
    r.requestKb = q.requestKb;
    r.db = dbIndex(q.dbName);
    r.percentOfMax = quint8(qBound(0, q.percentOfMax, 255));
    r.isError = q.isError;
    if (!totalMs)
        shares.push_back(q.shareOfTotal);
    ++keptCount;
    if (q.isError)
        ++errorCount;
    account();
}

void StatementLog::setPercentOfMax(int i, int percent)
{
    if (isKept(i))
        record(i)->percentOfMax = quint8(qBound(0, percent, 255));
}

void StatementLog::followRatings(const double* total, const double* max)
{
    totalMs = total;
    maxMs = max;
    if (totalMs)
        shares.clear();
    account();
}

void StatementLog::releaseBefore(int end)
{
    while (keptCount > 0 && int(first) < end) {
        texts.unref(record(int(first))->text);
        if (!totalMs)
            shares.pop_front();
        ++first;
        --keptCount;
    }
    while (!chunks.empty() && (firstChunk + 1) * ChunkRecords <= first) {
        chunks.pop_front();
        ++firstChunk;
    }
    if (keptCount == 0) {
        // Nothing kept: the room held for more goes too.
        chunks.clear();
        firstChunk = first / ChunkRecords;
        texts.clear();
    }
    account();
}

qint64 StatementLog::releaseBytes(qint64 wanted)
{
    const qint64 before = held;
    while (keptCount > 0 && before - held < wanted)
        releaseBefore(int((first / ChunkRecords + 1) * ChunkRecords));
    return before - held;
}

void StatementLog::account()
{
    const qint64 now = qint64(chunks.size()) * ChunkRecords * qint64(sizeof(Record)) + texts.bytes()
                       + qint64(shares.size()) * qint64(sizeof(float));
    if (ledger)
        ledger->bytes += now - held;
    held = now;
}

void StatementLog::setLedger(std::shared_ptr<MemoryLedger> to)
{
    if (ledger)
        ledger->bytes -= held;
    ledger = std::move(to);
    if (ledger)
        ledger->bytes += held;
}
