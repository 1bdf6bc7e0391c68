#pragma once

#include "MysqlLinkTracker.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <QTime>

#include <memory>

class QSocketNotifier;
class QTcpSocket;
class QTimer;
class Settings;
class ThreadHandler;

/// The relay of one client connection: forwards every byte in both
/// directions as soon as it is read (never altered, reordered or held back)
/// and reports the traffic to the decoder. Reads and writes the two sockets
/// directly (non-blocking, Nagle off) into one reusable buffer; bytes a peer
/// cannot take yet wait in that direction's backlog, and a direction whose
/// backlog grows large stops being read (TCP flow control slows the sender).
/// A server that closes or cannot be reached closes the client too.
/// Traffic goes to a decoder's queue when one is attached (handOverTo), and
/// as clientData/mysqlData signals, one per unit of whole packets, to whoever
/// connects to them.
/// Lives in its own thread (moved into itself); stop() may be called from
/// any thread, everything else runs in the relay thread.
class ThreadSession : public QThread
{
    Q_OBJECT
public:
    ThreadSession(int socketDescriptor, QObject* parent = nullptr);
    /// The server is the current profile's Host and Port, read when the thread starts.
    ThreadSession(int socketDescriptor, Settings* settings, QObject* parent = nullptr);
    ~ThreadSession() override;

    /// Call before start().
    void setSettings(Settings* settings) { m_settings = settings; }
    /// Overrides the profile's server address; call before start().
    void setServerAddress(const QString& host, quint16 port);
    /// Hands the forwarded traffic straight to the traffic queue of
    /// `decoder` (not owned, must outlive the relay's thread) instead of
    /// waking the decoder thread per unit; its disconnectSession signal must
    /// still reach the decoder's onDisconnectSession, which decodes what is
    /// left in the queue first. Call before start().
    void handOverTo(ThreadHandler* decoder) { m_decoder = decoder; }

    /// Closes the client side, which ends the relay. [thread-safe]
    void stop();

    /// Pieces of traffic reported so far (queued or signalled, both
    /// directions); relay thread only.
    quint64 unitsReported() const { return m_units; }

signals:
    /// Client bytes forwarded to the server.
    void clientData(QByteArray data);
    /// Server bytes forwarded to the client; `ms` runs from the first byte
    /// of the client's command to the moment the last of these bytes was
    /// forwarded.
    void mysqlData(QByteArray data, double ms);
    /// The connection ended; its lifetime as a time of day from 00:00:00.000.
    void disconnectSession(QTime time);

public slots:
    /// The client socket is readable.
    void readClient();
    /// The server socket is readable.
    void readMysql();
    /// The client closed (or the relay ends): close the server side, report.
    void disconnectDb();

protected:
    void run() override;

private:
    /// One side of the relay: a socket used directly and the bytes still to
    /// be written to it.
    struct Peer
    {
        int fd = -1;
        QSocketNotifier* reader = nullptr;
        QSocketNotifier* writer = nullptr;
        QByteArray backlog;       ///< bytes not yet taken by the socket, from `sent` on
        qsizetype sent = 0;
        bool broken = false;      ///< a write failed: the peer is gone
        qsizetype pendingBytes() const { return backlog.size() - sent; }
    };

    void openPeer(Peer& p, int fd, void (ThreadSession::*onRead)(), void (ThreadSession::*onWrite)());
    void closePeer(Peer& p);
    void adoptServer();
    void dropConnecting();
    void forward(Peer& to, const char* data, qsizetype size);
    void writeBacklog(Peer& to);
    void writeClient();
    void writeServer();
    void updateFlow();
    void clientChunk(const char* data, qsizetype size, qint64 arrivedNs);
    void serverChunk(const char* data, qsizetype size);
    void serverClosed();
    void flushClientReport();
    void flushServerReport();
    bool signalsWanted() const;

    int socketDescriptor;
    Settings* m_settings = nullptr;
    ThreadHandler* m_decoder = nullptr;
    QString m_host;
    quint16 m_port = 0;
    bool m_addressSet = false;

    Peer client;
    Peer server;
    QTcpSocket* connecting = nullptr;  ///< the server connection until it is established
    QTimer* connectTimer = nullptr;
    std::unique_ptr<char[]> readBuffer;
    QElapsedTimer clock;               ///< the relay's monotonic clock
    qint64 connectionStartNs = -1;     ///< first server bytes
    qint64 requestStartNs = 0;         ///< first byte of the latest client command
    MysqlLinkTracker tracker;
    QByteArray clientReport;
    QByteArray serverReport;
    double serverReportMs = 0;
    bool clientPaused = false;         ///< client not read: the server's backlog is full
    bool serverPaused = false;         ///< server not read: the client's backlog is full
    bool serverGone = false;
    bool ended = false;
    quint64 m_units = 0;
};
