// The main window shell: start/stop of capture and its subscription to the
// session manager, the server statistics on the statistics page, the profile
// shown there, the profile dialog's aftermath and the close event.

#include "MainWindow.h"
#include "ui_MainWindow.h"
#include "ui_StatisticsPage.h"

#include "GraphStatistics.h"
#include "ModalWatcher.h"
#include "MngrSessions.h"
#include "PlotterMoved.h"
#include "ProxyServer.h"
#include "SessionData.h"
#include "Settings.h"
#include "StatisticsPage.h"
#include "StyleEngine.h"
#include "TestDb.h"
#include "languageEngine.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTableView>
#include <QtTest>

#include <memory>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startStopToggle();
    void thirdPressSubscribesOnce();
    void stoppedWindowIgnoresCapture();
    void statisticsIgnoredWhileStopped();
    void statisticsShown();
    void missingStatisticsShowNoData();
    void longVersionElided();
    void profileShownOnPage();
    void serverStateIndicators();
    void profilerGraphsPerSecond();
    void topTablesThroughProxies();
    void closeSavesGeneral();
    void acceptedProfileStartsCapture();
    void proxyFailureShownAndCaptureStopped();
    void proxyStartShowsServer();

private:
    /// The proxy wired to the window as the program wires it.
    std::unique_ptr<ProxyServer> makeProxy();
    /// A recorded session in the manager with `n` statements of 3 rows and
    /// 1.5 Kb each, the second one failed; returns its list position.
    uint addSessionWithQueries(int n);
    QImage iconImage(const QIcon& icon) const { return icon.pixmap(16).toImage(); }
    Ui::StatisticsPage* page() const { return win->statisticsPage()->form(); }

    std::unique_ptr<Settings> settings;
    std::unique_ptr<languageEngine> lang;
    std::unique_ptr<MngrSessions> mngr;
    std::unique_ptr<StyleEngine> style;
    std::unique_ptr<MainWindow> win;
};

void TestMainWindow::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
}

void TestMainWindow::init()
{
    QFile::remove(Settings::dataLocation() + QStringLiteral("/settings.ini"));
    settings = std::make_unique<Settings>();
    lang = std::make_unique<languageEngine>(settings.get());
    QVERIFY(lang->loadLanguage(QStringLiteral("english")));
    mngr = std::make_unique<MngrSessions>(settings.get());
    style = std::make_unique<StyleEngine>();
    win = std::make_unique<MainWindow>(lang.get(), style.get(), settings.get(), mngr.get(),
                                       QApplication::clipboard());
}

void TestMainWindow::cleanup()
{
    win.reset();
    style.reset();
    mngr.reset();
    lang.reset();
    settings.reset();
}

uint TestMainWindow::addSessionWithQueries(int n)
{
    auto* data = new SessionData;
    data->userName = QStringLiteral("app");
    data->authenticated = true;
    mngr->slotAdd(data);
    for (int i = 0; i < n; ++i) {
        auto* q = new Query;
        q->text = QStringLiteral("SELECT %1").arg(i);
        q->rows = 3;
        q->responseKb = 1.5f;
        q->requestKb = 0.25f;
        q->isError = (i == 1);
        q->finishedAt = QDateTime::currentDateTime();
        data->queries.append(q);
    }
    mngr->slotQueries(data->id, 0, uint(n));
    return uint(mngr->getSessionIndex(data->id));
}

void TestMainWindow::startStopToggle()
{
    QSignalSpy starts(win.get(), &MainWindow::startBtnPress);
    QSignalSpy stops(win.get(), &MainWindow::stopBtnPress);
    QPushButton* btn = win->form()->startBtn;
    const QImage run = iconImage(QIcon(QStringLiteral(":/images/run.png")));
    const QImage stop = iconImage(QIcon(QStringLiteral(":/images/stop.png")));
    QVERIFY(run != stop);

    btn->click();
    QVERIFY(win->isCapturing());
    QVERIFY(btn->isChecked());
    QCOMPARE(btn->text(), lang->toolbar(QStringLiteral("stop_btn")));
    QCOMPARE(iconImage(btn->icon()), stop);
    QCOMPARE(starts.count(), 1);

    btn->click();
    QVERIFY(!win->isCapturing());
    QVERIFY(!btn->isChecked());
    QCOMPARE(btn->text(), lang->toolbar(QStringLiteral("start_btn")));
    QCOMPARE(iconImage(btn->icon()), run);
    QCOMPARE(stops.count(), 1);
    QCOMPARE(starts.count(), 1);
}

