#include "ThreadSession.h"

#include "Settings.h"

#include <QTcpSocket>
#include <QTimer>

namespace {
/// A unit is reported early once it grows past this size (a long result set
/// whose reads never end at a packet boundary).
constexpr int MaxReport = 1 << 20;
/// The client's unsent bytes above which the server is no longer read.
constexpr qint64 MaxBacklog = 8 << 20;
constexpr int ReadBuffer = 1 << 20;
constexpr int ConnectTimeoutMs = 15000;
} // namespace

ThreadSession::ThreadSession(int socketDescriptor, QObject* parent)
    : QThread(parent), socketDescriptor(socketDescriptor)
{
}

ThreadSession::ThreadSession(int socketDescriptor, Settings* settings, QObject* parent)
    : QThread(parent), socketDescriptor(socketDescriptor), m_settings(settings)
{
}

ThreadSession::~ThreadSession() = default;

void ThreadSession::setServerAddress(const QString& host, quint16 port)
{
    m_host = host;
    m_port = port;
    m_addressSet = true;
}

void ThreadSession::stop()
{
    QMetaObject::invokeMethod(this, [this] {
        if (client)
            client->disconnectFromHost();
    }, Qt::QueuedConnection);
}

void ThreadSession::run()
{
    clock.start();
    client = new QTcpSocket;
    server = new QTcpSocket;
    connectTimer = new QTimer;
    client->setReadBufferSize(ReadBuffer);
    server->setReadBufferSize(ReadBuffer);

    if (!m_addressSet) {
        const Profile* profile = m_settings ? m_settings->currentProfile() : nullptr;
        if (profile) {
            m_host = profile->Host;
            m_port = quint16(profile->Port);
        }
    }

    if (!client->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        ended = true;
        emit disconnectSession(QTime(0, 0));
    } else {
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(client, &QTcpSocket::readyRead, this, &ThreadSession::readClient);
        connect(client, &QTcpSocket::disconnected, this, &ThreadSession::disconnectDb);
        connect(client, &QTcpSocket::bytesWritten, this, &ThreadSession::clientWritten);
        connect(server, &QTcpSocket::readyRead, this, &ThreadSession::readMysql);
        connect(server, &QTcpSocket::disconnected, this, &ThreadSession::serverClosed);
        connect(server, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
            // Refused, unknown host, reset: the client must not wait for a greeting.
            serverClosed();
        });
        connect(server, &QTcpSocket::connected, this, [this] {
            connectTimer->stop();
            server->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        });
        connectTimer->setSingleShot(true);
        connect(connectTimer, &QTimer::timeout, this, [this] {
            server->abort();
            serverClosed();
        });
        if (m_host.isEmpty() || m_port == 0) {
            serverClosed();
        } else {
            connectTimer->start(ConnectTimeoutMs);
            server->connectToHost(m_host, m_port, QIODevice::ReadWrite);
        }
    }

    exec();

    delete connectTimer;
    delete server;
    delete client;
    connectTimer = nullptr;
    server = client = nullptr;
}

void ThreadSession::readClient()
{
    if (!client || !server)
        return;
    const qint64 arrived = clock.nsecsElapsed();
    const QByteArray chunk = client->readAll();
    if (chunk.isEmpty())
        return;
    if (!serverGone)
        server->write(chunk);
    server->flush();
    if (tracker.encrypted())
        return;   // nothing readable any more
    bool commandStarted = false;
    const bool boundary = tracker.scanClient(chunk.constData(), chunk.size(), &commandStarted);
    if (commandStarted)
        requestStartNs = arrived;
    if (clientReport.isEmpty())
        clientReport = chunk;
    else
        clientReport.append(chunk);
    if (boundary || clientReport.size() >= MaxReport || tracker.encrypted())
        flushClientReport();
}

void ThreadSession::readMysql()
{
    if (!client || !server)
        return;
    if (connectionStartNs < 0)
        connectionStartNs = clock.nsecsElapsed();
    // The client reads slowly: let the server wait (TCP flow control) until
    // the backlog has gone out.
    if (!serverGone && client->bytesToWrite() > MaxBacklog) {
        serverPaused = true;
        return;
    }
    serverPaused = false;
    const QByteArray chunk = server->readAll();
    if (chunk.isEmpty())
        return;
    client->write(chunk);
    client->flush();
    serverReportMs = double(clock.nsecsElapsed() - requestStartNs) / 1e6;
    if (tracker.encrypted())
        return;
    const bool boundary = tracker.scanServer(chunk.constData(), chunk.size());
    if (serverReport.isEmpty())
        serverReport = chunk;
    else
        serverReport.append(chunk);
    if (boundary || serverReport.size() >= MaxReport)
        flushServerReport();
}

void ThreadSession::clientWritten()
{
    if (serverPaused && client->bytesToWrite() <= MaxBacklog / 2)
        readMysql();
}

void ThreadSession::flushClientReport()
{
    if (clientReport.isEmpty())
        return;
    ++m_units;
    emit clientData(clientReport);
    clientReport.clear();
}

void ThreadSession::flushServerReport()
{
    if (serverReport.isEmpty())
        return;
    ++m_units;
    emit mysqlData(serverReport, serverReportMs);
    serverReport.clear();
}

void ThreadSession::serverClosed()
{
    if (serverGone || !client)
        return;
    serverGone = true;
    connectTimer->stop();
    // Whatever the server sent before closing still reaches the client.
    while (server->bytesAvailable() > 0)
        readMysql();
    flushServerReport();
    client->disconnectFromHost();
}

void ThreadSession::disconnectDb()
{
    if (ended || !client)
        return;
    ended = true;
    if (client->bytesAvailable() > 0)
        readClient();
    flushClientReport();
    flushServerReport();
    disconnect(client, nullptr, this, nullptr);
    disconnect(server, nullptr, this, nullptr);
    connectTimer->stop();
    const QTime duration = connectionStartNs < 0
        ? QTime(0, 0)
        : QTime(0, 0).addMSecs(int((clock.nsecsElapsed() - connectionStartNs) / 1000000));
    server->disconnectFromHost();
    emit disconnectSession(duration);
}
