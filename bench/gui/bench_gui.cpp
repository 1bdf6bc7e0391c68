// The main window with the real proxy and session manager in one process,
// watched while a client load runs through its profiler port.
//
// It starts capture against the given server, opens the busiest session in a
// tab after --open-after seconds, and shows in turn the flow page, the
// statistics page and that tab (--cycle seconds each), so that all three are
// painted; with --top-tab patterns the statistics page shows its Patterns list
// (the statement patterns by total time) instead of the top statements.
// It quits after --duration seconds and prints, one "name value"
// per line:
//   statements        statements the window counted
//   lag-ms-p50/p99/max  time from a statement's answer (as decoded) to its
//                     row entering the flow, over every row
//   stall-ms-max      longest gap between two ticks of a 10 ms timer (how long
//                     the GUI thread was busy in one go)
//   rss-mb@S          resident memory S seconds after start (at a third of the
//                     run and at its end)
//   records           statements held by the session records at the end
//   released          statements released to stay within the memory budget
//   statement-mib     MiB the statement logs hold at the end
// With --rss-every S it also prints "rss-mb@S value" every S seconds.
//
// usage: bench_gui --server HOST:PORT --user U --password P --port N
//                  [--duration S] [--open-after S] [--cycle S] [--top-tab queries|patterns]
//                  [--budget MIB] [--rss-every S]

#include "FlowModel.h"
#include "FlowPage.h"
#include "MainWindow.h"
#include "MngrSessions.h"
#include "PatternTable.h"
#include "ProxyServer.h"
#include "SessionData.h"
#include "SessionWidget.h"
#include "SessionsPage.h"
#include "Settings.h"
#include "StatisticsPage.h"
#include "StyleEngine.h"
#include "languageEngine.h"
#include "ui_MainWindow.h"
#include "ui_StatisticsPage.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double rssMb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

