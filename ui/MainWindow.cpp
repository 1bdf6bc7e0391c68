#include "MainWindow.h"
#include "ui_MainWindow.h"
#include "ui_StatisticsPage.h"

#include "ArchiveWidget.h"
#include "BuildInfo.h"
#include "CodeEditor.h"
#include "FlowModel.h"
#include "FlowPage.h"
#include "MngrSessions.h"
#include "PatternTable.h"
#include "PlotterMoved.h"
#include "ProfilesDialog.h"
#include "ProxyServer.h"
#include "SessionData.h"
#include "SessionWidget.h"
#include "SessionsPage.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "StatisticsPage.h"
#include "SortFilterProxyModel.h"
#include "StyleEngine.h"
#include "TableButtonDelegate.h"
#include "TextHelpers.h"
#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QApplication>
#include <QClipboard>
#include <QRegularExpression>
#include <QSplitter>
#include <QCloseEvent>
#include <QDesktopWidget>
#include <QLocale>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>

languageEngine* MainWindow::_le = nullptr;
StyleEngine* MainWindow::_se = nullptr;
Settings* MainWindow::_settings = nullptr;
MngrSessions* MainWindow::_mngr = nullptr;
QClipboard* MainWindow::_clipboard = nullptr;
MainWindow* MainWindow::_singleton = nullptr;
QSqlDatabase MainWindow::_db;
QString MainWindow::_version = QStringLiteral(QUARVEL_VERSION);

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
    WidgetEnv::setLanguage(le);

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
    applyMemoryBudget();
    if (_mngr)
        connect(_mngr, &MngrSessions::statementsReleased, this, &MainWindow::reloadReleased);
    connect(this, &MainWindow::changedProfileSettings, this, &MainWindow::settingsUpdate);
    connect(ui->clearSessionsBtn, &QPushButton::clicked, this, &MainWindow::onClickClearSessionsBtn);
    connect(ui->openTabSBtn, &QPushButton::clicked, this, &MainWindow::openTabSession);
    connect(ui->tableSessions, &QTableView::doubleClicked, this, &MainWindow::openTabSession);
    connect(ui->tabWidget, &TabWidget::tabClose, this, &MainWindow::tabSessionClose);
    connect(ui->saveBtn, &QPushButton::clicked, this, &MainWindow::onClickSaveBtn);
    setupUpdateCheck();

    createGraphics();
    createTables();
    setupSqlTabs();
    loadSavedSessions();
    settingsUpdate();
    changeLanguage();

    const QRect avail = screen() ? screen()->availableGeometry()
                                 : QApplication::desktop()->availableGeometry(this);
    resize(qMin(width(), avail.width()), qMin(height(), avail.height()));
    move(avail.center() - rect().center());
    restoreLayout();

    connect(&graphTimer, &QTimer::timeout, this, &MainWindow::updateProfilerGraphs);
    graphTimer.start(1000);
}

