#include "DelayRelay.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QQueue>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace {

/// One direction of one connection: bytes read from `from` are written to
/// `to` once they are `delay` ms old and the relay is not paused; when `from`
/// closes, `to` is closed once everything has been delivered.
class Pipe : public QObject
{
public:
    Pipe(QTcpSocket* from, QTcpSocket* to, const QAtomicInt* delay, const QAtomicInt* paused)
        : QObject(from), from(from), to(to), delay(delay), paused(paused)
    {
        clock.start();
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, &Pipe::flush);
        connect(from, &QTcpSocket::readyRead, this, &Pipe::take);
        connect(to, &QTcpSocket::connected, this, &Pipe::flush);
        connect(from, &QTcpSocket::disconnected, this, [this] {
            closing = true;
            take();
        });
    }

private:
    void take()
    {
        const QByteArray bytes = from->readAll();
        if (!bytes.isEmpty())
            pending.enqueue({clock.elapsed() + delay->loadRelaxed(), bytes});
        flush();
    }
    void flush()
    {
        if (to->state() == QAbstractSocket::UnconnectedState)
            pending.clear();
        if (to->state() != QAbstractSocket::ConnectedState)
            return;   // still connecting: everything waits for connected()
        if (paused->loadRelaxed()) {
            timer.start(5);   // held: look again shortly
            return;
        }
        while (!pending.isEmpty() && pending.head().due <= clock.elapsed())
            to->write(pending.dequeue().bytes);
        if (!pending.isEmpty())
            timer.start(int(qMax<qint64>(0, pending.head().due - clock.elapsed())));
        else if (closing)
            to->disconnectFromHost();
    }

    struct Chunk
    {
        qint64 due;
        QByteArray bytes;
    };
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
                new Pipe(client, upstream, &delay, &paused);
                new Pipe(upstream, client, &delay, &paused);
                const auto bothClosed = [client, upstream]() {
                    if (client->state() == QAbstractSocket::UnconnectedState
                        && upstream->state() == QAbstractSocket::UnconnectedState)
                        client->deleteLater();
                };
                QObject::connect(client, &QTcpSocket::disconnected, client, bothClosed);
                QObject::connect(upstream, &QTcpSocket::disconnected, client, bothClosed);
                upstream->connectToHost(host, targetPort);
            }
        });
        ready.release();
        exec();
        // Sockets still open are deleted with the server; a socket closing in
        // its destructor must not reach a pipe writing into one already gone.
        for (QTcpSocket* s : server.findChildren<QTcpSocket*>())
            QObject::disconnect(s, nullptr, nullptr, nullptr);
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

quint16 DelayRelay::port() const { return quint16(worker->listenPort.loadAcquire()); }
void DelayRelay::setPaused(bool on) { worker->paused.storeRelaxed(on ? 1 : 0); }
int DelayRelay::connections() const { return worker->accepted.loadRelaxed(); }
