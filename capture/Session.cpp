#include "Session.h"

#include <QMetaType>
#include <QTextCodec>
#include <QThread>

#include "ThreadCheck.h"
#include "ThreadHandler.h"
#include "ThreadSession.h"

Session::Session(int socketDescriptor, const ServerAddress& server, QObject* parent)
    : QObject(parent)
{
    decoder = new ThreadHandler(nullptr);
    decoder->moveToThread(decoder);
    qRegisterMetaType<QList<QVariantList>>("QList<QVariantList>");
    qRegisterMetaType<SessionData*>("SessionData*");

    connect(decoder, &ThreadHandler::startSession, this, &Session::onStartSession, Qt::QueuedConnection);
    connect(decoder, &ThreadHandler::newQueries, this, &Session::onNewQueries, Qt::QueuedConnection);
    connect(decoder, &ThreadHandler::newDbName, this, &Session::onNewDbName);
    connect(decoder, &ThreadHandler::disconnectDb, this, &Session::disconnectDB);

    relay = new ThreadSession(socketDescriptor, server, nullptr);
    relay->moveToThread(relay);
    // The traffic goes through the decoder's queue, decoded on its 100 ms
    // tick, instead of one queued event per unit.
    relay->handOverTo(decoder);
    connect(relay, &ThreadSession::disconnectSession, decoder, &ThreadHandler::onDisconnectSession);

    decoder->start(QThread::InheritPriority);
    relay->start(QThread::InheritPriority);
}

Session::Session(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<SessionData*>("SessionData*");
}

Session::~Session()
{
    // Relay first: its last signals go to the decoder, whose loop then ends.
    if (relay) {
        if (relay->isRunning())
            relay->stop();
        relay->quit();
        relay->wait();
        threadcheck::arrive(relay);
        delete relay;
    }
    if (decoder) {
        decoder->quit();
        decoder->wait();
        threadcheck::arrive(decoder);
        delete decoder;
    }
}

void Session::stop()
{
    if (relay)
        relay->stop();
}

void Session::onStartSession(QDateTime datetimeStart, QString userName, QString dbName, bool auth)
{
    data = new SessionData;
    data->startedAt = datetimeStart;
    data->userName = userName;
    data->authenticated = auth;
    data->queries.followRatings(&data->durationMsTotal, &data->durationMsMax);
    if (!dbName.isEmpty()) {
        data->dbName = dbName;
        currentDb = dbName;
    }
    emit add(data);
}

void Session::onNewQueries(QList<QVariantList> queries)
{
    if (!data || queries.isEmpty())
        return;
    const uint indexQuery = uint(data->queries.size());
    for (const QVariantList& tuple : queries) {
        Query q = QueryLog::fromTuple(tuple, data->codec);
        totalDurationMs += q.durationMs;
        data->rowsTotal += q.rows;
        data->responseKbTotal += q.responseKb;
        data->requestKbTotal += q.requestKb;
        if (q.durationMs > maxDurationMs)
            maxDurationMs = q.durationMs;
        if (!q.isError) {
            const QString db = QueryLog::useTarget(q.text);
            if (!db.isNull())
                currentDb = db;
            const QString charset = QueryLog::setNamesCharset(q.text);
            if (!charset.isNull())
                data->codec = QueryLog::codecForCharset(charset);
        }
        q.dbName = currentDb;
        data->queries.append(q);
    }
    // Every statement's share of the total and percent of the slowest one
    // are worked out from these when read: a slower statement or a longer
    // total re-rates the whole log without touching it.
    data->durationMsTotal = totalDurationMs;
    data->durationMsMax = maxDurationMs;
    emit newQueries(data->id, indexQuery, uint(queries.size()));
}

void Session::onNewDbName(QString dbName)
{
    currentDb = dbName;
    if (!data)
        return;
    if (data->dbName.isEmpty())
        data->dbName = dbName;
    emit setDbName(data->id, data->dbName, dbName);
}

void Session::disconnectDB(QTime time)
{
    if (data)
        data->duration = time;
    if (relay)
        relay->quit();
    if (decoder)
        decoder->quit();
    emit close(data ? data->id : 0);
}
