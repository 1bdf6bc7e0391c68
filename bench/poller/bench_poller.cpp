// How long the window's thread is held up by the server statistics: the
// proxy starts against the given server and polls it every second, while a
// 10 ms timer in the same thread records how late each of its ticks comes.
// Run it against a far-away server (tests' delay-relay in front of one).
//
// Prints, one "name value" per line:
//   start-ms            from startProxy() until the proxy listens
//   start-stall-ms      longest gap between two timer ticks during the start
//   polls               polls that came back
//   poll-stall-ms-max   longest gap between two ticks while polling
//   blocked-ms-per-poll time the thread was held (gap beyond 10 ms, gaps over
//                       15 ms only) while polling, divided by the polls
//
// usage: bench_poller --server HOST:PORT --user U --password P [--polls N]

#include "MngrSessions.h"
#include "ProxyServer.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {
/// Watches the thread with a 10 ms timer: longest gap and time held beyond the tick.
struct Watch
{
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    qint64 held = 0;

    Watch()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this]() { tick(); });
        clock.start();
        timer.start(10);
    }
    void tick()
    {
        const qint64 now = clock.elapsed(), gap = now - last;
        last = now;
        longest = qMax(longest, gap);
        if (gap > 15)
            held += gap - 10;
    }
    void reset()
    {
        tick();
        longest = held = 0;
    }
};
} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit()); // no settings.ini of the user's
    QCoreApplication app(argc, argv);
    QString server, user, password;
    int polls = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--server") server = args[i + 1];
        else if (args[i] == "--user") user = args[i + 1];
        else if (args[i] == "--password") password = args[i + 1];
        else if (args[i] == "--polls") polls = args[i + 1].toInt();
    }
    if (server.isEmpty() || user.isEmpty() || polls < 1) {
        std::fprintf(stderr, "usage: bench_poller --server HOST:PORT --user U --password P [--polls N]\n");
        return 2;
    }

    Settings settings;
    Profile* p = settings.currentProfile();
    p->Host = server.section(':', 0, 0);
    p->Port = server.section(':', 1).toUInt();
    p->User = user;
    p->Password = password;
    p->StatusPeriod = 1;
    p->ProfilerPort = 0; // any free port
    MngrSessions mngr(&settings);
    ProxyServer proxy(&settings, &mngr, nullptr);
    int polled = 0;
    bool failed = false;
    QObject::connect(&proxy, &ProxyServer::updateStatSignal, [&]() { ++polled; });
    QObject::connect(&proxy, &ProxyServer::errorReported, [&](const QString&, const QString& text) {
        std::fprintf(stderr, "bench_poller: %s %s\n", qPrintable(text), qPrintable(proxy.lastDatabaseError()));
        failed = true;
    });

    Watch watch;
    QElapsedTimer started;
    started.start();
    proxy.startProxy();
    while (!failed && !proxy.isRunning())
        app.processEvents(QEventLoop::WaitForMoreEvents);
    if (failed)
        return 1;
    const qint64 startMs = started.elapsed();
    watch.tick();
    const qint64 startStall = watch.longest;

    watch.reset();
    const int first = polled;
    while (!failed && polled - first < polls)
        app.processEvents(QEventLoop::WaitForMoreEvents);
    watch.tick();
    proxy.stopProxy();

    std::printf("start-ms %lld\nstart-stall-ms %lld\npolls %d\npoll-stall-ms-max %lld\nblocked-ms-per-poll %.1f\n",
                startMs, startStall, polled - first, watch.longest, double(watch.held) / (polled - first));
    return failed ? 1 : 0;
}
