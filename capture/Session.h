#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTime>
#include <QVariantList>

#include "SessionData.h"

class ThreadHandler;
class ThreadSession;
struct ServerAddress;

/// One client connection in the GUI thread: starts the connection's relay
/// and decoder threads, turns the decoder's batches into the Query log of
/// its SessionData, follows USE and SET NAMES, and announces what it logged.
/// GUI thread only; the relay and decoder reach it through queued signals.
class Session : public QObject
{
    Q_OBJECT
public:
    /// Relays the accepted connection `socketDescriptor` to `server`; the
    /// relay thread keeps its own copy of the address.
    Session(int socketDescriptor, const ServerAddress& server, QObject* parent = nullptr);
    /// A session without a connection, fed only through its slots (replays).
    explicit Session(QObject* parent = nullptr);
    /// Ends the relay and decoder threads if they still run. The SessionData
    /// is not deleted: the session manager owns it.
    ~Session() override;

    /// The record, or nullptr before the login was seen.
    SessionData* getSessionData() const { return data; }

    double maxDurationMs = 1.0;   ///< slowest statement so far in ms (at least 1 ms)
    double totalDurationMs = 0.0; ///< sum of the statement times in ms
    QString currentDb;            ///< the database in use as far as the session knows

public slots:
    /// Closes the client side of the relay, which ends the connection.
    void stop();
    /// The decoder saw the server's verdict on a login: creates the record.
    void onStartSession(QDateTime datetimeStart, QString userName, QString dbName, bool auth);
    /// Appends one Query per tuple of the batch and re-rates the log.
    void onNewQueries(QList<QVariantList> queries);
    /// The client selected a database with COM_INIT_DB.
    void onNewDbName(QString dbName);
    /// The connection ended after `time` (a time of day: 00:00 + lifetime).
    void disconnectDB(QTime time);

signals:
    /// A login was seen; the receiver takes ownership of `data`.
    void add(SessionData* data);
    /// The connection ended; `id` is 0 when no login was seen.
    void close(ulong id);
    /// `count` statements were appended to the log from position `indexQuery`.
    void newQueries(ulong id, uint indexQuery, uint count);
    /// The client selected `selectedDb`; `dbName` is the record's database
    /// (the first one of the session).
    void setDbName(ulong id, QString dbName, QString selectedDb);

private:
    SessionData* data = nullptr;
    ThreadSession* relay = nullptr;
    ThreadHandler* decoder = nullptr;
};
