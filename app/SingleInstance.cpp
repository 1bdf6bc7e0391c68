#include "SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <unistd.h>

namespace {
/// The user's runtime folder ($XDG_RUNTIME_DIR, else a private folder in /tmp).
QString runtimeFolder()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    QDir().mkpath(dir);
    return dir;
}
}

SingleInstance::SingleInstance(const QString& appKey, QObject* parent) : QObject(parent)
{
    guardKey = appKey + QLatin1Char('-') + QString::number(::getuid());
    const QString dir = runtimeFolder();
    lockPath = dir + QLatin1Char('/') + guardKey + QStringLiteral(".lock");
    socketPath = dir + QLatin1Char('/') + guardKey + QStringLiteral(".socket");

    lock = new QLockFile(lockPath);
    // Never steal a lock because of its age: a long-running instance keeps it.
    // A lock whose process is gone is still detected as stale and taken over.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        running = lock->error() == QLockFile::LockFailedError;
        // Another error (folder not writable): do not block the start.
        return;
    }

    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath);   // left behind by a crashed instance
    if (!server->listen(socketPath)) {
        delete server;
        server = nullptr;
        return;
    }
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::readConnection);
}

SingleInstance::~SingleInstance()
{
    if (server) {
        server->close();
        delete server;
    }
    if (lock) {
        lock->unlock();
        delete lock;
    }
}

bool SingleInstance::sendMessage(const QString& message, int timeoutMs)
{
    if (!running)
        return false;
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray block;
    {
        QDataStream out(&block, QIODevice::WriteOnly);
        out << message;
    }
    socket.write(block);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}

void SingleInstance::readConnection()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The message is complete when the sender has closed its side.
        auto finish = [this, socket]() {
            const QByteArray data = socket->readAll();
            QDataStream in(data);
            QString message;
            in >> message;
            if (in.status() != QDataStream::Ok)
                return;
            emit messageReceived(message);
            emit activated();
        };
        if (socket->state() == QLocalSocket::UnconnectedState)
            finish();
        else
            connect(socket, &QLocalSocket::readChannelFinished, this, finish);
    }
}
