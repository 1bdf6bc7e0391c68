#include "MainWindow.h"
#include "ui_MainWindow.h"
#include "ui_StatisticsPage.h"

#include "CodeEditor.h"
#include "MngrSessions.h"
#include "PlotterMoved.h"
#include "ProfilesDialog.h"
#include "ProxyServer.h"
#include "SessionData.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "StatisticsPage.h"
#include "StyleEngine.h"
#include "TableButtonDelegate.h"
#include "TextHelpers.h"
#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopWidget>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QStandardItemModel>

languageEngine* MainWindow::_le = nullptr;
StyleEngine* MainWindow::_se = nullptr;
Settings* MainWindow::_settings = nullptr;
MngrSessions* MainWindow::_mngr = nullptr;
QClipboard* MainWindow::_clipboard = nullptr;
MainWindow* MainWindow::_singleton = nullptr;
QSqlDatabase MainWindow::_db;
QString MainWindow::_version = QStringLiteral("4.1.1");

MainWindow::MainWindow(languageEngine* le, StyleEngine* se, Settings* settings, MngrSessions* mngr,
                       QClipboard* clipboard, QWidget* parent)
    : QWidget(parent), ui(new Ui::MainWindow)
{
    _le = le;
    _se = se;
    _settings = settings;
    _mngr = mngr;
    _clipboard = clipboard;
    _singleton = this;
    WidgetEnv::setStyleEngine(se);
    WidgetEnv::setSettings(settings);

    ui->setupUi(this);
    ui->tabWidget->setCurrentIndex(0);
    ui->tabWidget->setTabEnabled(3, false);
    ui->tabWidget->setStyleSheet(QStringLiteral(
        "QTabBar::tab:disabled {width: 20px; color: transparent; background: transparent;}"));
    ui->queryViewer->setReadOnlyStyle();
    ui->queryViewer->setReadOnly(true);

    // The top-query lists show statements in the viewer's highlighted form.
    mngr->highlighter = [](const QString& text) { return MainWindow::toHighlightText(text); };

    connect(le, &languageEngine::languageChange, this, &MainWindow::changeLanguage);
    connect(ui->startBtn, &QPushButton::clicked, this, &MainWindow::onClickStartBtn);
    connect(ui->settingsBtn, &QPushButton::clicked, this, &MainWindow::onClickSettingsBtn);
    connect(this, &MainWindow::changedProfileSettings, this, &MainWindow::settingsUpdate);

    createGraphics();
    createTables();
    settingsUpdate();
    changeLanguage();

    const QRect avail = screen() ? screen()->availableGeometry()
                                 : QApplication::desktop()->availableGeometry(this);
    resize(qMin(width(), avail.width()), qMin(height(), avail.height()));
    move(avail.center() - rect().center());

    connect(&graphTimer, &QTimer::timeout, this, &MainWindow::updateProfilerGraphs);
    graphTimer.start(1000);
}

MainWindow::~MainWindow()
{
    graphTimer.stop();
    if (_mngr)
        _mngr->highlighter = [](const QString& text) { return text.toHtmlEscaped(); };
    delete ui;
    if (_singleton == this)
        _singleton = nullptr;
}

QString MainWindow::recQuery(QString text)
{
    return TextHelpers::recQuery(text);
}

QString MainWindow::remRN(QString text)
{
    return TextHelpers::remRN(text);
}

QString MainWindow::toTooltipStr(QString text)
{
    return TextHelpers::toTooltipStr(text);
}

QString MainWindow::toHighlightText(QString text)
{
    if (_singleton)
        return _singleton->ui->queryViewer->toHighlightText(text);
    return TextHelpers::toHighlightText(text);
}

StatisticsPage* MainWindow::statisticsPage() const
{
    return ui->statisticsTab;
}

void MainWindow::setProxy(ProxyServer* server)
{
    proxy = server;
    connect(server, &ProxyServer::errorReported, this, &MainWindow::showProxyError);
    connect(server, &ProxyServer::stopCaptureRequested, this, [this]() {
        // The proxy asks to return to the stopped state.
        if (capturing)
            onClickStartBtn();
    });
    connect(server, &ProxyServer::profilesDialogRequested, this, &MainWindow::on_profilesBtn_clicked);
}

QSqlDatabase MainWindow::sqlDatabase() const
{
    return proxy ? proxy->database() : QSqlDatabase();
}

void MainWindow::showProxyError(QString title, QString text)
{
    QMessageBox::critical(this, title, text, QMessageBox::Ok);
}