MainWindow::~MainWindow()
{
    graphTimer.stop();
    closeSqlTabs();
    closeSavedSessions();
    // Replies still in flight are dropped with the window, never evaluated.
    network->disconnect(this);
    if (_mngr)
        _mngr->highlighter = [](const QString& text) { return text.toHtmlEscaped(); };
    delete ui;
    if (_singleton == this) {
        _singleton = nullptr;
        WidgetEnv::setLanguage(nullptr);
    }
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
    // a pattern's or table's slowest statement opens in an SQL tab, not run
    for (PatternTable* t : {ui->statisticsTab->patternsTable(), ui->statisticsTab->tablesTable()})
        connect(t, &PatternTable::statementRequested, this,
                [this](const QString& text, const QString& db) { addSqlTab(text, 0, db); });

    flow = new FlowPage(ui, _mngr, _settings, _le, this);
    flow->model()->setHighlighter([](const QString& text) { return MainWindow::toHighlightText(text); });
    flowModel = flow->model();
    flowProxy = flow->proxy();

    sessionList = new SessionsPage(ui, _mngr, _settings, _le, _se, this);
    connect(sessionList, &SessionsPage::copyRequested, this, &MainWindow::copyToClipboard);
    connect(ui->tableSessions->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { on_tableSessions_selectionChanged(); });
    sessionsModel = sessionList->model();
    sessionsProxy = sessionList->proxy();
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
    if (sessionsModel->rowCount() == 0)
        return;
    const SessionData* data = _mngr->getSessionData(index);
    if (!data)
        return;
    sessionList->refreshRow(data);

    const quint32 firstNumber = queryCount + 1;
    bool failed = false;
    for (int i = qMax(int(indexQuery), data->queries.released()); i < data->queries.size(); ++i) {
        const Query stored = data->queries.figures(i);
        const Query* q = &stored;
        ++queryCount;
        rowsSeen += q->rows;
        responseKbSeen += q->responseKb;
        requestKbSeen += q->requestKb;
        if (q->isError) {
            ++errorQueries;
            failed = true;
        }
    }
    if (failed)
        sessionList->markError(data->id);
    // The rows themselves are shown by the flow's next tick.
    flow->enqueue(data, int(indexQuery), firstNumber);
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
    sessionList->addSession(_mngr->getSessionData(index), index);
    ui->statisticsTab->form()->sessions->setText(QString::number(_mngr->sessions.size()));
}

void MainWindow::closeSession(uint index)
{
    const SessionData* data = _mngr->getSessionData(index);
    if (data && sessionList->closeSession(data)) {
        ++errorConnections;
        ui->statisticsTab->form()->erCon->setText(QString::number(errorConnections));
    }
}

void MainWindow::setDbName(ulong id, QString name)
{
    sessionList->setDbName(id, name);
}

void MainWindow::removeSession(ulong id)
{
    sessionList->removeSession(id);
}

void MainWindow::openTabSession()
{
    sessionList->openSelected();
}

void MainWindow::setHighlightSession(ulong id, bool on)
{
    sessionList->setHighlightSession(id, on);
    if (archiveWidget)
        archiveWidget->setHighlighted(id, on);
}

void MainWindow::deleteTabsSessions()
{
    sessionList->deleteTabsSessions();
}

void MainWindow::tabSessionClose(QString id)
{
    // Titles that are no numbers (SQL tabs have numbers too, but no session
    // row of that number is bold unless its tab is open) match nothing.
    setHighlightSession(id.toULong(), false);
}

void MainWindow::on_tableSessions_selectionChanged()
{
    sessionList->selectionChanged();
}

void MainWindow::onClickClearSessionsBtn()
{
    sessionList->clear();
    _mngr->clearAllSessions();

    queryCount = 0;
    rowsSeen = 0;
    errorQueries = 0;
    errorConnections = 0;
    responseKbSeen = 0;
    requestKbSeen = 0;
    previousTotals = {0.0, 0.0, 0.0};
    showProfilerCounters();
    ui->statisticsTab->form()->sessions->setText(QString::number(_mngr->sessions.size()));

    for (TopListModel* m : {_mngr->modelTopQueries, _mngr->modelTopTables, _mngr->modelTopDb})
        m->removeRows(0, m->rowCount());
    _mngr->statementPatterns.clear();
    ui->statisticsTab->refreshPatterns();
    _mngr->modelStatus->removeRows(0, _mngr->modelStatus->rowCount());
    for (PlotterMoved* p : {serverPlotter, flowPlotter})
        if (p)
            p->clearGraph();
    flow->clear();
}

void MainWindow::on_flowTable_doubleClicked(QModelIndex index)
{
    unsigned long id = 0;
    int position = -1;
    if (!flow->statementAt(index, &id, &position))
        return;
    const int sessionIndex = _mngr->getSessionIndex(id);
    SessionData* data = sessionIndex >= 0 ? _mngr->getSessionData(uint(sessionIndex)) : nullptr;
    if (!data || !data->authenticated)
        return;
    sessionList->openTab(data, uint(sessionIndex), true, position);
}

void MainWindow::on_btnCopy_clicked()
{
    copyToClipboard(ui->queryViewer->toPlainText());
}

