#pragma once
// Helpers shared by the proxy tests.

#include "MngrSessions.h"
#include "ProxyServer.h"
#include "RunLive.h"
#include "Settings.h"
#include "languageEngine.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

/// Argument `argument` (a list of figures) of the last signal `spy` recorded.
inline QList<double> lastPoll(const QSignalSpy& spy, int argument) { return spy.last().at(argument).value<QList<double>>(); }

/// A proxy whose profile names the test server and a free profiler port;
/// `tweak` may change the profile and settings before the proxy exists.
/// Every signal of the proxy is logged in `events` as one line, a poll as
/// "stats:uptime:number of server/profiler/graph values:version".
struct Rig
{
    Settings settings;
    std::unique_ptr<languageEngine> le;
    std::unique_ptr<MngrSessions> mngr;
    std::unique_ptr<ProxyServer> proxy;
    QStringList events;

    explicit Rig(const TestDb& db, const std::function<void(Profile*, Settings*)>& tweak = {}, bool language = false)
    {
        Profile* p = settings.currentProfile();
        p->Host = db.host;
        p->Port = db.port;
        p->User = db.user;
        p->Password = db.password;
        p->StatusPeriod = 3600; // polls are run by hand unless a test says otherwise
        p->ProfilerPort = freePort();
        if (tweak)
            tweak(p, &settings);
        if (language && (le = std::make_unique<languageEngine>(&settings)))
            le->loadLanguage(settings.Language);
        mngr.reset(new MngrSessions(&settings));
        proxy.reset(new ProxyServer(&settings, mngr.get(), le.get()));
        ProxyServer* s = proxy.get();
        QObject::connect(s, &ProxyServer::serverStateChanged, [this](bool up) { events << (up ? "up" : "down"); });
        QObject::connect(s, &ProxyServer::errorReported, [this](const QString& t, const QString& x) { events << t + '|' + x; });
        QObject::connect(s, &ProxyServer::stopCaptureRequested, [this]() { events << "stop"; });
        QObject::connect(s, &ProxyServer::profilesDialogRequested, [this]() { events << "profiles"; });
        using Values = const QList<double>&;
        QObject::connect(s, &ProxyServer::updateStatSignal, [this](const QString& up, Values a, Values b, Values c, const QString& v) {
            events << QStringLiteral("stats:%1:%2/%3/%4:%5").arg(up).arg(a.size()).arg(b.size()).arg(c.size()).arg(v);
        });
    }
    Profile* profile() { return settings.currentProfile(); }
    quint16 port() { return quint16(profile()->ProfilerPort); }
    /// Runs the event loop until no start is under way; true when running.
    bool settle() { return QTest::qWaitFor([this]() { return !proxy->isStarting(); }, 60000) && proxy->isRunning(); }
    /// startProxy() and settle().
    bool start() { proxy->startProxy(); return settle(); }
    /// Asks for one poll and waits until `count` events are logged: the
    /// poll's, or the recovery's.
    void pollAndWait(int count)
    {
        proxy->updateStatistics();
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), count, 60000);
    }
};
