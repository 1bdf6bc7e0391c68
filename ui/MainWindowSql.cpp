// The main window's SQL editor tabs: every way to open one, and their end.
#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "DbConnection.h"
#include "FlowPage.h"
#include "ProxyServer.h"
#include "SessionsPage.h"
#include "Settings.h"
#include "SqlRunner.h"
#include "SqlScript.h"
#include "SqlWidget.h"

namespace {
/// How long closing the window waits for the editors' connections to end, in ms.
constexpr int closeWaitMs = 5000;
} // namespace

void MainWindow::setupSqlTabs()
{
    connect(ui->btnSql, &QPushButton::clicked, this, [this] { addSqlTab(); });
    const auto open = qOverload<QString, int, QString>(&MainWindow::addSqlTab);
    connect(this, &MainWindow::sqlTabRequested, this, open);
    connect(sessionList, &SessionsPage::sqlTabRequested, this, open);
    // The flow's buttons work once there is a statement to send.
    connect(flow, &FlowPage::firstStatementShown, this, [this] {
        ui->btnExecute->setEnabled(true);
        ui->btnExplay->setEnabled(true);
    });
}

void MainWindow::addSqlTab(QString query, int command, QString dbName)
{
    const Profile* profile = _settings->currentProfile();
    ++sqlTabCount;
    auto* tab = new SqlWidget(int(sqlTabCount), profile ? DbConnectionParams::fromProfile(*profile)
                                                        : DbConnectionParams(),
                              query, this, _le);
    // A first guess from the version capture read; the tab's own connection
    // confirms it as soon as it answers.
    const QString version = proxy ? proxy->versionText() : QString();
    tab->setBtnVExplainEnabled(SqlScript::ServerVersion::parse(version).supportsJsonExplain());
    tab->setBtnExplainMdbVisible(profile && profile->DbType == 1);
    connect(tab, &QObject::destroyed, this, &MainWindow::deleteTabSql);

    const int at = ui->tabWidget->addTab(tab, QIcon(QStringLiteral(":/images/tag.png")),
                                         QString::number(sqlTabCount));
    ui->tabWidget->setTabClosable(at);
    ui->tabWidget->setCurrentIndex(at);
    tab->setFocus();

    if (!dbName.isEmpty())
        tab->setDbName(dbName);
    if (command == 1) {
        // A captured statement runs at once only when it cannot change data.
        if (SqlScript::isReadOnlyScript(query))
            tab->on_btnExecute_clicked();
        else
            tab->askBeforeExecute();
    } else if (command == 2) {
        tab->on_btnExplain_clicked();
    }
}

void MainWindow::addSqlTab(QString query, int command)
{
    addSqlTab(query, command, QString());
}

void MainWindow::addSqlTab(QString query)
{
    addSqlTab(query, 0, QString());
}

void MainWindow::addSqlTab()
{
    addSqlTab(QString(), 0, QString());
}

void MainWindow::deleteTabSql()
{
    if (sqlTabCount > 0)
        --sqlTabCount;
}

void MainWindow::closeSqlTabs()
{
    for (SqlWidget* tab : findChildren<SqlWidget*>())
        delete tab;
    SqlRunner::waitForAll(closeWaitMs);
}