void MainWindow::createGraphics()
{
    serverPlotter = ui->statisticsTab->createPlotter();

    auto* layout = new QHBoxLayout(ui->frame_4);
    layout->setContentsMargins(0, 0, 0, 0);
    flowPlotter = new PlotterMoved(ui->frame_4);
    flowPlotter->setMaxY(20);
    layout->addWidget(flowPlotter);

    const QString title = _le->statistics(QStringLiteral("stat_schedule_str"));
    const QString other = _le->statistics(QStringLiteral("stat_shedule_other_str"));
    serverPlotter->setLabelsGraph(title, other);
    flowPlotter->setLabelsGraph(title, other);
}

void MainWindow::createTables()
{
    ui->statisticsTab->createTables(_mngr, CodeEditor::_css);
    serverBarDelegates = ui->statisticsTab->serverBars();
    profilerBarDelegates = ui->statisticsTab->profilerBars();
}

void MainWindow::settingsUpdate()
{
    if (const Profile* p = _settings->currentProfile())
        ui->statisticsTab->showProfile(*p, _le->statistics(QStringLiteral("stat_nodata_str")));
}

void MainWindow::subscribe(bool on)
{
    if (on) {
        connect(_mngr, &MngrSessions::addSession, this, &MainWindow::addSession);
        connect(_mngr, &MngrSessions::setDbName, this, &MainWindow::setDbName);
        connect(_mngr, &MngrSessions::closeSession, this, &MainWindow::closeSession);
        connect(_mngr, &MngrSessions::newQueriesSession, this, &MainWindow::newQueries);
        connect(_mngr, &MngrSessions::removeSession, this, &MainWindow::removeSession);
    } else {
        disconnect(_mngr, &MngrSessions::addSession, this, &MainWindow::addSession);
        disconnect(_mngr, &MngrSessions::setDbName, this, &MainWindow::setDbName);
        disconnect(_mngr, &MngrSessions::closeSession, this, &MainWindow::closeSession);
        disconnect(_mngr, &MngrSessions::newQueriesSession, this, &MainWindow::newQueries);
        disconnect(_mngr, &MngrSessions::removeSession, this, &MainWindow::removeSession);
    }
}

void MainWindow::onClickStartBtn()
{
    if (const Profile* p = _settings->currentProfile())
        ui->statisticsTab->form()->lbProfPort->setText(QString::number(p->ProfilerPort));

    if (capturing) {
        ui->startBtn->setIcon(QIcon(QStringLiteral(":/images/run.png")));
        ui->startBtn->setText(startStopText.value(0));
        ui->startBtn->setChecked(false);
        capturing = false;
        subscribe(false);
        emit stopBtnPress();
    } else {
        ui->startBtn->setIcon(QIcon(QStringLiteral(":/images/stop.png")));
        ui->startBtn->setText(startStopText.value(1));
        ui->startBtn->setChecked(true);
        subscribe(true);
        capturing = true;
        emit startBtnPress();
    }
}

void MainWindow::onServerStateChanged(bool state)
{
    ui->statisticsTab->showState(state, stateText.value(state ? 0 : 1));
}

void MainWindow::serverStatisticUpdate(QString uptime, QList<double> params, QList<double> paramsFlow,
                                       QList<double> paramsGraph, QString version)
{
    if (!capturing)
        return;
    Ui::StatisticsPage* page = ui->statisticsTab->form();
    const QString none = QStringLiteral("None");

    page->statUptime->setText(uptime == none ? noDataText : uptime);
    page->statAvg->setText(params.isEmpty() ? noDataText
                                            : QLocale::system().toString(params.at(0), 'f', 1));
    ui->statisticsTab->showVersion(version == none ? noDataText : version);

    if (!serverPlotter || params.isEmpty()) {
        const QString noStatus = _le->statistics(QStringLiteral("stat_shedule_no_status_str"));
        for (PlotterMoved* p : {serverPlotter, flowPlotter}) {
            if (!p)
                continue;
            p->setLabelsGraph(noStatus, QString());
            p->clearGraph();
        }
    } else {
        serverPlotter->addValues(params);
        flowPlotter->addValues(paramsFlow);
        const QString title = _le->statistics(QStringLiteral("stat_schedule_str"));
        serverPlotter->setLabelsGraph(title, QString());
        flowPlotter->setLabelsGraph(title, QString());
    }

    if (!paramsGraph.isEmpty()) {
        page->graphDbQueries->addPoint(paramsGraph.value(0));
        page->graphDbConnect->addPoint(paramsGraph.value(1));
        page->graphDbUpload->addPoint(paramsGraph.value(2));
        page->graphDbDownload->addPoint(paramsGraph.value(3));
    }

    const double scales[] = {double(_mngr->countTopQueriesDb), double(_mngr->countTopTablesDb),
                             double(_mngr->countTopDbDb)};
    for (int i = 0; i < serverBarDelegates.size() && i < 3; ++i)
        serverBarDelegates.at(i)->barFullScale = scales[i];
    for (QTableView* v : {page->tableTopQueriesDb, page->tableTopTablesDb, page->tableTopDbDb})
        v->viewport()->update();
}