void TestMainWindow::thirdPressSubscribesOnce()
{
    QPushButton* btn = win->form()->startBtn;
    btn->click();
    btn->click();
    btn->click();
    QVERIFY(win->isCapturing());
    addSessionWithQueries(4);
    QCOMPARE(win->queryCount, 4u);
    QCOMPARE(win->rowsSeen, 12u);
    QCOMPARE(win->errorQueries, 1u);
    QCOMPARE(page()->queries->text(), QStringLiteral("4"));
    QCOMPARE(page()->rows->text(), QStringLiteral("12"));
    QCOMPARE(page()->erQueries->text(), QStringLiteral("1"));
    QCOMPARE(page()->receivedKb->text(), QLocale::system().toString(6.0, 'f', 1) + QStringLiteral(" Kb"));
    QCOMPARE(page()->sessions->text(), QStringLiteral("1"));

    // A session that never logged in counts once among the failed connections.
    auto* failed = new SessionData;
    mngr->slotAdd(failed);
    mngr->slotClose(failed->id);
    QCOMPARE(win->errorConnections, 1u);
    QCOMPARE(page()->erCon->text(), QStringLiteral("1"));
}

void TestMainWindow::stoppedWindowIgnoresCapture()
{
    QPushButton* btn = win->form()->startBtn;
    btn->click();
    addSessionWithQueries(2);
    QCOMPARE(win->queryCount, 2u);
    btn->click();
    addSessionWithQueries(5);
    QCOMPARE(win->queryCount, 2u);
    QCOMPARE(page()->queries->text(), QStringLiteral("2"));
    QCOMPARE(page()->sessions->text(), QStringLiteral("1"));
    // The manager went on recording.
    QCOMPARE(mngr->sessions.size(), 2);
}

void TestMainWindow::statisticsIgnoredWhileStopped()
{
    const QString uptimeBefore = page()->statUptime->text();
    const QString avgBefore = page()->statAvg->text();
    win->serverStatisticUpdate(QStringLiteral("0 days 01:00"), {10, 5, 1, 1, 1, 2}, {4, 1, 1, 1, 1, 0},
                               {7, 2, 3, 4}, QStringLiteral("10.11.6-MariaDB"));
    QCOMPARE(page()->statUptime->text(), uptimeBefore);
    QCOMPARE(page()->statAvg->text(), avgBefore);
    QVERIFY(page()->graphDbQueries->values().isEmpty());
    QVERIFY(win->statisticsPage()->fullVersion() != QStringLiteral("10.11.6-MariaDB"));
}

