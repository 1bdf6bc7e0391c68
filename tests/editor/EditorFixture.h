#pragma once
// Shared by the editor tests: driving an SQL editor tab and reading its log.

#include "DbConnection.h"
#include "SqlRunner.h"
#include "SqlWidget.h"
#include "TestDb.h"
#include "ui_SqlWidget.h"

#include <QtTest>
#include <QtWidgets>

/// The connection parameters of the test server's user (on `port` when given).
inline DbConnectionParams paramsFor(const TestDb& db, quint16 port = 0)
{
    return {db.host, port ? port : db.port, db.user, db.password, {}};
}

/// Waits until the tab's connection listed the server's databases.
inline bool waitConnected(SqlWidget* w)
{
    return QTest::qWaitFor([w] { return w->form()->cbxDb->count() > 1; }, 30000);
}

/// Clicks `button` of tab `w` and waits for the run to end; how it ended.
inline SqlRunEnd runAndWait(SqlWidget* w, QAbstractButton* button)
{
    QSignalSpy done(w, &SqlWidget::runFinished);
    button->click();
    if (!w->isRunning())
        return SqlRunEnd::NoConnection;   // nothing started
    if (!done.wait(120000))
        qFatal("the run did not end");
    return done.first().first().value<SqlRunEnd>();
}

/// Runs `text` with `button` ("btnExecute", "btnProfile", ...).
inline SqlRunEnd runText(SqlWidget* w, const QString& text, const char* button = "btnExecute")
{
    w->form()->codeviewer->setPlainText(text);
    return runAndWait(w, w->findChild<QAbstractButton*>(QLatin1String(button)));
}

/// How many statements `db`'s server runs whose text is like `pattern`.
inline int runningOn(const TestDb& db, const QString& pattern)
{
    return db.runClient("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO LIKE '" + pattern + "'").toInt();
}

/// Starts `text` in tab `w` and waits until `db`'s server runs a statement like `pattern`.
inline bool startRunning(SqlWidget* w, const QString& text, const TestDb& db, const QString& pattern)
{
    w->form()->codeviewer->setPlainText(text);
    w->form()->btnExecute->click();
    return QTest::qWaitFor([&] { return runningOn(db, pattern) == 1; }, 20000);
}

/// The log as "status|statement|rows", oldest first, and the result tab titles.
inline QStringList logRows(SqlWidget* w)
{
    QStringList out;
    const QTableWidget* log = w->form()->tableLog;
    for (int r = 0; r < log->rowCount(); ++r)
        out << log->item(r, 1)->text() + '|' + log->item(r, 2)->text() + '|' + log->item(r, 3)->text();
    return out;
}
inline QStringList tabTitles(SqlWidget* w)
{
    QStringList out;
    for (int i = 0; i < w->form()->tabWidget->count(); ++i)
        out << w->form()->tabWidget->tabText(i);
    return out;
}
