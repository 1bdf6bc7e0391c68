#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLockFile;

/// Guard that lets only one instance of the program run per user.
/// Whether another instance runs is decided in the constructor, by a lock
/// file in the user's runtime folder; nothing else is read or written first.
/// The first instance also listens on a local socket, so that a later start
/// can ask it to come to the front (activated()).
/// A lock left behind by a crashed instance is recognised as stale (its
/// process is gone) and taken over. GUI thread only.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    /// `appKey` names the program; the guard is keyed by it and the user id.
    explicit SingleInstance(const QString& appKey = QStringLiteral("quarvel"), QObject* parent = nullptr);
    ~SingleInstance() override;

    /// True when another instance of the same program and user holds the guard.
    bool isRunning() const { return running; }

    /// Asks the running instance to come to the front with `message`; false
    /// when this is the running instance or it cannot be reached within
    /// `timeoutMs` milliseconds.
    bool sendMessage(const QString& message, int timeoutMs = 1000);

    /// Key shared by every instance of the program for this user.
    QString key() const { return guardKey; }
    /// Path of the lock file.
    QString lockFilePath() const { return lockPath; }
    /// Full path of the local socket the running instance listens on.
    QString serverName() const { return socketPath; }

signals:
    /// A later start sent `message`; the window should come to the front.
    void messageReceived(const QString& message);
    /// Emitted after messageReceived(): bring the main window forward.
    void activated();

private:
    void readConnection();

    QString guardKey;
    QString lockPath;
    QString socketPath;
    QLockFile* lock = nullptr;
    QLocalServer* server = nullptr;
    bool running = false;
};
