#pragma once

// The program's main window over a real session manager, and helpers that
// record sessions and statements in the manager the way captured traffic does.

#include "AppFixture.h"
#include "FlowModel.h"
#include "FlowPage.h"
#include "ProxyServer.h"
#include "SessionData.h"
#include "SessionsPage.h"
#include "ui_MainWindow.h"

struct Live : App
{
    /// Capture switched on unless `capture` is false.
    explicit Live(bool capture = true)
    {
        if (capture)
            ui()->startBtn->click();
    }
    Ui::MainWindow* ui() const { return win->form(); }
    /// Points the current profile at `db`'s server, on a free profiler port.
    void useServer(const TestDb& db)
    {
        Profile* p = settings->currentProfile();
        p->Host = db.host;
        p->Port = db.port;
        p->User = db.user;
        p->Password = db.password;
        p->ProfilerPort = freePort();
    }
    /// A proxy of the fixture's own, wired to the window as the program wires it.
    ProxyServer* attachProxy()
    {
        proxy = std::make_unique<ProxyServer>(settings.get(), mngr.get(), lang.get());
        QObject::connect(proxy.get(), &ProxyServer::updateStatSignal, win.get(), &MainWindow::serverStatisticUpdate);
        QObject::connect(win.get(), &MainWindow::startBtnPress, proxy.get(), &ProxyServer::startProxy);
        QObject::connect(win.get(), &MainWindow::stopBtnPress, proxy.get(), &ProxyServer::stopProxy);
        win->setProxy(proxy.get());
        return proxy.get();
    }
    FlowModel* flow() const { return win->flowPage()->model(); }
    QAbstractItemModel* flowView() const { return ui()->flowTable->model(); }
    QStandardItemModel* sessions() const { return win->sessionsPage()->model(); }
    /// Shows the queued statements now, as the flow's next tick would.
    void flush() { win->flowPage()->flush(); }

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
            auto* q = new Query;
            q->isError = t.startsWith(QLatin1Char('!'));
            q->text = q->isError ? t.mid(1) : t;
            q->durationMs = ms;
            q->rows = rows;
            q->responseKb = 0.5f;
            q->dbName = QStringLiteral("shop");
            q->finishedAt = QDateTime::currentDateTime();
            data->rowsTotal += rows;
            data->responseKbTotal += q->responseKb;
            data->queries.append(q);
        }
        mngr->slotQueries(data->id, first, uint(texts.size()));
    }

    void close(SessionData* data, int ms = 1234)
    {
        data->duration = QTime(0, 0).addMSecs(ms);
        mngr->slotClose(data->id);
    }

    /// Column `column` of the flow as the table shows it, top to bottom.
    QStringList flowColumn(int column, int role = Qt::DisplayRole) const
    {
        QStringList out;
        for (int r = 0; r < flowView()->rowCount(); ++r)
            out << flowView()->index(r, column).data(role).toString();
        return out;
    }
    QStringList flowStatements() const { return flowColumn(FlowModel::ColQuery, Qt::UserRole); }

    int sessionRow(unsigned long id) const { return win->sessionsPage()->rowOf(id); }
    QString sessionCell(unsigned long id, int column) const
    {
        const int r = sessionRow(id);
        return r < 0 ? QString() : sessions()->item(r, column)->text();
    }

    std::unique_ptr<ProxyServer> proxy;   ///< from attachProxy()
};