void TestMainWindow::statisticsShown()
{
    win->form()->startBtn->click();
    win->serverStatisticUpdate(QStringLiteral("0 days 01:00"), {12.25, 5, 1, 1, 1, 4.25}, {4, 1, 1, 1, 1, 0},
                               {7, 2, 3, 4}, QStringLiteral("10.11.6-MariaDB"));
    QCOMPARE(page()->statUptime->text(), QStringLiteral("0 days 01:00"));
    QCOMPARE(page()->statAvg->text(), QLocale::system().toString(12.25, 'f', 1));
    QCOMPARE(win->statisticsPage()->fullVersion(), QStringLiteral("10.11.6-MariaDB"));
    QCOMPARE(page()->graphDbQueries->values(), QList<double>{7});
    QCOMPARE(page()->graphDbConnect->values(), QList<double>{2});
    QCOMPARE(page()->graphDbUpload->values(), QList<double>{3});
    QCOMPARE(page()->graphDbDownload->values(), QList<double>{4});
    auto* serverPlotter = page()->frame_2->findChild<PlotterMoved*>();
    auto* flowPlotter = win->form()->frame_4->findChild<PlotterMoved*>();
    QVERIFY(serverPlotter && flowPlotter);
    QCOMPARE(serverPlotter->values().size(), 1);
    QCOMPARE(serverPlotter->values().at(0).value(0), 12.25);
    QCOMPARE(flowPlotter->values().at(0).value(0), 4.0);

    // No graph values: the server graphs get no point.
    win->serverStatisticUpdate(QStringLiteral("0 days 01:01"), {1, 1, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {},
                               QStringLiteral("10.11.6-MariaDB"));
    QCOMPARE(page()->graphDbQueries->values().size(), 1);
    QCOMPARE(serverPlotter->values().size(), 2);
}

void TestMainWindow::missingStatisticsShowNoData()
{
    win->form()->startBtn->click();
    win->serverStatisticUpdate(QStringLiteral("1 day 00:00"), {3, 1, 1, 1, 0, 0}, {2, 1, 1, 0, 0, 0}, {1, 1, 1, 1},
                               QStringLiteral("8.0.36"));
    auto* serverPlotter = page()->frame_2->findChild<PlotterMoved*>();
    auto* flowPlotter = win->form()->frame_4->findChild<PlotterMoved*>();
    QCOMPARE(serverPlotter->values().size(), 1);

    win->serverStatisticUpdate(QStringLiteral("None"), {}, {}, {}, QStringLiteral("None"));
    const QString noData = lang->statistics(QStringLiteral("stat_nodata_str"));
    QVERIFY(noData != QStringLiteral("None"));
    QCOMPARE(page()->statUptime->text(), noData);
    QCOMPARE(page()->statAvg->text(), noData);
    QCOMPARE(page()->lbDbVersion->toolTip(), noData);
    QVERIFY(serverPlotter->values().isEmpty());
    QVERIFY(flowPlotter->values().isEmpty());
    QCOMPARE(page()->graphDbQueries->values().size(), 1);
}

void TestMainWindow::longVersionElided()
{
    win->show();
    QVERIFY(QTest::qWaitForWindowExposed(win.get()));
    win->form()->startBtn->click();
    const QString longVersion = QStringLiteral("10.11.6-MariaDB-0+deb12u1-log (") + QString(300, QLatin1Char('x'))
                                + QLatin1Char(')');
    win->serverStatisticUpdate(QStringLiteral("None"), {}, {}, {}, longVersion);
    QLabel* label = page()->lbDbVersion;
    QVERIFY(label->text().size() < longVersion.size());
    QVERIFY(label->text().endsWith(QChar(0x2026)));
    QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width());
    QCOMPARE(label->toolTip(), longVersion);

    const QString shortVersion = QStringLiteral("5.7.44");
    win->serverStatisticUpdate(QStringLiteral("None"), {}, {}, {}, shortVersion);
    QCOMPARE(label->text(), shortVersion);
}

void TestMainWindow::profileShownOnPage()
{
    Profile* p = settings->profiles.at(0);
    p->DbType = 1;
    p->Host = QStringLiteral("db.example");
    p->Port = 3307;
    p->User = QStringLiteral("monitor");
    p->ProfilerPort = 4141;
    win->settingsUpdate();
    QCOMPARE(page()->lbDbType->text(), QStringLiteral("MariaDB"));
    QCOMPARE(page()->lbDbHost->text(), QStringLiteral("db.example:"));
    QCOMPARE(page()->lbDbPort->text(), QStringLiteral("3307"));
    QCOMPARE(page()->lbDbUser->text(), QStringLiteral("monitor"));
    QCOMPARE(page()->lbProfPort->text(), QStringLiteral("4141"));
    QCOMPARE(page()->lbDbIcon->pixmap(Qt::ReturnByValue).toImage(), QPixmap(QStringLiteral(":/images/mariadb.png")).toImage());

    p->ConnectionMethod = 1;
    p->DbType = 9;   // unknown kinds leave type and icon as they were
    win->settingsUpdate();
    QCOMPARE(page()->lbDbPort->text(), lang->statistics(QStringLiteral("stat_nodata_str")));
    QCOMPARE(page()->lbDbType->text(), QStringLiteral("MariaDB"));

    p->DbType = 2;
    emit win->changedProfileSettings();
    QCOMPARE(page()->lbDbType->text(), QStringLiteral("Percona Server"));
}

