#pragma once

#include "MysqlDecoder.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QThread>
#include <QTime>
#include <QVariantList>

class QTimer;

/// The decoder thread of one relayed connection: feeds the relay's units to
/// a MysqlDecoder and hands the statements found to the Session in batches,
/// at most one batch per 100 ms. A query tuple is a 7-element QVariantList:
/// answered at (QDateTime), duration ms (double), statement bytes
/// (QByteArray), request KiB (float), response KiB (float), rows (int),
/// error (bool). Lives in its own thread (moved into itself); its slots run
/// there and its results leave only by queued signals.
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

    /// The decoder's state, for tests; decoder thread only.
    const MysqlDecoder& decoder() const { return m_decoder; }
    /// Tuples not handed over yet; decoder thread only.
    const QList<QVariantList>& pendingQueries() const { return pending; }

public slots:
    /// A unit of client traffic.
    void handlerClient(QByteArray data);
    /// A unit of server traffic; `ms` is the relay's time since the request began.
    void handlerMysql(QByteArray data, double ms);
    /// Hands the pending tuples over (every 100 ms).
    void onTimeout();
    /// The relay ended: last batch, then disconnectDb(time).
    void onDisconnectSession(QTime time);

signals:
    void startSession(QDateTime datetimeStart, QString userName, QString dbName, bool auth);
    void newQueries(QList<QVariantList> queries);
    void newDbName(QString dbName);
    void disconnectDb(QTime time);

protected:
    void run() override;

private:
    void login(const QString& user, const QString& db, bool accepted) override;
    void statement(MysqlDecoder::Statement&& st) override;
    void databaseChanged(const QString& name) override;

    MysqlDecoder m_decoder;
    QDateTime startTime;
    QDateTime unitTime;              ///< when the current server unit was decoded
    QTimer* flushTimer = nullptr;
    QList<QVariantList> pending;
    bool finished = false;
};