void MainWindow::newQueries(uint index, uint indexQuery, uint count)
{
    Q_UNUSED(count)
    const SessionData* data = _mngr->getSessionData(index);
    if (!data)
        return;
    for (int i = int(indexQuery); i < data->queries.size(); ++i) {
        const Query* q = data->queries.at(i);
        ++queryCount;
        rowsSeen += q->rows;
        responseKbSeen += q->responseKb;
        requestKbSeen += q->requestKb;
        if (q->isError)
            ++errorQueries;
    }
    showProfilerCounters();

    const double scales[] = {double(_mngr->countTopQueries), double(_mngr->countTopTables),
                             double(_mngr->countTopDb)};
    for (int i = 0; i < profilerBarDelegates.size() && i < 3; ++i)
        profilerBarDelegates.at(i)->barFullScale = scales[i];
    Ui::StatisticsPage* page = ui->statisticsTab->form();
    page->tableTopQueries->viewport()->update();
    page->tableTopDb->viewport()->update();
}

void MainWindow::showProfilerCounters()
{
    Ui::StatisticsPage* page = ui->statisticsTab->form();
    page->queries->setText(QString::number(queryCount));
    page->rows->setText(QString::number(rowsSeen));
    page->receivedKb->setText(QLocale::system().toString(double(responseKbSeen), 'f', 1)
                              + QStringLiteral(" Kb"));
    page->erQueries->setText(QString::number(errorQueries));
    page->erCon->setText(QString::number(errorConnections));
}

void MainWindow::addSession(uint index)
{
    Q_UNUSED(index)
    ui->statisticsTab->form()->sessions->setText(QString::number(_mngr->sessions.size()));
}

void MainWindow::closeSession(uint index)
{
    const SessionData* data = _mngr->getSessionData(index);
    if (data && !data->authenticated) {
        ++errorConnections;
        ui->statisticsTab->form()->erCon->setText(QString::number(errorConnections));
    }
}

void MainWindow::setDbName(ulong id, QString name)
{
    // Only the session list shows databases; the sessions page fills it.
    Q_UNUSED(id)
    Q_UNUSED(name)
}

void MainWindow::removeSession(ulong id)
{
    // Only the session list shows single sessions; the sessions page removes the row.
    Q_UNUSED(id)
    ui->statisticsTab->form()->sessions->setText(QString::number(_mngr->sessions.size()));
}

void MainWindow::updateProfilerGraphs()
{
    Ui::StatisticsPage* page = ui->statisticsTab->form();
    page->graphProfConnect->addPoint(double(_mngr->activeSessions.size()));
    page->graphProfQueries->addPoint(double(queryCount) - previousTotals.value(0));
    page->graphProfUpload->addPoint(double(responseKbSeen) - previousTotals.value(1));
    page->graphProfDownload->addPoint(double(requestKbSeen) - previousTotals.value(2));
    previousTotals = {double(queryCount), double(responseKbSeen), double(requestKbSeen)};
}

void MainWindow::on_profilesBtn_clicked()
{
    ProfilesDialog dialog(_settings, _le, this);
    if (dialog.exec() == QDialog::Accepted) {
        for (QStandardItemModel* m : {static_cast<QStandardItemModel*>(_mngr->modelTopQueries),
                                      static_cast<QStandardItemModel*>(_mngr->modelTopTables),
                                      static_cast<QStandardItemModel*>(_mngr->modelTopDb),
                                      static_cast<QStandardItemModel*>(_mngr->modelTopQueriesDb),
                                      static_cast<QStandardItemModel*>(_mngr->modelTopTablesDb),
                                      static_cast<QStandardItemModel*>(_mngr->modelTopDbDb),
                                      _mngr->modelStatus})
            m->setRowCount(0);
        for (PlotterMoved* p : {serverPlotter, flowPlotter})
            if (p)
                p->clearGraph();
        ui->statisticsTab->clearGraphs();
        if (capturing)
            onClickStartBtn();
        onClickStartBtn();
    }
    emit changedProfileSettings();
}

