#include "SqlRunner.h"

#include "SqlWorker.h"

#include <QDeadlineTimer>
#include <QList>
#include <QMutexLocker>
#include <QPointer>
#include <QThread>

namespace {

/// Threads of destroyed runners and stop threads, which may still run; GUI thread only.
QList<QPointer<QThread>>& liveThreads()
{
    static QList<QPointer<QThread>> threads;
    return threads;
}

void track(QThread* thread)
{
    QList<QPointer<QThread>>& threads = liveThreads();
    threads.removeAll(QPointer<QThread>());
    threads.append(thread);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
}

void registerTypes()
{
    static const bool done = [] {
        qRegisterMetaType<SqlJob>("SqlJob");
        qRegisterMetaType<SqlOutcome>("SqlOutcome");
        qRegisterMetaType<QVector<SqlOutcome>>("QVector<SqlOutcome>");
        qRegisterMetaType<SqlRunEnd>("SqlRunEnd");
        return true;
    }();
    Q_UNUSED(done)
}

} // namespace

SqlRunner::SqlRunner(const DbConnectionParams& params, QObject* parent)
    : QObject(parent), control(std::make_shared<SqlRunControl>(params))
{
    registerTypes();
    thread = new QThread;
    thread->setObjectName(QStringLiteral("sql-editor"));
    worker = new SqlWorker(control);
    worker->moveToThread(thread);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &SqlWorker::connected, this, &SqlRunner::connected);
    connect(worker, &SqlWorker::connectFailed, this, &SqlRunner::connectFailed);
    connect(worker, &SqlWorker::progress, this, &SqlRunner::progress);
    connect(worker, &SqlWorker::finished, this, &SqlRunner::onFinished);
    thread->start();
}

SqlRunner::~SqlRunner()
{
    // The worker may be inside a statement: stop it, and let the thread end
    // after its run without anyone waiting here.
    stop();
    track(thread);
    QMetaObject::invokeMethod(worker, "shutdown", Qt::QueuedConnection);
}

void SqlRunner::connectServer()
{
    QMetaObject::invokeMethod(worker, "connectServer", Qt::QueuedConnection);
}

bool SqlRunner::start(const SqlJob& job)
{
    if (busy)
        return false;
    busy = true;
    {
        QMutexLocker lock(&control->mutex);
        control->stopRequested = false;
    }
    QMetaObject::invokeMethod(worker, "run", Qt::QueuedConnection, Q_ARG(SqlJob, job));
    return true;
}

void SqlRunner::stop()
{
    if (!busy)
        return;
    quint64 target;
    {
        QMutexLocker lock(&control->mutex);
        control->stopRequested = true;
        target = control->executing;
    }
    if (target == 0)
        return; // between statements: the next one does not start
    std::shared_ptr<SqlRunControl> c = control;
    QThread* killer = QThread::create([c, target] { SqlWorker::killStatement(c, target); });
    killer->setObjectName(QStringLiteral("sql-stop"));
    track(killer);
    killer->start();
}

void SqlRunner::onFinished(SqlRunEnd end, QString error)
{
    busy = false;
    emit finished(end, error);
}

bool SqlRunner::waitForAll(int ms)
{
    const QDeadlineTimer deadline(ms);
    bool all = true;
    for (const QPointer<QThread>& t : liveThreads()) {
        if (!t)
            continue;
        if (t->wait(deadline))
            delete t.data();
        else
            all = false;
    }
    liveThreads().removeAll(QPointer<QThread>());
    return all;
}
