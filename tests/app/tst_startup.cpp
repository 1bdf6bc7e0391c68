// Start-up of the real program in separate processes: exit codes, the order of
// the first-run dialogs and the single-instance guard. The program's start-up
// dialogs are closed through its QUARVEL_TEST_AUTOCLOSE hook.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void noLanguageExits15();
    void cancelledProfilesExit20AfterWindowShown();
    void firstRunShowsSettingsBeforeProfiles();
    void unknownLanguageFallsBack();
    void secondInstanceExits0WithoutTouchingSettings();

private:
    /// Environment of one run: its own data home, the shared runtime folder
    /// of this test (the guard's key), the staged data.
    QProcessEnvironment env(const QString& dataHome, const QString& autoclose) const;
    QString settingsPath(const QString& dataHome) const
    {
        return dataHome + QStringLiteral("/data/Tessam/Quarvel/settings.ini");
    }
    void writeGeneral(const QString& dataHome, const QString& language);
    /// Runs the program to its end; returns the exit code, `err` its standard error.
    int run(const QProcessEnvironment& e, QString* err);

    QScopedPointer<QTemporaryDir> runtime;
    QScopedPointer<QTemporaryDir> home;
};

void TestStartup::init()
{
    runtime.reset(new QTemporaryDir);
    home.reset(new QTemporaryDir);
    QVERIFY(runtime->isValid() && home->isValid());
    QFile::setPermissions(runtime->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QProcessEnvironment TestStartup::env(const QString& dataHome, const QString& autoclose) const
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    e.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    e.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime->path());
    if (autoclose.isEmpty())
        e.remove(QStringLiteral("QUARVEL_TEST_AUTOCLOSE"));
    else
        e.insert(QStringLiteral("QUARVEL_TEST_AUTOCLOSE"), autoclose);
    return e;
}

void TestStartup::writeGeneral(const QString& dataHome, const QString& language)
{
    QSettings s(settingsPath(dataHome), QSettings::IniFormat);
    s.setValue(QStringLiteral("Language"), language);
    s.setValue(QStringLiteral("AutoStart"), false);
    s.setValue(QStringLiteral("CheckUpdate"), false);
}

int TestStartup::run(const QProcessEnvironment& e, QString* err)
{
    QProcess p;
    p.setProcessEnvironment(e);
    p.start(QStringLiteral(QUARVEL_PROGRAM), QStringList());
    if (!p.waitForStarted())
        return -1;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return -2;
    }
    *err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -3;
}

void TestStartup::noLanguageExits15()
{
    QTemporaryDir emptyData;
    QDir(emptyData.path()).mkpath(QStringLiteral("languages"));
    QProcessEnvironment e = env(home->path(), QStringLiteral("settings=reject,profiles=reject"));
    e.insert(QStringLiteral("QUARVEL_DATA_DIR"), emptyData.path());
    QString err;
    QCOMPARE(run(e, &err), 15);
    QVERIFY2(!err.contains(QStringLiteral("dialog ")), qPrintable(err));
}

void TestStartup::cancelledProfilesExit20AfterWindowShown()
{
    writeGeneral(home->path(), QStringLiteral("english"));
    QString err;
    QCOMPARE(run(env(home->path(), QStringLiteral("settings=reject,profiles=reject")), &err), 20);
    QVERIFY2(err.contains(QStringLiteral("dialog ProfilesDialog reject window-visible=1")), qPrintable(err));
    // settings.ini existed: no settings dialog.
    QVERIFY2(!err.contains(QStringLiteral("dialog SettingsDialog")), qPrintable(err));
}

void TestStartup::firstRunShowsSettingsBeforeProfiles()
{
    QVERIFY(!QFile::exists(settingsPath(home->path())));
    QString err;
    QCOMPARE(run(env(home->path(), QStringLiteral("settings=accept,profiles=reject")), &err), 20);
    const int settingsAt = err.indexOf(QStringLiteral("dialog SettingsDialog accept window-visible=1"));
    const int profilesAt = err.indexOf(QStringLiteral("dialog ProfilesDialog reject window-visible=1"));
    QVERIFY2(settingsAt >= 0 && profilesAt > settingsAt, qPrintable(err));

    // QSettings reads the [General] section as its top level.
    QSettings s(settingsPath(home->path()), QSettings::IniFormat);
    const QStringList keys{QStringLiteral("Language"), QStringLiteral("CheckUpdate"),
                           QStringLiteral("AutoOpenNewSession"), QStringLiteral("AutoStart"),
                           QStringLiteral("StayOnTop"), QStringLiteral("MaxLinesFlow"),
                           QStringLiteral("MaxSessions"), QStringLiteral("AlwaysTunneling")};
    for (const QString& k : keys)
        QVERIFY2(s.contains(k), qPrintable(k));
    QCOMPARE(s.value(QStringLiteral("Language")).toString(), QStringLiteral("english"));
    QFile raw(settingsPath(home->path()));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QVERIFY(raw.readAll().contains("[General]"));
    // Cancelling the profiles saved none.
    QVERIFY(!s.childGroups().contains(QStringLiteral("Profiles")));

    // The second start finds the file and goes straight to the profiles.
    QCOMPARE(run(env(home->path(), QStringLiteral("settings=accept,profiles=reject")), &err), 20);
    QVERIFY2(!err.contains(QStringLiteral("dialog SettingsDialog")), qPrintable(err));
}

void TestStartup::unknownLanguageFallsBack()
{
    writeGeneral(home->path(), QStringLiteral("klingon"));
    QString err;
    // Not installed: the first installed language is used and the start goes on.
    QCOMPARE(run(env(home->path(), QStringLiteral("profiles=reject")), &err), 20);
    QVERIFY2(err.contains(QStringLiteral("dialog ProfilesDialog reject window-visible=1")), qPrintable(err));
}

void TestStartup::secondInstanceExits0WithoutTouchingSettings()
{
    writeGeneral(home->path(), QStringLiteral("english"));
    QProcess first;
    first.setProcessEnvironment(env(home->path(), QStringLiteral("profiles=hold")));
    first.start(QStringLiteral(QUARVEL_PROGRAM), QStringList());
    QVERIFY(first.waitForStarted());
    QByteArray firstErr;
    // The first instance is up once its profile dialog is shown.
    QTRY_VERIFY_WITH_TIMEOUT((firstErr += first.readAllStandardError()).contains("dialog ProfilesDialog hold"),
                             60000);

    QTemporaryDir otherHome;
    QString err;
    QCOMPARE(run(env(otherHome.path(), QString()), &err), 0);
    QVERIFY(!QFile::exists(settingsPath(otherHome.path())));
    QVERIFY(!QDir(otherHome.path() + QStringLiteral("/data")).exists());
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    if (!first.waitForFinished(30000)) {
        first.kill();
        first.waitForFinished();
    }

    // With the first one gone, a new start runs (and is cancelled at its profiles).
    QCOMPARE(run(env(home->path(), QStringLiteral("profiles=reject")), &err), 20);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
