#include "ThreadSession.h"

#include "ThreadCheck.h"
#include "ThreadHandler.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
/// A peer's unwritten bytes above which the other side is no longer read;
/// reading resumes below half of it.
constexpr qsizetype MaxBacklog = 8 << 20;
constexpr qsizetype ReadBuffer = 256 << 10;
/// Reads per readiness notification before other work gets its turn.
constexpr int ReadRounds = 8;
constexpr int ConnectTimeoutMs = 15000;

bool isSocket(int fd)
{
    int type = 0;
    socklen_t len = sizeof type;
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_STREAM;
}

void prepareSocket(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1 && !(flags & O_NONBLOCK))
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);   // fails harmlessly on non-TCP sockets
}

bool wouldBlock(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK;
}

/// Writes as much as the socket takes: the count written, or -1 when the peer is gone.
qsizetype sendSome(int fd, const char* data, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, data + done, size_t(size - done), MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && wouldBlock(errno))
            break;
        return -1;
    }
    return done;
}
} // namespace

ThreadSession::ThreadSession(int socketDescriptor, const ServerAddress& server, QObject* parent)
    : QThread(parent), socketDescriptor(socketDescriptor), m_address(server)
{
}

ThreadSession::~ThreadSession() = default;

void ThreadSession::stop()
{
    threadcheck::queueCall(this, [this] { disconnectDb(); });
}

void ThreadSession::run()
{
    clock.start();
    readBuffer.reset(new char[ReadBuffer]);
    connectTimer = new QTimer;
    connectTimer->setSingleShot(true);

    if (!isSocket(socketDescriptor)) {
        ended = true;
        emit disconnectSession(QTime(0, 0));
    } else {
        openPeer(client, socketDescriptor, &ThreadSession::readClient, &ThreadSession::writeClient);
        if (m_address.host.isEmpty() || m_address.port == 0) {
            serverClosed();
        } else {
            // Qt finds and connects the server (names, IPv4 and IPv6 addresses
            // in turn); the relay then takes over the connected socket.
            connecting = new QTcpSocket;
            connect(connecting, &QTcpSocket::connected, this, [this] {
                connectTimer->stop();
                QMetaObject::invokeMethod(this, &ThreadSession::adoptServer, Qt::QueuedConnection);
            });
            connect(connecting, &QTcpSocket::disconnected, this, &ThreadSession::serverClosed);
            connect(connecting, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
                // Refused, unknown host, reset: the client must not wait for a greeting.
                serverClosed();
            });
            connect(connectTimer, &QTimer::timeout, this, &ThreadSession::serverClosed);
            connectTimer->start(ConnectTimeoutMs);
            connecting->connectToHost(m_address.host, m_address.port, QIODevice::ReadWrite);
        }
    }

    exec();

    // The loop may end without a disconnection (the session is torn down).
    closePeer(server);
    closePeer(client);
    delete connecting;
    connecting = nullptr;
    delete connectTimer;
    connectTimer = nullptr;
    readBuffer.reset();
    threadcheck::depart(this);   // wait() returns after this
}

void ThreadSession::openPeer(Peer& p, int fd, void (ThreadSession::*onRead)(), void (ThreadSession::*onWrite)())
{
    prepareSocket(fd);
    p.fd = fd;
    p.reader = new QSocketNotifier(fd, QSocketNotifier::Read);
    p.writer = new QSocketNotifier(fd, QSocketNotifier::Write);
    p.writer->setEnabled(false);
    connect(p.reader, &QSocketNotifier::activated, this, onRead);
    connect(p.writer, &QSocketNotifier::activated, this, onWrite);
}

void ThreadSession::closePeer(Peer& p)
{
    delete p.reader;
    delete p.writer;
    p.reader = p.writer = nullptr;
    if (p.fd >= 0)
        ::close(p.fd);
    p.fd = -1;
    p.backlog.clear();
    p.sent = 0;
}