void TestMainWindow::serverStateIndicators()
{
    win->onServerStateChanged(true);
    QCOMPARE(page()->lbState->text(), lang->statistics(QStringLiteral("running_str")));
    QCOMPARE(page()->lbProfState->text(), lang->statistics(QStringLiteral("running_str")));
    const QImage on = QPixmap(QStringLiteral(":/images/server_on.png")).toImage();
    QCOMPARE(page()->lbIconState->pixmap(Qt::ReturnByValue).toImage(), on);
    QCOMPARE(page()->lbIconProfState->pixmap(Qt::ReturnByValue).toImage(), on);
    win->onServerStateChanged(false);
    QCOMPARE(page()->lbState->text(), lang->statistics(QStringLiteral("stopped_str")));
    QCOMPARE(page()->lbIconProfState->pixmap(Qt::ReturnByValue).toImage(), QPixmap(QStringLiteral(":/images/server_off.png")).toImage());
}

void TestMainWindow::profilerGraphsPerSecond()
{
    win->form()->startBtn->click();
    addSessionWithQueries(3);
    // Wait for two ticks of the one-second graph timer.
    QTRY_VERIFY_WITH_TIMEOUT(page()->graphProfQueries->values().size() >= 2, 10000);
    const QList<double> q = page()->graphProfQueries->values();
    // Three statements once, then nothing new: no statement counted twice.
    double sum = 0;
    for (double v : q)
        sum += v;
    QCOMPARE(sum, 3.0);
    QCOMPARE(q.last(), 0.0);
    double kb = 0;
    for (double v : page()->graphProfUpload->values())
        kb += v;
    QCOMPARE(kb, 4.5);
}

