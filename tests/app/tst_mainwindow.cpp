// The main window: start/stop of capture and its subscription to the session manager and the server
// statistics, the profile dialog's aftermath with the real proxy, a server that never answers (the window
// goes on while start, stop and the profile dialog wait for it), the general settings dialog (OK / Cancel,
// language switched at once, saved on close), and size and splitters kept from one run to the next.
#include "AppFixture.h"
#include "PlotterMoved.h"
#include "SettingsDialog.h"
#include "StatisticsPage.h"
#include "ui_MainWindow.h"
#include "ui_StatisticsPage.h"

#include <numeric>

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<App> app;

    /// A session with `n` statements, announced as one batch.
    void addSession(int n)
    {
        QStringList texts;
        for (int i = 0; i < n; ++i)
            texts << "SELECT " + QString::number(i);
        app->addQueries(app->addSession(), texts);
    }
    MainWindow* win() const { return app->win.get(); }
    Ui::StatisticsPage* page() const { return win()->statisticsPage()->form(); }
    QPushButton* startBtn() const { return win()->form()->startBtn; }
    PlotterMoved* plotter(QWidget* frame) const { return frame->findChild<PlotterMoved*>(); }
    QString stat(const char* key) const { return app->lang->statistics(key); }

private slots:
    void init() { app = std::make_unique<App>(); }
    void cleanup() { app.reset(); }

    void startStopSubscribesOnce()
    {
        startBtn()->click();
        QVERIFY(win()->isCapturing() && startBtn()->isChecked());
        startBtn()->click();
        QVERIFY(!win()->isCapturing() && !startBtn()->isChecked());
        // Stopped: the manager records, the window counts nothing and ignores the server statistics.
        addSession(5);
        win()->serverStatisticUpdate("3 days", {10, 5, 1, 1, 1, 2}, {4, 1, 1, 1, 1, 0}, {7, 2, 3, 4}, "10.11");
        QCOMPARE(win()->queryCount, 0u);
        QVERIFY(page()->graphDbQueries->values().isEmpty() && page()->statUptime->text() != "3 days");

        // Started again: each batch reaches the window once, not once per start.
        startBtn()->click();
        addSession(4);
        QCOMPARE(win()->queryCount, 4u);
        win()->serverStatisticUpdate("3 days", {12.25, 5, 1, 1, 1, 4.25}, {4, 1, 1, 1, 1, 0}, {7, 2, 3, 4}, "10.11");
        QCOMPARE(page()->statUptime->text(), QString("3 days"));
        QCOMPARE(page()->graphDbQueries->values() + page()->graphDbConnect->values() + page()->graphDbUpload->values()
                     + page()->graphDbDownload->values(),
                 (QList<double>{7, 2, 3, 4}));
        QCOMPARE(plotter(page()->frame_2)->values().value(0).value(0), 12.25);
        QCOMPARE(plotter(win()->form()->frame_4)->values().value(0).value(0), 4.0);
        // Two ticks of the one-second profiler graph: the four statements once, then nothing new.
        QTRY_VERIFY_WITH_TIMEOUT(page()->graphProfQueries->values().size() >= 2, 10000);
        const QList<double> q = page()->graphProfQueries->values();
        QCOMPARE(std::accumulate(q.begin(), q.end(), 0.0), 4.0);
        QCOMPARE(q.last(), 0.0);
        // Nothing read from the server: "no data" and cleared plots.
        win()->serverStatisticUpdate("None", {}, {}, {}, "None");
        QCOMPARE(page()->statUptime->text(), stat("stat_nodata_str"));
        QVERIFY(plotter(page()->frame_2)->values().isEmpty() && plotter(win()->form()->frame_4)->values().isEmpty());
    }

    void captureFailsThenRunsWithAcceptedProfile()
    {
        REQUIRE_TESTDB(db);
        app->useServer("127.0.0.1", freePort());
        ProxyServer* proxy = app->attachProxy();
        // No server there: the failure is reported and capture stays stopped.
        ModalWatcher watcher(win());
        startBtn()->click();
        QTRY_COMPARE(watcher.boxes, QStringList{app->box(&languageEngine::errors, "error_str", "mysql_conn_error")});
        QTRY_VERIFY(!win()->isCapturing() && !startBtn()->isChecked());
        QVERIFY(!proxy->isListening());   // nothing on the profiler port

        // The profile dialog accepted with the test server: a fresh capture starts.
        addSession(1);
        QCOMPARE(app->mngr->modelTopQueries->rowCount(), 1);
        watcher.onDialog = [&db](QDialog* d) {
            child<QLineEdit>(d, "edHost")->setText(db.host);
            child<QSpinBox>(d, "sbPort")->setValue(db.port);
            child<QLineEdit>(d, "edUser")->setText(db.user);
            child<QLineEdit>(d, "edPass")->setText(db.password);
            child<QPushButton>(d, "btnOK")->click();
        };
        win()->form()->profilesBtn->click();
        QVERIFY(win()->isCapturing());
        QTRY_VERIFY_WITH_TIMEOUT(proxy->isRunning(), 30000);
        QCOMPARE(watcher.boxes.size(), 1);
        QCOMPARE(app->mngr->modelTopQueries->rowCount(), 0);
        QCOMPARE(page()->lbState->text(), stat("running_str"));
        // The first poll arrives at once: version and uptime of the test server.
        QVERIFY(win()->statisticsPage()->fullVersion().contains("MariaDB") && proxy->dbIsOpen());
        QVERIFY(!page()->statUptime->text().isEmpty() && page()->statUptime->text() != stat("stat_nodata_str"));
        startBtn()->click();
        QVERIFY(page()->lbState->text() == stat("stopped_str") && !proxy->dbIsOpen());
        // Cancelled: capture stays as it was.
        watcher.onDialog = [](QDialog* d) { child<QPushButton>(d, "btnCancel")->click(); };
        win()->form()->profilesBtn->click();
        QVERIFY(!win()->isCapturing());
    }

    void silentServerLeavesWindowTurning()
    {
        // The server accepts connections and never says a word: the start, the stop and the profile dialog's
        // OK wait for it off the window's thread, which keeps turning (a timer fires while they wait).
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        app->useServer("127.0.0.1", silent.serverPort());
        ProxyServer* proxy = app->attachProxy();
        QDialog* profiles = nullptr;
        int ticksWaiting = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            const bool dialogWaits = profiles && !child<QPushButton>(profiles, "btnOK")->isEnabled();
            if (proxy->isStarting() || dialogWaits)
                ++ticksWaiting;
        });
        ticker.start(10);
        ModalWatcher watcher(win());
        const QString connError = app->box(&languageEngine::errors, "error_str", "mysql_conn_error");

        // A stop while the start waits: stopped at once, the port never opened.
        startBtn()->click();
        QTRY_VERIFY_WITH_TIMEOUT(ticksWaiting >= 3, 30000);
        startBtn()->click();
        QVERIFY(!proxy->isStarting() && !win()->isCapturing() && !proxy->isListening());

        // The profile dialog's OK against it: the dialog draws while it waits, reports the failure, stays open.
        ticksWaiting = 0;
        bool stillOpen = false;
        QStringList dialogBoxes;
        watcher.onDialog = [&](QDialog* d) {
            ModalWatcher inner(d); // the outer watcher is busy in this call
            profiles = d;
            child<QPushButton>(d, "btnOK")->click();
            stillOpen = d->isVisible();
            profiles = nullptr;
            dialogBoxes = inner.boxes;
            child<QPushButton>(d, "btnCancel")->click();
        };
        win()->form()->profilesBtn->click();
        QCOMPARE(watcher.dialogs.size(), 1);
        QVERIFY(ticksWaiting > 0 && stillOpen);
        QCOMPARE(dialogBoxes, QStringList{connError});
    }

    void settingsDialog_data()
    {
        QTest::addColumn<QString>("language");    // the entry chosen in the dialog
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QStringList>("options"); // afterwards, in memory (saved on close) and on OK in the file
        // From the defaults (tunnel off, updates on, tab off, auto start on, stay on top off) each box is toggled.
        const QStringList toggled{"true", "false", "true", "false", "true", "250", "10"};
        QTest::newRow("OK") << "English - " << true << toggled + QStringList{"english"};
        QTest::newRow("OK, language switched") << "German - " << true << toggled + QStringList{"german"};
        QTest::newRow("Cancel") << "German - " << false
                                << QStringList{"false", "true", "false", "true", "false", "100", "300", "english"};
    }
    void settingsDialog()
    {
        QFETCH(QString, language);
        QFETCH(bool, accept);
        QFETCH(QStringList, options);
        Settings* st = app->settings.get();
        st->saveGeneral();
        QSettings(App::iniPath(), QSettings::IniFormat).remove("CheckUpdate");   // OK writes it back
        const QByteArray before = App::iniBytes();
        QSignalSpy switched(app->lang.get(), &languageEngine::languageChange);
        SettingsDialog d(app->lang.get(), st, win());
        for (const char* box : {"chTunnel", "updates", "openTab", "autoStart", "stayOnTop"})
            child<QCheckBox>(&d, box)->toggle();
        child<QSpinBox>(&d, "sbMaxSess")->setValue(250);
        child<QSpinBox>(&d, "sbMaxFlow")->setValue(5);   // below the lowest limit
        auto* combo = child<QComboBox>(&d, "language");
        combo->setCurrentIndex(combo->findText(language, Qt::MatchStartsWith));
        accept ? d.accept() : d.reject();

        const auto inFile = [] {
            QSettings s(App::iniPath(), QSettings::IniFormat);
            QStringList values;
            for (const char* key : {"AlwaysTunneling", "CheckUpdate", "AutoOpenNewSession", "AutoStart", "StayOnTop",
                                    "MaxSessions", "MaxLinesFlow", "Language"})
                values << s.value(key).toString();
            return values;
        };
        QVERIFY(accept ? inFile() == options : App::iniBytes() == before);
        // The open window speaks the language now set, switched once and at once.
        QCOMPARE(switched.count(), int(st->Language != "english"));
        Settings other;
        languageEngine expected(&other);
        QVERIFY(expected.loadLanguage(st->Language));
        QCOMPARE((QStringList{win()->form()->settingsBtn->text(), page()->lbl5->title(), page()->statUptime->text()}),
                 (QStringList{expected.toolbar("settings_btn"), expected.statistics("profiler_stat_group"),
                              expected.statistics("stat_nodata_str")}));
        // Closing the window writes the options held in memory: Cancel left them as they were.
        QVERIFY(win()->close());
        QCOMPARE(inFile(), options);
    }

    void layoutKeptBetweenRuns()
    {
        app->settings->saveGeneral();
        app->settings->saveProfiles();
        win()->show();
        QVERIFY(QTest::qWaitForWindowExposed(win()));
        // (Larger than the test screen, the window is moved as the toolkit likes: only its size is compared.)
        const QSize chosen = win()->size();
        win()->resize(chosen + QSize(40, 50));
        const QSize size = win()->size();   // as the window allows it
        QVERIFY(size.width() > chosen.width() && size.height() > chosen.height());
        QHash<QString, QList<int>> sizes;   // splitter -> sizes changed from what the window chose
        for (auto* splitter : win()->findChildren<QSplitter*>(QRegularExpression("^splitter[A-Z]"))) {
            QList<int> s = splitter->sizes();
            s[0] += s[1] / 2;
            s[1] -= s[1] / 2;
            splitter->setSizes(s);
            sizes.insert(splitter->objectName(), splitter->sizes());
        }
        QCOMPARE(sizes.keys().size(), 3);
        const QStringList keysBefore = QSettings(App::iniPath(), QSettings::IniFormat).allKeys();
        QVERIFY(win()->close());

        // The new keys are in [Window] alone; the others are as they were.
        const QStringList keysAfter = QSettings(App::iniPath(), QSettings::IniFormat).allKeys();
        QCOMPARE(keysAfter.filter(QRegularExpression("^Window/")),
                 (QStringList{"Window/Geometry", "Window/splitterFlow", "Window/splitterStat", "Window/splitterTop"}));
        QCOMPARE(keysAfter.filter(QRegularExpression("^(?!Window/)")), keysBefore);

        // The next run's window comes back as it was left.
        app->win.reset();
        app->win = std::make_unique<MainWindow>(app->lang.get(), app->style.get(), app->settings.get(), app->mngr.get(),
                                                qApp->clipboard());
        win()->show();
        QVERIFY(QTest::qWaitForWindowExposed(win()));
        QCOMPARE(win()->size(), size);
        for (auto it = sizes.cbegin(); it != sizes.cend(); ++it)
            QCOMPARE(win()->findChild<QSplitter*>(it.key())->sizes(), it.value());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