void ThreadSession::adoptServer()
{
    if (!connecting)
        return;
    QTcpSocket* s = connecting;
    connecting = nullptr;
    disconnect(s, nullptr, this, nullptr);
    if (ended || serverGone) {
        s->abort();
        s->deleteLater();
        return;
    }
    // Normally nothing has been read yet; whatever was is forwarded first.
    const QByteArray early = s->readAll();
    const int fd = ::fcntl(int(s->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    s->abort();   // closes Qt's descriptor; the duplicate keeps the connection
    s->deleteLater();
    if (fd < 0) {
        serverClosed();
        return;
    }
    openPeer(server, fd, &ThreadSession::readMysql, &ThreadSession::writeServer);
    if (!early.isEmpty()) {
        connectionStartNs = clock.nsecsElapsed();
        serverChunk(early.constData(), early.size());
    }
    // Client bytes that arrived while connecting.
    writeBacklog(server);
    updateFlow();
    if (server.broken)
        serverClosed();
    else if (client.broken)
        disconnectDb();
}

void ThreadSession::dropConnecting()
{
    // Possibly called from the socket's own signal: let Qt delete it later.
    if (!connecting)
        return;
    disconnect(connecting, nullptr, this, nullptr);
    connecting->deleteLater();
    connecting = nullptr;
}

void ThreadSession::forward(Peer& to, const char* data, qsizetype size)
{
    if (to.broken)
        return;
    qsizetype done = 0;
    if (to.fd >= 0 && to.pendingBytes() == 0) {
        done = sendSome(to.fd, data, size);
        if (done < 0) {
            to.broken = true;
            return;
        }
        if (done == size)
            return;
    }
    if (to.sent > 0 && to.sent == to.backlog.size()) {
        to.backlog.resize(0);
        to.sent = 0;
    }
    to.backlog.append(data + done, int(size - done));
    if (to.writer)
        to.writer->setEnabled(true);
    updateFlow();
}

void ThreadSession::writeBacklog(Peer& to)
{
    if (to.fd < 0 || to.broken)
        return;
    if (to.pendingBytes() > 0) {
        const qsizetype n = sendSome(to.fd, to.backlog.constData() + to.sent, to.pendingBytes());
        if (n < 0) {
            to.broken = true;
            to.backlog.clear();
            to.sent = 0;
        } else {
            to.sent += n;
        }
    }
    if (to.pendingBytes() == 0) {
        to.backlog.clear();
        to.sent = 0;
    } else if (to.sent > (1 << 20) && to.sent * 2 > to.backlog.size()) {
        to.backlog.remove(0, int(to.sent));
        to.sent = 0;
    }
    if (to.writer)
        to.writer->setEnabled(to.pendingBytes() > 0);
}

void ThreadSession::writeClient()
{
    writeBacklog(client);
    updateFlow();
    if (client.broken || (serverGone && client.pendingBytes() == 0))
        disconnectDb();
}

void ThreadSession::writeServer()
{
    writeBacklog(server);
    updateFlow();
    if (server.broken)
        serverClosed();
}

void ThreadSession::updateFlow()
{
    // The slow peer's backlog holds the other side back, with some slack so
    // that reading does not flip on and off with every write.
    if (!serverPaused && client.pendingBytes() > MaxBacklog)
        serverPaused = true;
    else if (serverPaused && client.pendingBytes() <= MaxBacklog / 2)
        serverPaused = false;
    if (!clientPaused && server.pendingBytes() > MaxBacklog)
        clientPaused = true;
    else if (clientPaused && server.pendingBytes() <= MaxBacklog / 2)
        clientPaused = false;
    if (server.reader)
        server.reader->setEnabled(!serverPaused);
    if (client.reader)
        client.reader->setEnabled(!clientPaused);
}

void ThreadSession::readClient()
{
    if (ended || client.fd < 0)
        return;
    const qint64 arrived = clock.nsecsElapsed();
    bool closed = false;
    for (int round = 0; round < ReadRounds && !clientPaused; ++round) {
        const ssize_t n = ::recv(client.fd, readBuffer.get(), size_t(ReadBuffer), 0);
        if (n > 0) {
            clientChunk(readBuffer.get(), n, arrived);
            if (n < ReadBuffer)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && wouldBlock(errno))
            break;
        closed = true;   // orderly close or a reset
        break;
    }
    if (server.broken && !serverGone)
        serverClosed();
    if (closed || client.broken)
        disconnectDb();
}

void ThreadSession::readMysql()
{
    if (ended || server.fd < 0)
        return;
    if (connectionStartNs < 0)
        connectionStartNs = clock.nsecsElapsed();
    bool closed = false;
    for (int round = 0; round < ReadRounds && !serverPaused; ++round) {
        const ssize_t n = ::recv(server.fd, readBuffer.get(), size_t(ReadBuffer), 0);
        if (n > 0) {
            serverChunk(readBuffer.get(), n);
            if (n < ReadBuffer)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && wouldBlock(errno))
            break;
        closed = true;
        break;
    }
    if (closed)
        serverClosed();
    else if (client.broken)
        disconnectDb();
}

void ThreadSession::clientChunk(const char* data, qsizetype size, qint64 arrivedNs)
{
    if (!serverGone)
        forward(server, data, size);
    if (tracker.encrypted())
        return;   // nothing readable any more
    bool commandStarted = false;
    tracker.scanClient(data, size, &commandStarted);
    if (commandStarted)
        requestStartNs = arrivedNs;
    if (m_decoder)
        m_decoder->queueClient(data, size);
}

void ThreadSession::serverChunk(const char* data, qsizetype size)
{
    forward(client, data, size);
    if (tracker.encrypted())
        return;
    tracker.scanServer(data, size);
    if (m_decoder) {
        const double ms = double(clock.nsecsElapsed() - requestStartNs) / 1e6;
        m_decoder->queueMysql(data, size, ms, QDateTime::currentMSecsSinceEpoch());
    }
}

void ThreadSession::serverClosed()
{
    if (serverGone || ended)
        return;
    serverGone = true;
    if (connectTimer)
        connectTimer->stop();
    dropConnecting();
    closePeer(server);
    serverPaused = false;
    clientPaused = false;
    updateFlow();
    // Whatever the server sent before closing still reaches the client,
    // then the client is closed (writeClient ends the relay).
    if (client.pendingBytes() == 0 || client.broken)
        disconnectDb();
}

void ThreadSession::disconnectDb()
{
    if (ended || client.fd < 0)
        return;
    ended = true;
    // Bytes the client sent before closing still go to the server.
    if (!client.broken && !clientPaused) {
        for (int round = 0; round < 4 * ReadRounds; ++round) {
            const ssize_t n = ::recv(client.fd, readBuffer.get(), size_t(ReadBuffer), 0);
            if (n > 0) {
                clientChunk(readBuffer.get(), n, clock.nsecsElapsed());
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
    }
    if (connectTimer)
        connectTimer->stop();
    dropConnecting();
    const QTime duration = connectionStartNs < 0
        ? QTime(0, 0)
        : QTime(0, 0).addMSecs(int((clock.nsecsElapsed() - connectionStartNs) / 1000000));
    // Last attempt at what the peers have not taken yet, then close.
    writeBacklog(server);
    writeBacklog(client);
    closePeer(server);
    closePeer(client);
    emit disconnectSession(duration);
}