void TestMainWindow::topTablesThroughProxies()
{
    Ui::StatisticsPage* p = page();
    QVERIFY(p->tableTopQueries->isColumnHidden(3));
    QVERIFY(p->tableTopQueries->isColumnHidden(5));
    QVERIFY(p->tableTopQueriesDb->isColumnHidden(5));
    QCOMPARE(p->tableTopQueries->horizontalHeader()->sectionResizeMode(2), QHeaderView::Stretch);
    QCOMPARE(p->tableProcessesDb->horizontalHeader()->sectionResizeMode(6), QHeaderView::Stretch);
    QCOMPARE(p->tableTopCmdDb->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
    QCOMPARE(p->tableTopDb->horizontalHeader()->sectionResizeMode(1), QHeaderView::Stretch);
    QCOMPARE(p->tableTopDb->horizontalHeader()->sectionResizeMode(0), QHeaderView::ResizeToContents);

    auto* proxy = qobject_cast<QSortFilterProxyModel*>(p->tableTopQueries->model());
    QVERIFY(proxy);
    QCOMPARE(proxy->sourceModel(), static_cast<QAbstractItemModel*>(mngr->modelTopQueries));
    QCOMPARE(proxy->headerData(2, Qt::Horizontal).toString(), lang->statistics(QStringLiteral("query_col")));
    QCOMPARE(p->tableProcessesDb->model()->headerData(6, Qt::Horizontal).toString(),
             lang->statistics(QStringLiteral("query_col")));

    // Live statements appear in the profiler's top list as the manager counts them.
    win->form()->startBtn->click();
    addSessionWithQueries(2);
    QCOMPARE(proxy->rowCount(), 2);
}

void TestMainWindow::closeSavesGeneral()
{
    win->show();
    settings->MaxLinesFlow = 77;
    settings->StayOnTop = true;
    QVERIFY(win->close());
    QSettings s(settings->fileName, QSettings::IniFormat);
    QCOMPARE(s.value(QStringLiteral("MaxLinesFlow")).toInt(), 77);
    QCOMPARE(s.value(QStringLiteral("StayOnTop")).toBool(), true);
    QVERIFY(!s.childGroups().contains(QStringLiteral("Profiles")));
}

void TestMainWindow::acceptedProfileStartsCapture()
{
    REQUIRE_TESTDB(db);
    Profile* p = settings->profiles.at(0);
    p->Host = db.host;
    p->Port = db.port;
    p->User = db.user;
    p->Password = db.password;
    settings->saveProfiles();

    // Something to clear: a counted statement and graph points.
    win->form()->startBtn->click();
    addSessionWithQueries(1);
    win->serverStatisticUpdate(QStringLiteral("x"), {1, 1, 0, 0, 0, 0}, {1, 1, 0, 0, 0, 0}, {1, 1, 1, 1}, QStringLiteral("v"));
    win->form()->startBtn->click();
    QVERIFY(!win->isCapturing());
    QCOMPARE(mngr->modelTopQueries->rowCount(), 1);

    QSignalSpy starts(win.get(), &MainWindow::startBtnPress);
    QSignalSpy changed(win.get(), &MainWindow::changedProfileSettings);
    ModalWatcher watcher(win.get());
    watcher.onDialog = [](QDialog* d) {
        d->findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
    };
    win->form()->profilesBtn->click();
    QCOMPARE(watcher.dialogs, QStringList{QStringLiteral("ProfilesDialog")});
    QVERIFY(win->isCapturing());
    QCOMPARE(starts.count(), 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(mngr->modelTopQueries->rowCount(), 0);
    QVERIFY(page()->graphDbQueries->values().isEmpty());
    QVERIFY(page()->frame_2->findChild<PlotterMoved*>()->values().isEmpty());

    // Cancelled: capture stays as it was, the page is still refreshed.
    win->form()->startBtn->click();
    watcher.onDialog = [](QDialog* d) { d->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click(); };
    win->form()->profilesBtn->click();
    QVERIFY(!win->isCapturing());
    QCOMPARE(changed.count(), 2);
}

std::unique_ptr<ProxyServer> TestMainWindow::makeProxy()
{
    auto proxy = std::make_unique<ProxyServer>(settings.get(), mngr.get(), lang.get());
    connect(proxy.get(), &ProxyServer::updateStatSignal, win.get(), &MainWindow::serverStatisticUpdate);
    connect(win.get(), &MainWindow::startBtnPress, proxy.get(), &ProxyServer::startProxy);
    connect(win.get(), &MainWindow::stopBtnPress, proxy.get(), &ProxyServer::stopProxy);
    connect(proxy.get(), &ProxyServer::serverStateChanged, win.get(), &MainWindow::onServerStateChanged);
    win->setProxy(proxy.get());
    return proxy;
}

void TestMainWindow::proxyFailureShownAndCaptureStopped()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 closed = probe.serverPort();
    probe.close();
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 profilerPort = probe.serverPort();
    probe.close();
    Profile* p = settings->profiles.at(0);
    p->Host = QStringLiteral("127.0.0.1");
    p->Port = closed;
    p->ProfilerPort = profilerPort;
    auto proxy = makeProxy();

    ModalWatcher watcher(win.get());
    win->form()->startBtn->click();
    QCOMPARE(watcher.boxes, QStringList{lang->errors(QStringLiteral("error_str")) + QLatin1Char('|')
                                        + lang->errors(QStringLiteral("mysql_conn_error"))});
    QVERIFY(!win->isCapturing());
    QVERIFY(!win->form()->startBtn->isChecked());
    QCOMPARE(win->form()->startBtn->text(), lang->toolbar(QStringLiteral("start_btn")));
    // Nothing listens on the profiler port.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, profilerPort);
    QVERIFY(!client.waitForConnected(3000));
}

void TestMainWindow::proxyStartShowsServer()
{
    REQUIRE_TESTDB(db);
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 profilerPort = probe.serverPort();
    probe.close();
    Profile* p = settings->profiles.at(0);
    p->Host = db.host;
    p->Port = db.port;
    p->User = db.user;
    p->Password = db.password;
    p->ProfilerPort = profilerPort;
    p->StatusPeriod = 1;
    auto proxy = makeProxy();

    ModalWatcher watcher(win.get());
    win->form()->startBtn->click();
    QVERIFY2(watcher.boxes.isEmpty(), qPrintable(watcher.boxes.join(QLatin1Char('\n'))));
    QVERIFY(win->isCapturing());
    QCOMPARE(page()->lbState->text(), lang->statistics(QStringLiteral("running_str")));
    QCOMPARE(page()->lbProfPort->text(), QString::number(profilerPort));
    // The first poll arrives at once: version and uptime of the test server.
    QVERIFY2(win->statisticsPage()->fullVersion().contains(QStringLiteral("MariaDB")),
             qPrintable(win->statisticsPage()->fullVersion()));
    QVERIFY(page()->statUptime->text() != lang->statistics(QStringLiteral("stat_nodata_str")));
    QVERIFY(!page()->statUptime->text().isEmpty());
    QVERIFY(win->sqlDatabase().isOpen());

    win->form()->startBtn->click();
    QCOMPARE(page()->lbState->text(), lang->statistics(QStringLiteral("stopped_str")));
    QVERIFY(!win->sqlDatabase().isOpen());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