double percentile(std::vector<qint64> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return double(v.at(std::min(v.size() - 1, size_t(p * double(v.size())))));
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));
    app.setStyleSheet(QStringLiteral("QTableView {selection-background-color: #9cceff; selection-color: #000000}"));

    QString server, user, password;
    QString topTab = QStringLiteral("queries");
    int port = 0, duration = 180, openAfter = 5, cycle = 5, budget = 0, rssEvery = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& k = args.at(i);
        const QString& v = args.at(i + 1);
        if (k == QLatin1String("--server")) server = v;
        else if (k == QLatin1String("--user")) user = v;
        else if (k == QLatin1String("--password")) password = v;
        else if (k == QLatin1String("--port")) port = v.toInt();
        else if (k == QLatin1String("--duration")) duration = v.toInt();
        else if (k == QLatin1String("--open-after")) openAfter = v.toInt();
        else if (k == QLatin1String("--cycle")) cycle = v.toInt();
        else if (k == QLatin1String("--top-tab")) topTab = v;
        else if (k == QLatin1String("--budget")) budget = v.toInt();
        else if (k == QLatin1String("--rss-every")) rssEvery = v.toInt();
        else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(k));
            return 2;
        }
    }
    if (server.isEmpty() || port <= 0 || duration <= 0
        || (topTab != QLatin1String("queries") && topTab != QLatin1String("patterns"))) {
        std::fprintf(stderr, "usage: bench_gui --server HOST:PORT --user U --password P --port N "
                             "[--duration S] [--open-after S] [--cycle S] [--top-tab queries|patterns]\n");
        return 2;
    }

    Settings settings;
    languageEngine lang(&settings);
    if (!lang.loadLanguage(QStringLiteral("english"))) {
        std::fprintf(stderr, "no language file (QUARVEL_DATA_DIR?)\n");
        return 1;
    }
    Profile* p = settings.currentProfile();
    if (!p) {
        std::fprintf(stderr, "no connection profile\n");
        return 1;
    }
    p->Host = server.section(QLatin1Char(':'), 0, 0);
    p->Port = server.section(QLatin1Char(':'), 1, 1).toInt();
    p->ConnectionMethod = 0;
    p->User = user;
    p->Password = password;
    p->ProfilerPort = port;
    p->StatusPeriod = 3;
    settings.AutoOpenNewSession = false;
    if (budget > 0)
        settings.MemoryBudget = budget;

    MngrSessions mngr(&settings);
    StyleEngine style;
    MainWindow window(&lang, &style, &settings, &mngr, QApplication::clipboard());
    window.resize(1280, 800);
    window.show();

    ProxyServer proxy(&settings, &mngr, &lang);
    QObject::connect(&proxy, &ProxyServer::updateStatSignal, &window, &MainWindow::serverStatisticUpdate);
    QObject::connect(&window, &MainWindow::startBtnPress, &proxy, &ProxyServer::startProxy);
    QObject::connect(&window, &MainWindow::stopBtnPress, &proxy, &ProxyServer::stopProxy);
    QObject::connect(&proxy, &ProxyServer::serverStateChanged, &window, &MainWindow::onServerStateChanged);
    window.setProxy(&proxy);
    window.onClickStartBtn();
    if (!window.isCapturing()) {
        std::fprintf(stderr, "capture did not start\n");
        return 1;
    }
    std::printf("listening %d\n", port);
    std::fflush(stdout);

    QElapsedTimer clock;
    clock.start();

    // Lag of every row entering the flow.
    std::vector<qint64> lags;
    lags.reserve(1 << 20);
    FlowModel* flow = window.flowPage()->model();
    QObject::connect(flow, &QAbstractItemModel::rowsInserted, flow, [&](const QModelIndex&, int first, int last) {
        const QDateTime now = QDateTime::currentDateTime();
        for (int r = first; r <= last; ++r)
            lags.push_back(flow->row(r).finishedAt.msecsTo(now));
    });

    // Longest stall of the GUI thread.
    qint64 lastBeat = 0, stallMax = 0;
    QTimer beat;
    beat.setInterval(10);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastBeat > 0) {
            stallMax = std::max(stallMax, now - lastBeat);
            if (now - lastBeat >= 500)
                std::fprintf(stderr, "stall %lld ms ending at %.1f s\n", static_cast<long long>(now - lastBeat),
                             now / 1000.0);
        }
        lastBeat = now;
    });
    beat.start();

    // The busiest session in a tab, then the three pages in turn.
    Ui::MainWindow* ui = window.form();
    QWidget* sessionTab = nullptr;
    QTimer::singleShot(openAfter * 1000, &window, [&] {
        int best = -1, most = -1;
        for (int i = 0; i < mngr.sessions.size(); ++i)
            if (mngr.sessions.at(i)->authenticated && mngr.sessions.at(i)->queries.size() > most) {
                most = mngr.sessions.at(i)->queries.size();
                best = i;
            }
        QElapsedTimer opening;
        opening.start();
        if (best >= 0)
            sessionTab = window.sessionsPage()->openTab(mngr.sessions.at(best), uint(best), true);
        std::fprintf(stderr, "tab of %d statements opened in %lld ms\n", most,
                     static_cast<long long>(opening.elapsed()));
        std::printf("opened-session-tab %d\n", sessionTab ? 1 : 0);
        std::fflush(stdout);
    });
    if (topTab == QLatin1String("patterns"))
        window.statisticsPage()->form()->tabsTop->setCurrentWidget(window.statisticsPage()->patternsTable());
    ui->tabWidget->setCurrentIndex(1);
    QTimer pages;
    int page = 0;
    QObject::connect(&pages, &QTimer::timeout, [&] {
        page = (page + 1) % 3;
        std::fprintf(stderr, "page %d at %.1f s\n", page, clock.elapsed() / 1000.0);
        if (page == 0)
            ui->tabWidget->setCurrentIndex(1);
        else if (page == 1)
            ui->tabWidget->setCurrentIndex(0);
        else if (sessionTab && ui->tabWidget->indexOf(sessionTab) >= 0)
            ui->tabWidget->setCurrentWidget(sessionTab);
    });
    pages.start(cycle * 1000);

    QTimer rssTimer;
    QObject::connect(&rssTimer, &QTimer::timeout, [&] {
        std::printf("rss-mb@%.0f %.1f\n", clock.elapsed() / 1000.0, rssMb());
        std::fflush(stdout);
    });
    if (rssEvery > 0)
        rssTimer.start(rssEvery * 1000);
    QList<QPair<int, double>> rss;
    const int firstSample = std::max(1, std::min(60, duration / 3));
    QTimer::singleShot(firstSample * 1000, [&] { rss << qMakePair(firstSample, rssMb()); });
    QTimer::singleShot(duration * 1000, [&] {
        rss << qMakePair(duration, rssMb());
        app.quit();
    });
    app.exec();

    qint64 records = 0, released = 0;
    for (const SessionData* d : qAsConst(mngr.sessions)) {
        records += d->queries.kept();
        released += d->queries.released();
    }
    std::printf("released %lld\n", static_cast<long long>(released));
    std::printf("statement-mib %.1f\n", double(mngr.statementBytes()) / (1024 * 1024));
    std::printf("statements %u\n", window.queryCount);
    std::printf("flow-rows %d\n", flow->rowCount());
    std::printf("flow-rows-highlighted %d\n", flow->highlightedCount());
    std::printf("lag-ms-p50 %.0f\n", percentile(lags, 0.50));
    std::printf("lag-ms-p99 %.0f\n", percentile(lags, 0.99));
    std::printf("lag-ms-max %.0f\n", percentile(lags, 1.0));
    std::printf("stall-ms-max %lld\n", static_cast<long long>(stallMax));
    for (const auto& s : rss)
        std::printf("rss-mb@%d %.1f\n", s.first, s.second);
    std::printf("records %lld\n", static_cast<long long>(records));
    std::printf("top-queries-rows %d\n", mngr.modelTopQueries->rowCount());
    std::fflush(stdout);

    window.onClickStartBtn();
    return 0;
}