void MainWindow::on_btnExecute_clicked()
{
    QString text, db;
    if (flow->currentStatement(&text, &db))
        emit sqlTabRequested(text, 1, db);
}

void MainWindow::on_btnExplay_clicked()
{
    QString text, db;
    if (flow->currentStatement(&text, &db))
        emit sqlTabRequested(text, 2, db);
}

void MainWindow::on_btnFilter_clicked()
{
    flow->toggleFilter(ui->btnFilter->isChecked());
}

void MainWindow::on_btnExport_clicked()
{
    flow->runExport();
}

void MainWindow::openTopQuery(QTableView* view, const QModelIndex& index)
{
    const QAbstractItemModel* m = view->model();
    if (!m || !index.isValid())
        return;
    const QString statement = m->index(index.row(), 5).data().toString();
    const QString database = m->index(index.row(), 3).data().toString();
    emit sqlTabRequested(statement, 1, database);
}

void MainWindow::on_tableTopQueries_doubleClicked(QModelIndex index)
{
    openTopQuery(ui->statisticsTab->form()->tableTopQueries, index);
}

void MainWindow::on_tableTopQueriesDb_doubleClicked(QModelIndex index)
{
    openTopQuery(ui->statisticsTab->form()->tableTopQueriesDb, index);
}

void MainWindow::updateProfilerGraphs()
{
    Ui::StatisticsPage* page = ui->statisticsTab->form();
    page->graphProfConnect->addPoint(double(_mngr->activeSessions.size()));
    page->graphProfQueries->addPoint(double(queryCount) - previousTotals.value(0));
    page->graphProfUpload->addPoint(double(responseKbSeen) - previousTotals.value(1));
    page->graphProfDownload->addPoint(double(requestKbSeen) - previousTotals.value(2));
    previousTotals = {double(queryCount), double(responseKbSeen), double(requestKbSeen)};
    ui->statisticsTab->refreshPatterns();
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
        _mngr->statementPatterns.clear();
        ui->statisticsTab->refreshPatterns();
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

    // Lower limits take effect at once: the oldest rows go.
    flow->trimTo(_settings->MaxLinesFlow);
    sessionList->trimTo(_settings->MaxSessions);
    applyMemoryBudget();
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

    flow->changeLanguage();
    sessionList->changeLanguage();
}

void MainWindow::restoreLayout()
{
    // The splitters of the fixed pages (splitterFlow, splitterStat, ...); those
    // of run-time tabs are all called "splitter" and keep their own sizes.
    layoutSplitters = findChildren<QSplitter*>(QRegularExpression(QStringLiteral("^splitter[A-Z]")));
    restoreGeometry(_settings->windowLayout(QStringLiteral("Geometry")));
    for (QSplitter* splitter : qAsConst(layoutSplitters))
        splitter->restoreState(_settings->windowLayout(splitter->objectName()));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    _settings->saveGeneral();
    QMap<QString, QByteArray> layout{{QStringLiteral("Geometry"), saveGeometry()}};
    for (QSplitter* splitter : qAsConst(layoutSplitters))
        layout.insert(splitter->objectName(), splitter->saveState());
    _settings->saveWindowLayout(layout);
    event->accept();
}

void MainWindow::applyMemoryBudget()
{
    if (!_mngr || !_settings)
        return;
    _mngr->memoryBudget = qint64(_settings->MemoryBudget) * 1024 * 1024;
    _mngr->keepWithinBudget();
}

void MainWindow::reloadReleased(ulong id)
{
    // Open tabs of the session let the released rows go.
    const int index = _mngr->getSessionIndex(id);
    const SessionData* data = index >= 0 ? _mngr->getSessionData(uint(index)) : nullptr;
    if (data)
        sessionList->refreshRow(data);
    for (int i = TabWidget::spacerIndex; data && i < ui->tabWidget->count(); ++i)
        if (auto* view = qobject_cast<SessionWidget*>(ui->tabWidget->widget(i)))
            if (view->session() == data)
                view->dropReleased();
}
