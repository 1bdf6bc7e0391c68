#pragma once

// A main window over a real session manager, and helpers that record
// sessions and statements in the manager the way captured traffic does.

#include "FlowModel.h"
#include "FlowPage.h"
#include "MainWindow.h"
#include "MngrSessions.h"
#include "SessionData.h"
#include "SessionsPage.h"
#include "Settings.h"
#include "StyleEngine.h"
#include "languageEngine.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QtTest>

#include <memory>

struct LiveFixture
{
    std::unique_ptr<Settings> settings;
    std::unique_ptr<languageEngine> lang;
    std::unique_ptr<MngrSessions> mngr;
    std::unique_ptr<StyleEngine> style;
    std::unique_ptr<MainWindow> win;

    /// A fresh window (settings.ini removed first); capture on when `capture`.
    bool create(bool capture = true)
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));
        QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
        QFile::remove(Settings::dataLocation() + QStringLiteral("/settings.ini"));
        settings = std::make_unique<Settings>();
        lang = std::make_unique<languageEngine>(settings.get());
        if (!lang->loadLanguage(QStringLiteral("english")))
            return false;
        mngr = std::make_unique<MngrSessions>(settings.get());
        style = std::make_unique<StyleEngine>();
        win = std::make_unique<MainWindow>(lang.get(), style.get(), settings.get(), mngr.get(),
                                           QApplication::clipboard());
        if (capture)
            win->form()->startBtn->click();
        return true;
    }

    void destroy()
    {
        win.reset();
        style.reset();
        mngr.reset();
        lang.reset();
        settings.reset();
    }

    Ui::MainWindow* ui() const { return win->form(); }
    FlowModel* flow() const { return win->flowPage()->model(); }
    QAbstractItemModel* flowView() const { return ui()->flowTable->model(); }
    QStandardItemModel* sessions() const { return win->sessionsPage()->model(); }

    /// A new recorded session (announced by the manager).
    SessionData* addSession(bool authenticated = true, const QString& user = QStringLiteral("app"))
    {
        auto* data = new SessionData;
        data->userName = user;
        data->authenticated = authenticated;
        data->startedAt = QDateTime::currentDateTime();
        mngr->slotAdd(data);
        return data;
    }

    /// Appends statements to `data` and announces them as one batch. A text
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
            q->requestKb = 0.125f;
            q->dbName = QStringLiteral("shop");
            q->finishedAt = QDateTime::currentDateTime();
            data->rowsTotal += rows;
            data->responseKbTotal += q->responseKb;
            data->queries.append(q);
        }
        mngr->slotQueries(data->id, first, uint(texts.size()));
    }

    /// Ends the connection of `data` after `ms` milliseconds.
    void close(SessionData* data, int ms = 1234)
    {
        data->duration = QTime(0, 0).addMSecs(ms);
        mngr->slotClose(data->id);
    }

    /// Shows the queued statements now, as the flow's next tick would.
    void flush() { win->flowPage()->flush(); }

    /// Display texts of column `column` of the flow as the table shows it.
    QStringList flowColumn(int column) const
    {
        QStringList out;
        for (int r = 0; r < flowView()->rowCount(); ++r)
            out << flowView()->index(r, column).data().toString();
        return out;
    }

    QStringList flowStatements() const
    {
        QStringList out;
        for (int r = 0; r < flowView()->rowCount(); ++r)
            out << flowView()->index(r, FlowModel::ColQuery).data(Qt::UserRole).toString();
        return out;
    }

    int sessionRow(unsigned long id) const { return win->sessionsPage()->rowOf(id); }
    QString sessionCell(unsigned long id, int column) const
    {
        const int r = sessionRow(id);
        return r < 0 ? QString() : sessions()->item(r, column)->text();
    }
};
