#pragma once

#include "MysqlDecoder.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QThread>
#include <QTime>
#include <QVariantList>

#include <mutex>
#include <vector>

class QTimer;

/// Relay traffic on its way to a decoder thread, kept in the order it was
/// forwarded: the relay appends what it read, the decoder takes everything
/// at once. Appending copies the bytes into one growing buffer; nothing is
/// allocated per unit once the buffers have reached their working size.
/// The lock is a std::mutex (POSIX threads), whose hand-over thread checkers
/// see; Qt's own mutex works outside their view. [thread-safe]
class TrafficQueue
{
public:
    struct Unit
    {
        qsizetype offset = 0;   ///< into Batch::bytes
        qsizetype size = 0;
        double ms = 0;          ///< server bytes: relay time since the request began
        qint64 atMs = 0;        ///< server bytes: forwarded at, ms since the epoch (UTC)
        bool server = false;
    };
    struct Batch
    {
        std::vector<char> bytes;
        std::vector<Unit> units;
        /// Empties the batch, keeping its buffers unless they grew very large.
        void clear();
        bool isEmpty() const { return units.empty(); }
    };

    /// Bytes or units queued above which the reader should be woken early.
    static constexpr qsizetype WakeBytes = 1 << 20;
    static constexpr size_t WakeUnits = 8192;

    /// Appends one piece of traffic. Returns true exactly once per take when
    /// the queue has grown past WakeBytes or WakeUnits: the caller then wakes
    /// the reader; otherwise the reader's own tick collects the queue.
    bool append(bool server, const char* data, qsizetype size, double ms = 0, qint64 atMs = 0);
    /// Moves everything queued into `batch` (cleared first) and re-arms the wake-up.
    void takeAll(Batch* batch);
    bool isEmpty() const;

private:
    mutable std::mutex m_lock;
    Batch m_queued;
    bool m_wakeRequested = false;
};

/// The decoder thread of one relayed connection: feeds the relay's units to
/// a MysqlDecoder and hands the statements found to the Session in batches,
/// at most one batch per 100 ms. A query tuple is a 7-element QVariantList:
/// answered at (QDateTime), duration ms (double), statement bytes
/// (QByteArray), request KiB (float), response KiB (float), rows (int),
/// error (bool). Units arrive either as queued handlerClient/handlerMysql
/// calls or, cheaper, through the traffic queue that a relay fills
/// (ThreadSession::handOverTo) and that is decoded on each tick. Lives in its
/// own thread (moved into itself); its slots run there and its results leave
/// only by queued signals. queueClient/queueMysql are [thread-safe].
class ThreadHandler : public QThread, private MysqlDecoder::Sink
{
    Q_OBJECT
public:
    explicit ThreadHandler(QObject* parent = nullptr);
    ~ThreadHandler() override;

    /// Payload length in the first three bytes (missing bytes count as 0). [thread-safe]
    static quint32 decodedLength(const QByteArray& data);
    /// Replaces compressed frames by the packets they carry; false when a
    /// frame cannot be inflated (data then unchanged). [thread-safe]
    static bool uncompressedPacket(QByteArray* data);

    /// Client bytes forwarded by the relay, queued for decoding. [thread-safe]
    void queueClient(const char* data, qsizetype size);
    /// Server bytes forwarded by the relay after `ms` since the request
    /// began, at `atMs` (ms since the epoch), queued for decoding. [thread-safe]
    void queueMysql(const char* data, qsizetype size, double ms, qint64 atMs);

    /// The decoder's state, for tests; decoder thread only.
    const MysqlDecoder& decoder() const { return m_decoder; }
    /// Tuples not handed over yet; decoder thread only.
    const QList<QVariantList>& pendingQueries() const { return pending; }

public slots:
    /// A unit of client traffic.
    void handlerClient(QByteArray data);
    /// A unit of server traffic; `ms` is the relay's time since the request began.
    void handlerMysql(QByteArray data, double ms);
    /// Decodes the queued traffic and hands the pending tuples over (every 100 ms).
    void onTimeout();
    /// The relay ended: the queued traffic is decoded, the last batch handed
    /// over, then disconnectDb(time).
    void onDisconnectSession(QTime time);

signals:
    void startSession(QDateTime datetimeStart, QString userName, QString dbName, bool auth);
    void newQueries(QList<QVariantList> queries);
    void newDbName(QString dbName);
    void disconnectDb(QTime time);

protected:
    void run() override;

private slots:
    /// Decodes everything in the traffic queue, in order.
    void drainQueue();

private:
    void flush();
    void login(const QString& user, const QString& db, bool accepted) override;
    void statement(MysqlDecoder::Statement&& st) override;
    void databaseChanged(const QString& name) override;

    MysqlDecoder m_decoder;
    QDateTime startTime;
    QDateTime unitTime;              ///< when the current server unit was answered
    qint64 unitAtMs = 0;             ///< the same from the queue, 0 when unknown
    QTimer* flushTimer = nullptr;
    QList<QVariantList> pending;
    TrafficQueue m_queue;
    TrafficQueue::Batch m_batch;     ///< decoder thread only
    bool draining = false;
    bool finished = false;
};
