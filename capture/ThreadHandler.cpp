#include "ThreadHandler.h"

#include "MysqlProtocol.h"

#include <QMetaType>
#include <QTimer>

ThreadHandler::ThreadHandler(QObject* parent)
    : QThread(parent), m_decoder(this), startTime(QDateTime::currentDateTime())
{
    qRegisterMetaType<QList<QVariantList>>("QList<QVariantList>");
}

ThreadHandler::~ThreadHandler() = default;

quint32 ThreadHandler::decodedLength(const QByteArray& data)
{
    return mysql::decodedLength(data);
}

bool ThreadHandler::uncompressedPacket(QByteArray* data)
{
    return mysql::uncompressFrames(data);
}

void ThreadHandler::run()
{
    QTimer timer;
    flushTimer = &timer;
    connect(&timer, &QTimer::timeout, this, &ThreadHandler::onTimeout);
    timer.start(100);
    exec();
    flushTimer = nullptr;
}

void ThreadHandler::handlerClient(QByteArray data)
{
    m_decoder.feedClient(data.constData(), data.size());
}

void ThreadHandler::handlerMysql(QByteArray data, double ms)
{
    unitTime = QDateTime();   // taken once per unit, when a statement needs it
    m_decoder.feedServer(data.constData(), data.size(), ms);
}

void ThreadHandler::onTimeout()
{
    if (pending.isEmpty())
        return;
    QList<QVariantList> batch;
    batch.swap(pending);
    emit newQueries(batch);
}

void ThreadHandler::onDisconnectSession(QTime time)
{
    if (finished)
        return;
    finished = true;
    if (flushTimer)
        flushTimer->stop();
    onTimeout();
    emit disconnectDb(time);
}

void ThreadHandler::login(const QString& user, const QString& db, bool accepted)
{
    // Statements of an earlier login belong to its record: hand them over first.
    onTimeout();
    emit startSession(startTime, user, db, accepted);
}

void ThreadHandler::statement(MysqlDecoder::Statement&& st)
{
    if (!unitTime.isValid())
        unitTime = QDateTime::currentDateTime();
    QVariantList tuple;
    tuple.reserve(7);
    tuple << unitTime << st.ms << st.text << st.requestKb << st.responseKb << int(st.rows) << st.error;
    pending.append(tuple);
}

void ThreadHandler::databaseChanged(const QString& name)
{
    // Keep the order of statements and database changes.
    onTimeout();
    emit newDbName(name);
}