void MainWindow::onClickSettingsBtn()
{
    {
        SettingsDialog dialog(_le, _settings, this);
        dialog.setFixedSize(dialog.sizeHint().expandedTo(dialog.size()));
        dialog.exec();
    }

    const bool onTop = windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    if (_settings->StayOnTop && !onTop) {
        setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
        show();
    } else if (!_settings->StayOnTop && onTop) {
        setWindowFlags(windowFlags() & ~Qt::WindowStaysOnTopHint);
        show();
    }

    // The flow and the session list keep at most their limits; the pages that
    // own those models trim them when they exist.
    if (!capturing) {
        emit startBtnPress();
        emit stopBtnPress();
    }
}

void MainWindow::copyToClipboard(QString text)
{
    _clipboard->setText(text, QClipboard::Clipboard);
}

void MainWindow::changeLanguage()
{
    const QString oldNoData = noDataText;
    const QStringList oldState = stateText;

    startStopText = QStringList{_le->toolbar(QStringLiteral("start_btn")), _le->toolbar(QStringLiteral("stop_btn"))};
    ui->startBtn->setText(startStopText.value(capturing ? 1 : 0));
    ui->btnSql->setText(_le->toolbar(QStringLiteral("sql_btn")));
    ui->btnArhive->setText(_le->toolbar(QStringLiteral("archive_btn")));
    ui->profilesBtn->setText(_le->toolbar(QStringLiteral("connections_btn")));
    ui->settingsBtn->setText(_le->toolbar(QStringLiteral("settings_btn")));
    ui->helpBtn->setText(_le->toolbar(QStringLiteral("about_btn")));

    const QString title = _le->statistics(QStringLiteral("stat_schedule_str"));
    const QString other = _le->statistics(QStringLiteral("stat_shedule_other_str"));
    for (PlotterMoved* p : {serverPlotter, flowPlotter})
        if (p)
            p->setLabelsGraph(title, other);

    ui->tabWidget->setTabText(0, _le->statistics(QStringLiteral("statistics_title")));
    ui->tabWidget->setTabText(1, _le->flow(QStringLiteral("flow_title")));
    ui->tabWidget->setTabText(2, _le->sessions(QStringLiteral("session_title")));

    Ui::StatisticsPage* page = ui->statisticsTab->form();
    ui->statisticsTab->changeLanguage(_le);

    noDataText = _le->statistics(QStringLiteral("stat_nodata_str"));
    const QString shownVersion = ui->statisticsTab->fullVersion();
    if (shownVersion.isEmpty() || shownVersion == oldNoData)
        ui->statisticsTab->showVersion(noDataText);
    if (page->statUptime->text() == oldNoData)
        page->statUptime->setText(noDataText);
    if (page->statAvg->text() == oldNoData)
        page->statAvg->setText(noDataText);

    stateText = QStringList{_le->statistics(QStringLiteral("running_str")),
                 _le->statistics(QStringLiteral("stopped_str"))};
    for (QLabel* l : {page->lbState, page->lbProfState}) {
        if (l->text() == oldState.value(0))
            l->setText(stateText.value(0));
        else if (l->text() == oldState.value(1))
            l->setText(stateText.value(1));
    }
    settingsUpdate();

    // Flow page.
    ui->btnExplay->setText(_le->flow(QStringLiteral("explain_btn")));
    ui->btnExecute->setText(_le->flow(QStringLiteral("to_sql_editor_btn")));
    ui->lbCodeTitle->setText(_le->flow(QStringLiteral("code_query_str")));
    ui->btnCopy->setToolTip(_le->flow(QStringLiteral("copy_btn")));
    ui->btnExport->setText(_le->flow(QStringLiteral("export_btn")));
    ui->btnFilter->setText(_le->flow(QStringLiteral("filter_btn")));

    // Sessions page.
    ui->clearSessionsBtn->setText(_le->sessions(QStringLiteral("clear_all_btn")));
    ui->saveBtn->setText(_le->sessions(QStringLiteral("save_session_btn")));
    ui->btnCompareSessions->setText(_le->sessions(QStringLiteral("compare_btn")));
    ui->openTabSBtn->setText(_le->sessions(QStringLiteral("open_tab_btn")));
    performedText = _le->sessions(QStringLiteral("sess_performed_str"));
    yesNoText = QStringList{_le->sessions(QStringLiteral("sess_saved_yes_str")),
                 _le->sessions(QStringLiteral("sess_saved_no_str"))};
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    _settings->saveGeneral();
    event->accept();
}
