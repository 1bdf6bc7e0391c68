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
class ThreadHandler;

/// Where a relay connects: taken from the current profile in the window's
/// thread when the connection is accepted, and handed to the relay as a copy.
struct ServerAddress
{
    QString host;
    quint16 port = 0;
};

/// The relay of one client connection: forwards every byte in both
/// directions as soon as it is read (never altered, reordered or held back)
/// and reports the traffic to the decoder. Reads and writes the two sockets
/// directly (non-blocking, Nagle off) into one reusable buffer; bytes a peer
/// cannot take yet wait in that direction's backlog, and a direction whose
/// backlog grows large stops being read (TCP flow control slows the sender).
/// A server that closes or cannot be reached closes the client too.
/// The traffic goes to the queue of the decoder attached by handOverTo.
/// Lives in its own thread (moved into itself); stop() may be called from
/// any thread, everything else runs in the relay thread.
class ThreadSession : public QThread
{
    Q_OBJECT
public:
    /// Relays the accepted connection `socketDescriptor` to `server`; an
    /// empty host or port 0 closes the client at once.
    ThreadSession(int socketDescriptor, const ServerAddress& server, QObject* parent = nullptr);
    ~ThreadSession() override;

    /// Hands the forwarded traffic straight to the traffic queue of
    /// `decoder` (not owned, must outlive the relay's thread) instead of
    /// waking the decoder thread per unit; its disconnectSession signal must
    /// still reach the decoder's onDisconnectSession, which decodes what is
    /// left in the queue first. Call before start().
    void handOverTo(ThreadHandler* decoder) { m_decoder = decoder; }

    /// Closes the client side, which ends the relay. [thread-safe]
    void stop();

signals:
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

    int socketDescriptor;
    const ServerAddress m_address;
    ThreadHandler* m_decoder = nullptr;

    Peer client;
    Peer server;
    QTcpSocket* connecting = nullptr;  ///< the server connection until it is established
    QTimer* connectTimer = nullptr;
    std::unique_ptr<char[]> readBuffer;
    QElapsedTimer clock;               ///< the relay's monotonic clock
    qint64 connectionStartNs = -1;     ///< first server bytes
    qint64 requestStartNs = 0;         ///< first byte of the latest client command
    MysqlLinkTracker tracker;
    bool clientPaused = false;         ///< client not read: the server's backlog is full
    bool serverPaused = false;         ///< server not read: the client's backlog is full
    bool serverGone = false;
    bool ended = false;
};
