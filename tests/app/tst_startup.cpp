// Start-up of the real program in separate processes: exit codes, the order of the first-run dialogs, the
// single-instance guard and --version/--help, which answer without it. The program is built for this test
// with a hook (AutoCloseHook.cpp) that closes its start-up dialogs as QUARVEL_TEST_AUTOCLOSE says.
#include "BuildInfo.h"

#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir runtime, home;

    /// One run's environment: its own data home, this test's runtime folder (the guard's key).
    QProcessEnvironment env(const QString& dataHome, const QString& autoclose) const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("QT_QPA_PLATFORM", "offscreen");
        e.insert("XDG_DATA_HOME", dataHome);
        e.insert("XDG_RUNTIME_DIR", runtime.path());
        e.insert("QUARVEL_TEST_AUTOCLOSE", autoclose);
        return e;
    }
    QString settingsPath() const { return home.path() + "/data/Tessam/Quarvel/settings.ini"; }
    void writeGeneral(const QString& language) const
    {
        QSettings s(settingsPath(), QSettings::IniFormat);
        s.setValue("Language", language);
        s.setValue("AutoStart", false);
        s.setValue("CheckUpdate", false);
    }
    /// Runs the program to its end: "exit code|standard output", and its standard error in `err`.
    static QString run(const QProcessEnvironment& e, QString* err = nullptr, const QStringList& args = {})
    {
        QProcess p;
        p.setProcessEnvironment(e);
        p.start(QUARVEL_PROGRAM, args);
        const bool ended = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;   // else killed with `p`
        if (err)
            *err = QString::fromLocal8Bit(p.readAllStandardError());
        return QString::number(ended ? p.exitCode() : -1) + '|' + QString::fromLocal8Bit(p.readAllStandardOutput());
    }

private slots:
    void init()
    {
        QFile::remove(settingsPath());
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void exitCodesAndDialogs_data()
    {
        QTest::addColumn<QString>("language");     // written to settings.ini; empty: no file (first run)
        QTest::addColumn<bool>("noLanguages");     // no language installed
        QTest::addColumn<QStringList>("dialogs");  // the dialogs the program reports, in order
        const QString profiles = "dialog ProfilesDialog reject window-visible=1";
        QTest::newRow("no language installed") << "" << true << QStringList();
        QTest::newRow("profiles cancelled") << "english" << false << QStringList{profiles};
        QTest::newRow("unknown language falls back") << "klingon" << false << QStringList{profiles};
        QTest::newRow("first run") << "" << false
                                   << QStringList{"dialog SettingsDialog accept window-visible=1", profiles};
    }
    void exitCodesAndDialogs()
    {
        QFETCH(QString, language);
        QFETCH(bool, noLanguages);
        QFETCH(QStringList, dialogs);
        if (!language.isEmpty())
            writeGeneral(language);
        QProcessEnvironment e = env(home.path(), "settings=accept,profiles=reject");
        QTemporaryDir emptyData;
        if (noLanguages && QDir(emptyData.path()).mkpath("languages"))
            e.insert("QUARVEL_DATA_DIR", emptyData.path());
        QString err;
        QCOMPARE(run(e, &err), QString(noLanguages ? "15|" : "20|"));   // 15: no language; 20: no profile chosen
        QCOMPARE(err.split('\n').filter(QRegularExpression("^dialog ")), dialogs);
        if (!language.isEmpty() || noLanguages)
            return;

        // The first run wrote every general option to [General], and no profile.
        QSettings s(settingsPath(), QSettings::IniFormat);
        QCOMPARE(s.allKeys(), (QStringList{"AlwaysTunneling", "AutoOpenNewSession", "AutoStart", "CheckUpdate",
                                           "Language", "MaxLinesFlow", "MaxSessions", "MemoryBudget", "StayOnTop"}));
        QCOMPARE(s.value("Language").toString(), QString("english"));
    }

    void secondInstanceExits0WithoutTouchingSettings()
    {
        writeGeneral("english");
        QProcess first;   // up once its profile dialog is shown
        first.setProcessEnvironment(env(home.path(), "profiles=hold"));
        first.start(QUARVEL_PROGRAM, QStringList());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += first.readAllStandardError()).contains("dialog ProfilesDialog hold"), 60000);

        QTemporaryDir otherHome;
        QCOMPARE(run(env(otherHome.path(), QString())), QString("0|"));
        QVERIFY(!QDir(otherHome.path() + "/data").exists());
        QCOMPARE(first.state(), QProcess::Running);

        // --version and --help answer while the guard is taken and without a display (the toolkit would abort).
        QProcessEnvironment noDisplay = env(otherHome.path(), QString());
        noDisplay.insert("QT_QPA_PLATFORM", "xcb");
        noDisplay.remove("DISPLAY");
        QVERIFY(run(noDisplay, nullptr, {"--version"}).startsWith("0|quarvel " QUARVEL_VERSION "\n"));
        QVERIFY(run(noDisplay, nullptr, {"--help"}).startsWith("0|Usage: quarvel [QT-OPTIONS]\n"));
        QVERIFY(!QDir(otherHome.path() + "/data").exists());

        first.terminate();
        if (!first.waitForFinished(30000))
            first.kill();
        first.waitForFinished();
        // With the first one gone, a new start runs (and is cancelled at its profiles).
        QCOMPARE(run(env(home.path(), "profiles=reject")), QString("20|"));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
