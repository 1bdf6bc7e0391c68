#pragma once
// The program's objects on a fresh settings.ini, for the window and dialog tests and the live view
// tests (tests/live/LiveFixture.h); the modal watcher and widget lookup come with it.

#include "MainWindow.h"
#include "ModalWatcher.h"
#include "MngrSessions.h"
#include "ProxyServer.h"
#include "SessionData.h"
#include "StyleEngine.h"
#include "TestDb.h"
#include "TestTexts.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <memory>

/// Settings on a fresh settings.ini, English texts, the session manager and
/// the main window, wired as the program wires them; sessions and statements
/// recorded in the manager the way captured traffic records them.
struct App : EnglishTexts
{
    App() : EnglishTexts(true)
    {
        QObject::connect(settings.get(), &Settings::changeLanguage, lang.get(), &languageEngine::changeLanguage);
        mngr = std::make_unique<MngrSessions>(settings.get());
        style = std::make_unique<StyleEngine>();
        win = std::make_unique<MainWindow>(lang.get(), style.get(), settings.get(), mngr.get(), qApp->clipboard());
    }
    /// Points the current profile at `db`'s server (or `host`:`port`), on a free profiler port.
    void useServer(const TestDb& db) { useServer(db.host, db.port, db.user, db.password); }
    void useServer(const QString& host, int port, const QString& user = {}, const QString& password = {})
    {
        Profile* p = settings->currentProfile();
        p->Host = host;
        p->Port = port;
        p->User = user;
        p->Password = password;
        p->ProfilerPort = freePort();
    }
    /// A proxy of the fixture's own, wired to the window as the program wires it.
    ProxyServer* attachProxy()
    {
        proxy = std::make_unique<ProxyServer>(settings.get(), mngr.get(), lang.get());
        QObject::connect(proxy.get(), &ProxyServer::updateStatSignal, win.get(), &MainWindow::serverStatisticUpdate);
        QObject::connect(proxy.get(), &ProxyServer::serverStateChanged, win.get(), &MainWindow::onServerStateChanged);
        QObject::connect(win.get(), &MainWindow::startBtnPress, proxy.get(), &ProxyServer::startProxy);
        QObject::connect(win.get(), &MainWindow::stopBtnPress, proxy.get(), &ProxyServer::stopProxy);
        win->setProxy(proxy.get());
        return proxy.get();
    }
    /// A new session announced to the manager, as a client connection is.
    SessionData* addSession(bool authenticated = true)
    {
        auto* data = new SessionData;
        data->userName = QStringLiteral("app");
        data->authenticated = authenticated;
        data->startedAt = QDateTime::currentDateTime();
        mngr->slotAdd(data);
        return data;
    }

    /// Appends statements to `data` and announces them as one batch; a text
    /// starting with "!" is recorded as failed (the "!" removed).
    void addQueries(SessionData* data, const QStringList& texts, double ms = 1.5, unsigned rows = 2)
    {
        const uint first = uint(data->queries.size());
        for (const QString& t : texts) {
            const bool failed = t.startsWith(QLatin1Char('!'));
            // text, ms, share, percent of max, rows, KiB answer, KiB request, database, failed, finished
            data->queries.append({failed ? t.mid(1) : t, ms, 0, 0, rows, 0.5f, 0, "shop", failed, QDateTime::currentDateTime()});
            data->rowsTotal += rows;
            data->responseKbTotal += 0.5f;
        }
        mngr->slotQueries(data->id, first, uint(texts.size()));
    }

    /// Ends the session after `ms` milliseconds.
    void close(SessionData* data, int ms = 1234)
    {
        data->duration = QTime(0, 0).addMSecs(ms);
        mngr->slotClose(data->id);
    }

    static QByteArray iniBytes()
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : "<missing>";
    }
    /// "title|text" of a message box whose texts are in `section`.
    QString box(QString (languageEngine::*section)(const QString&) const, const char* title, const char* text) const
    {
        return (lang.get()->*section)(title) + '|' + (lang.get()->*section)(text);
    }

    std::unique_ptr<MngrSessions> mngr;
    std::unique_ptr<StyleEngine> style;
    std::unique_ptr<MainWindow> win;
    std::unique_ptr<ProxyServer> proxy;   ///< from attachProxy()
};
