// How long the window's thread is held up by the server statistics: the
// proxy starts against the given server and polls it every second, while a
// 10 ms timer in the same thread records how late each of its ticks comes.
// Run it against a far-away server (tests' delay-relay in front of one).
//
// With --window the real main window (offscreen or on the display) is built,
// wired to the proxy as the program wires it and shown on its statistics
// page; the start button starts capture and every poll is drawn by the
// window. Without it the proxy and poller run alone.
//
// Prints, one "name value" per line:
//   start-ms            from the start until the proxy listens
//   start-stall-ms      longest gap between two timer ticks during the start,
//                       without the thread's waits for a processor
//   polls               polls that came back
//   poll-stall-ms-max   longest gap between two ticks while polling, as seen
//   poll-stall-own-ms-max  the same without the thread's waits for a
//                       processor (/proc/thread-self/schedstat): on a busy
//                       machine the other programs' share is left out
//   blocked-ms-per-poll time the thread was held (own gap beyond 10 ms, gaps
//                       over 15 ms only) while polling, divided by the polls
//
// usage: bench_poller --server HOST:PORT --user U --password P [--polls N] [--window 1]

#include "MainWindow.h"
#include "MngrSessions.h"
#include "ProxyServer.h"
#include "Settings.h"
#include "StyleEngine.h"
#include "languageEngine.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {
/// Nanoseconds this thread has waited, runnable, for a processor (the
/// machine busy with other work); 0 where the kernel does not tell.
qint64 runQueueWaitNs()
{
    QFile f(QStringLiteral("/proc/thread-self/schedstat"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().split(' ').value(1).toLongLong();
}

/// Watches the thread with a 10 ms timer: longest gap and time held beyond
/// the tick, both as seen and without the time the thread waited for a
/// processor (what the program itself held it up for on a busy machine).
struct Watch
{
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0, lastWaitNs = 0;
    qint64 longest = 0, longestOwn = 0;
    qint64 held = 0;

    Watch()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this]() { tick(); });
        clock.start();
        lastWaitNs = runQueueWaitNs();
        timer.start(10);
    }
    void tick()
    {
        const qint64 now = clock.elapsed(), gap = now - last, waitNs = runQueueWaitNs();
        const qint64 own = gap - (waitNs - lastWaitNs) / 1000000;
        last = now;
        lastWaitNs = waitNs;
        longest = qMax(longest, gap);
        longestOwn = qMax(longestOwn, own);
        if (own > 15)
            held += own - 10;
    }
    void reset()
    {
        tick();
        longest = longestOwn = held = 0;
    }
};
} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit()); // no settings.ini of the user's
    QApplication app(argc, argv);
    QString server, user, password;
    int polls = 10;
    bool withWindow = false;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--server") server = args[i + 1];
        else if (args[i] == "--user") user = args[i + 1];
        else if (args[i] == "--password") password = args[i + 1];
        else if (args[i] == "--polls") polls = args[i + 1].toInt();
        else if (args[i] == "--window") withWindow = args[i + 1] == "1";
    }
    if (server.isEmpty() || user.isEmpty() || polls < 1) {
        std::fprintf(stderr, "usage: bench_poller --server HOST:PORT --user U --password P [--polls N] [--window 1]\n");
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
    settings.CheckUpdate = false;
    MngrSessions mngr(&settings);
    std::unique_ptr<languageEngine> lang;
    std::unique_ptr<StyleEngine> style;
    std::unique_ptr<MainWindow> window;
    if (withWindow) {
        lang.reset(new languageEngine(&settings));
        if (!lang->loadLanguage(QStringLiteral("english"))) {
            std::fprintf(stderr, "bench_poller: no language file (QUARVEL_DATA_DIR?)\n");
            return 1;
        }
        style.reset(new StyleEngine);
        window.reset(new MainWindow(lang.get(), style.get(), &settings, &mngr, QApplication::clipboard()));
        window->resize(1280, 800);
        window->show();
        window->form()->tabWidget->setCurrentIndex(0); // the statistics page
        QElapsedTimer shown;
        for (shown.start(); shown.elapsed() < 300;)   // the first paint is not the start's
            app.processEvents();
    }
    ProxyServer proxy(&settings, &mngr, lang.get());
    int polled = 0;
    bool failed = false;
    QObject::connect(&proxy, &ProxyServer::updateStatSignal, [&]() { ++polled; });
    QObject::connect(&proxy, &ProxyServer::errorReported, [&](const QString&, const QString& text) {
        std::fprintf(stderr, "bench_poller: %s %s\n", qPrintable(text), qPrintable(proxy.lastDatabaseError()));
        failed = true;
    });
    if (window) {
        QObject::connect(&proxy, &ProxyServer::updateStatSignal, window.get(), &MainWindow::serverStatisticUpdate);
        QObject::connect(window.get(), &MainWindow::startBtnPress, &proxy, &ProxyServer::startProxy);
        QObject::connect(window.get(), &MainWindow::stopBtnPress, &proxy, &ProxyServer::stopProxy);
        QObject::connect(&proxy, &ProxyServer::serverStateChanged, window.get(), &MainWindow::onServerStateChanged);
        window->setProxy(&proxy);
        // the window's own error box would wait for a click: the bench reports and ends instead
        QObject::disconnect(&proxy, &ProxyServer::errorReported, window.get(), nullptr);
    }

    Watch watch;
    QElapsedTimer started;
    started.start();
    if (window)
        window->onClickStartBtn();
    else
        proxy.startProxy();
    while (!failed && !proxy.isRunning())
        app.processEvents(QEventLoop::WaitForMoreEvents);
    if (failed)
        return 1;
    const qint64 startMs = started.elapsed();
    watch.tick();
    const qint64 startStall = watch.longestOwn;

    watch.reset();
    const int first = polled;
    while (!failed && polled - first < polls)
        app.processEvents(QEventLoop::WaitForMoreEvents);
    watch.tick();
    if (window)
        window->onClickStartBtn();
    else
        proxy.stopProxy();

    std::printf("start-ms %lld\nstart-stall-ms %lld\npolls %d\npoll-stall-ms-max %lld\npoll-stall-own-ms-max %lld\n"
                "blocked-ms-per-poll %.1f\n",
                startMs, startStall, polled - first, watch.longest, watch.longestOwn, double(watch.held) / (polled - first));
    return failed ? 1 : 0;
}
