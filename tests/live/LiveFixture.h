#pragma once

// The program's main window with capture switched on, and its live views
// read as the user sees them.

#include "AppFixture.h"
#include "FlowModel.h"
#include "FlowPage.h"
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
    FlowModel* flow() const { return win->flowPage()->model(); }
    QAbstractItemModel* flowView() const { return ui()->flowTable->model(); }
    QStandardItemModel* sessions() const { return win->sessionsPage()->model(); }
    /// Shows the queued statements now, as the flow's next tick would.
    void flush() { win->flowPage()->flush(); }

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
};
