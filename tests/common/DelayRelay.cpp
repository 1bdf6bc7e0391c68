#include "DelayRelay.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QQueue>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace {

/// One direction of one connection: bytes read from `from` are written to
/// `to` once they are `delay` ms old.
class Pipe : public QObject
{
public:
    Pipe(QTcpSocket* from, QTcpSocket* to, const QAtomicInt* delay, const QAtomicInt* paused, QObject* parent)
        : QObject(parent), from(from), to(to), delay(delay), paused(paused)
    {
        clock.start();
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, &Pipe::flush);
        connect(from, &QTcpSocket::readyRead, this, &Pipe::take);
        connect(to, &QTcpSocket::connected, this, &Pipe::flush);
    }

    void take()
    {
        const QByteArray bytes = from->readAll();
        if (bytes.isEmpty())
            return;
        pending.enqueue({clock.elapsed() + delay->loadRelaxed(), bytes});
        schedule();
    }

    /// Writes what is due; true when nothing is left.
    bool flush()
    {
        if (to->state() != QAbstractSocket::ConnectedState) {
            // Still connecting: keep everything until connected().
            if (to->state() == QAbstractSocket::UnconnectedState)
                pending.clear();
            return pending.isEmpty();
        }
        if (paused->loadRelaxed()) {
            // Held: look again shortly.
            timer.start(5);
            return pending.isEmpty();
        }
        const qint64 now = clock.elapsed();
        while (!pending.isEmpty() && pending.head().due <= now)
            to->write(pending.dequeue().bytes);
        schedule();
        if (pending.isEmpty() && closing && to->state() == QAbstractSocket::ConnectedState)
            to->disconnectFromHost();
        return pending.isEmpty();
    }

    /// The source closed: close the target once everything has been delivered.
    void closeAfterFlush()
    {
        take();
        closing = true;
        flush();
    }

private:
    struct Chunk
    {
        qint64 due;
        QByteArray bytes;
    };

    void schedule()
    {
        if (pending.isEmpty()) {
            timer.stop();
            return;
        }
        if (paused->loadRelaxed()) {
            timer.start(5);
            return;
        }
        timer.start(int(qMax<qint64>(0, pending.head().due - clock.elapsed())));
    }

    QTcpSocket* from;
    QTcpSocket* to;
    const QAtomicInt* delay;
    const QAtomicInt* paused;
    QElapsedTimer clock;
    QTimer timer;
    QQueue<Chunk> pending;
    bool closing = false;
};

} // namespace

class DelayRelay::Worker : public QThread
{
public:
    Worker(const QString& host, quint16 port, int delayMs) : host(host), targetPort(port), delay(delayMs) {}

    void run() override
    {
        QTcpServer server;
        if (server.listen(QHostAddress::LocalHost, 0))
            listenPort.storeRelease(server.serverPort());
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server]() {
            while (QTcpSocket* client = server.nextPendingConnection()) {
                accepted.fetchAndAddRelaxed(1);
                auto* upstream = new QTcpSocket(client);
                auto* up = new Pipe(client, upstream, &delay, &paused, client);
                auto* down = new Pipe(upstream, client, &delay, &paused, client);
                QObject::connect(client, &QTcpSocket::disconnected, client, [up]() { up->closeAfterFlush(); });
                QObject::connect(upstream, &QTcpSocket::disconnected, client, [down]() { down->closeAfterFlush(); });
                QObject::connect(client, &QTcpSocket::disconnected, client, [client, upstream]() {
                    if (upstream->state() == QAbstractSocket::UnconnectedState)
                        client->deleteLater();
                });
                QObject::connect(upstream, &QTcpSocket::disconnected, client, [client]() {
                    if (client->state() == QAbstractSocket::UnconnectedState)
                        client->deleteLater();
                });
                upstream->connectToHost(host, targetPort);
            }
        });
        ready.release();
        exec();
    }

    QString host;
    quint16 targetPort;
    QAtomicInt delay;
    QAtomicInt paused{0};
    QAtomicInt accepted{0};
    QAtomicInt listenPort{0};   ///< atomic: QSemaphore orders it, but thread checkers cannot see that
    QSemaphore ready;
};

DelayRelay::DelayRelay(const QString& targetHost, quint16 targetPort, int delayMs)
    : worker(std::make_unique<Worker>(targetHost, targetPort, delayMs))
{
    worker->start();
    worker->ready.acquire();
}

DelayRelay::~DelayRelay()
{
    worker->quit();
    worker->wait();
}

quint16 DelayRelay::port() const
{
    return quint16(worker->listenPort.loadAcquire());
}

void DelayRelay::setPaused(bool on)
{
    worker->paused.storeRelaxed(on ? 1 : 0);
}

int DelayRelay::connections() const
{
    return worker->accepted.loadRelaxed();
}
