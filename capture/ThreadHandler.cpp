#include "ThreadHandler.h"

#include "MysqlProtocol.h"
#include "ThreadCheck.h"

#include <QMetaType>
#include <QTimer>

#include <cstring>

namespace {
/// Buffers above this size are given back after a take instead of kept.
constexpr size_t KeepBytes = 4u << 20;
constexpr size_t KeepUnits = 64u << 10;
} // namespace

void TrafficQueue::Batch::clear()
{
    if (bytes.capacity() > KeepBytes)
        std::vector<char>().swap(bytes);
    else
        bytes.clear();
    if (units.capacity() > KeepUnits)
        std::vector<Unit>().swap(units);
    else
        units.clear();
}

bool TrafficQueue::append(bool server, const char* data, qsizetype size, double ms, qint64 atMs)
{
    if (size <= 0)
        return false;
    std::lock_guard<std::mutex> locker(m_lock);
    Unit u;
    u.offset = qsizetype(m_queued.bytes.size());
    u.size = size;
    u.ms = ms;
    u.atMs = atMs;
    u.server = server;
    m_queued.bytes.insert(m_queued.bytes.end(), data, data + size);
    m_queued.units.push_back(u);
    if (m_wakeRequested)
        return false;
    if (qsizetype(m_queued.bytes.size()) < WakeBytes && m_queued.units.size() < WakeUnits)
        return false;
    m_wakeRequested = true;
    return true;
}

void TrafficQueue::takeAll(Batch* batch)
{
    batch->clear();
    std::lock_guard<std::mutex> locker(m_lock);
    std::swap(m_queued.bytes, batch->bytes);
    std::swap(m_queued.units, batch->units);
    m_wakeRequested = false;
}

bool TrafficQueue::isEmpty() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    return m_queued.units.empty();
}

ThreadHandler::ThreadHandler(QObject* parent)
    : QThread(parent), m_decoder(this), startTime(QDateTime::currentDateTime())
{
    qRegisterMetaType<QList<QVariantList>>("QList<QVariantList>");
}

ThreadHandler::~ThreadHandler() = default;

quint32 ThreadHandler::decodedLength(const QByteArray& data)
{
    return mysql::decodedLength(data);
}

bool ThreadHandler::uncompressedPacket(QByteArray* data)
{
    return mysql::uncompressFrames(data);
}

void ThreadHandler::run()
{
    QTimer timer;
    flushTimer = &timer;
    connect(&timer, &QTimer::timeout, this, &ThreadHandler::onTimeout);
    timer.start(100);
    exec();
    flushTimer = nullptr;
    threadcheck::depart(this);   // wait() returns after this
}

void ThreadHandler::queueClient(const char* data, qsizetype size)
{
    if (m_queue.append(false, data, size))
        QMetaObject::invokeMethod(this, &ThreadHandler::drainQueue, Qt::QueuedConnection);
}

void ThreadHandler::queueMysql(const char* data, qsizetype size, double ms, qint64 atMs)
{
    if (m_queue.append(true, data, size, ms, atMs))
        QMetaObject::invokeMethod(this, &ThreadHandler::drainQueue, Qt::QueuedConnection);
}

void ThreadHandler::drainQueue()
{
    if (draining)
        return;
    draining = true;
    m_queue.takeAll(&m_batch);
    const char* base = m_batch.bytes.data();
    for (const TrafficQueue::Unit& u : m_batch.units) {
        if (u.server) {
            unitTime = QDateTime();
            unitAtMs = u.atMs;
            m_decoder.feedServer(base + u.offset, u.size, u.ms);
        } else {
            m_decoder.feedClient(base + u.offset, u.size);
        }
    }
    unitAtMs = 0;
    m_batch.clear();
    draining = false;
}

void ThreadHandler::handlerClient(QByteArray data)
{
    m_decoder.feedClient(data.constData(), data.size());
}

void ThreadHandler::handlerMysql(QByteArray data, double ms)
{
    unitTime = QDateTime();   // taken once per unit, when a statement needs it
    m_decoder.feedServer(data.constData(), data.size(), ms);
}

void ThreadHandler::onTimeout()
{
    drainQueue();
    flush();
}

void ThreadHandler::flush()
{
    if (pending.isEmpty())
        return;
    QList<QVariantList> batch;
    batch.swap(pending);
    emit newQueries(batch);
}

void ThreadHandler::onDisconnectSession(QTime time)
{
    if (finished)
        return;
    finished = true;
    if (flushTimer)
        flushTimer->stop();
    onTimeout();
    emit disconnectDb(time);
}

void ThreadHandler::login(const QString& user, const QString& db, bool accepted)
{
    // Statements of an earlier login belong to its record: hand them over first.
    flush();
    emit startSession(startTime, user, db, accepted);
}

void ThreadHandler::statement(MysqlDecoder::Statement&& st)
{
    if (!unitTime.isValid())
        unitTime = unitAtMs > 0 ? QDateTime::fromMSecsSinceEpoch(unitAtMs) : QDateTime::currentDateTime();
    QVariantList tuple;
    tuple.reserve(7);
    tuple << unitTime << st.ms << st.text << st.requestKb << st.responseKb << int(st.rows) << st.error;
    pending.append(tuple);
}

void ThreadHandler::databaseChanged(const QString& name)
{
    // Keep the order of statements and database changes.
    flush();
    emit newDbName(name);
}
