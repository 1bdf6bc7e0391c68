// The newcomer sandbox: scripts/sandbox.sh and scripts/sample-app.py, run for
// real in a private data folder, checked through the program's own settings
// reader and a real client connection.
#include "Settings.h"
#include "TestDb.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

namespace {

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

bool pidAlive(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

} // namespace

class TestSandbox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void neededWhileNothingAnswers();
    void startMakesSandboxProfileCurrent();
    void programConnectsWithTheProfile();
    void sampleApplicationRunsItsMix();
    void secondStartReusesServerAndProfile();
    void stopEndsWhatItStarted();

private:
    int run(const QStringList& args, QString* out = nullptr);
    QMap<QString, QString> state();
    Settings* loadSettings();

    QTemporaryDir home;
    QString script;
    QString appDir;
    quint16 profilerPort = 0;
    quint16 unusedPort = 0;
};

void TestSandbox::initTestCase()
{
    QVERIFY(home.isValid());
    QCoreApplication::setOrganizationName("Tessam");
    QCoreApplication::setApplicationName("Quarvel");
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    script = sourceDir() + "/scripts/sandbox.sh";
    QVERIFY(QFile::exists(script));
    if (!QFile::exists("/usr/sbin/mariadbd") && QStandardPaths::findExecutable("mariadbd").isEmpty())
        QSKIP("mariadbd is not installed (scripts/install-deps.sh installs it)");

    // A user who already has settings: their options and profile stay.
    appDir = home.path() + "/data/Tessam/Quarvel";
    QVERIFY(QDir().mkpath(appDir));
    unusedPort = freePort();
    profilerPort = freePort();
    QSettings ini(appDir + "/settings.ini", QSettings::IniFormat);
    ini.setValue("General/Language", "german");
    ini.setValue("General/MaxLinesFlow", 77);
    ini.setValue("Profiles/CountProfiles", 1);
    ini.setValue("Profiles/CurrentProfile", 0);
    ini.setValue("Profiles/Profile0/Name", "Office, main");
    ini.setValue("Profiles/Profile0/Host", "127.0.0.1");
    ini.setValue("Profiles/Profile0/Port", unusedPort);
    ini.setValue("Profiles/Profile0/User", "me");
    ini.sync();
    QCOMPARE(ini.status(), QSettings::NoError);
}

void TestSandbox::cleanupTestCase()
{
    if (!script.isEmpty() && home.isValid())
        run({"stop"});
}

int TestSandbox::run(const QStringList& args, QString* out)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", home.path());
    env.insert("SANDBOX_PROFILER_PORT", QString::number(profilerPort));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("/bin/bash", QStringList{script} + args);
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    const QString output = QString::fromLocal8Bit(p.readAll());
    if (out)
        *out = output;
    if (p.exitCode() != 0)
        qInfo().noquote() << "sandbox.sh" << args.join(' ') << "->" << p.exitCode() << output;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QMap<QString, QString> TestSandbox::state()
{
    QMap<QString, QString> out;
    QFile f(appDir + "/sandbox/state");
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            out.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return out;
}

Settings* TestSandbox::loadSettings()
{
    return new Settings(this);
}

void TestSandbox::neededWhileNothingAnswers()
{
    QCOMPARE(run({"needed"}), 0);
    // Something listening at the current profile's server: no sandbox.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, unusedPort));
    QCOMPARE(run({"needed"}), 1);
    server.close();
    QCOMPARE(run({"needed"}), 0);
    QCOMPARE(run({"bogus"}), 2);
}

void TestSandbox::startMakesSandboxProfileCurrent()
{
    QString out;
    QCOMPARE(run({"start"}, &out), 0);
    const auto st = state();
    QVERIFY2(out.contains("pid " + st.value("SANDBOX_SERVER_PID")), qPrintable(out));
    QVERIFY(pidAlive(st.value("SANDBOX_SERVER_PID").toLongLong()));
    QVERIFY(pidAlive(st.value("SANDBOX_APP_PID").toLongLong()));
    QVERIFY(st.value("SANDBOX_PORT").toUInt() > 0);
    QVERIFY(st.value("SANDBOX_PORT").toUInt() != unusedPort);

    QScopedPointer<Settings> s(loadSettings());
    QCOMPARE(s->profiles.size(), 2);
    QCOMPARE(s->CurrentProfile, 1);
    const Profile* p = s->currentProfile();
    QVERIFY(p);
    QCOMPARE(p->Name, QString("Sandbox"));
    QCOMPARE(p->DbType, 1);
    QCOMPARE(p->ConnectionMethod, 0);
    QCOMPARE(p->Host, QString("127.0.0.1"));
    QCOMPARE(p->Port, st.value("SANDBOX_PORT").toUInt());
    QCOMPARE(p->ProfilerPort, quint32(profilerPort));
    QVERIFY(!p->Password.isEmpty());
    QVERIFY(!p->InteractPassword);
    QVERIFY(p->StatusCheck);
    QCOMPARE(p->StatusPeriod, 3u);
    // Everything else is as the user left it.
    QCOMPARE(s->Language, QString("german"));
    QCOMPARE(s->MaxLinesFlow, 77);
    QCOMPARE(s->profiles.at(0)->Name, QString("Office, main"));
    QCOMPARE(s->profiles.at(0)->Port, quint32(unusedPort));
    QCOMPARE(s->profiles.at(0)->User, QString("me"));

    // Now the current profile's server answers.
    QCOMPARE(run({"needed"}), 1);
    QCOMPARE(run({"status"}), 0);
}

void TestSandbox::programConnectsWithTheProfile()
{
    QScopedPointer<Settings> s(loadSettings());
    const Profile* p = s->currentProfile();
    QVERIFY(p);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QMYSQL", "sandbox");
        db.setHostName(p->Host);
        db.setPort(int(p->Port));
        db.setUserName(p->User);
        db.setPassword(p->Password);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        QVERIFY(q.exec("SHOW DATABASES LIKE 'shop'"));
        QVERIFY(q.next());
        // The profile's user may read the server's status, as the poller does.
        QVERIFY2(q.exec("SHOW GLOBAL STATUS LIKE 'Uptime'"), qPrintable(q.lastError().text()));
        QVERIFY(q.next());
        db.close();
    }
    QSqlDatabase::removeDatabase("sandbox");
}

void TestSandbox::sampleApplicationRunsItsMix()
{
    // Straight at the sandbox server (no profiler running here): one script
    // per session, no pauses.
    QScopedPointer<Settings> s(loadSettings());
    const Profile* p = s->currentProfile();
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SANDBOX_PASSWORD", p->Password);
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start("/usr/bin/python3", {sourceDir() + "/scripts/sample-app.py", "--port", QString::number(p->Port),
                                   "--rounds", "1", "--pace", "0", "--sessions", "3"});
    QVERIFY(app.waitForFinished(120000));
    const QString out = QString::fromLocal8Bit(app.readAll());
    QVERIFY2(app.exitCode() == 0, qPrintable(out));
    QVERIFY2(out.contains("failed as intended"), qPrintable(out));
    QVERIFY2(out.contains("expected error"), qPrintable(out));

    QSqlDatabase db = QSqlDatabase::addDatabase("QMYSQL", "sample");
    db.setHostName(p->Host);
    db.setPort(int(p->Port));
    db.setUserName(p->User);
    db.setPassword(p->Password);
    db.setDatabaseName("shop");
    QVERIFY2(db.open(), qPrintable(db.lastError().text()));
    QSqlQuery q(db);
    QVERIFY(q.exec("SELECT (SELECT COUNT(*) FROM products), (SELECT COUNT(*) FROM customers),"
                   " (SELECT COUNT(*) FROM orders)"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 8);
    QVERIFY(q.value(1).toInt() >= 20);
    QVERIFY(q.value(2).toInt() >= 1);
    q.clear();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("sample");
}

void TestSandbox::secondStartReusesServerAndProfile()
{
    const auto before = state();
    QString out;
    QCOMPARE(run({"start"}, &out), 0);
    QVERIFY2(out.contains("already runs"), qPrintable(out));
    const auto after = state();
    QCOMPARE(after.value("SANDBOX_SERVER_PID"), before.value("SANDBOX_SERVER_PID"));
    QCOMPARE(after.value("SANDBOX_APP_PID"), before.value("SANDBOX_APP_PID"));
    QScopedPointer<Settings> s(loadSettings());
    QCOMPARE(s->profiles.size(), 2);
    QCOMPARE(s->CurrentProfile, 1);

    // The user switched back to their own profile meanwhile: a start makes the
    // existing Sandbox profile current again instead of adding another.
    s->CurrentProfile = 0;
    s->saveProfiles();
    QCOMPARE(run({"start"}), 0);
    QScopedPointer<Settings> again(loadSettings());
    QCOMPARE(again->profiles.size(), 2);
    QCOMPARE(again->CurrentProfile, 1);
    QCOMPARE(again->profiles.at(1)->Password, s->profiles.at(1)->Password);
}

void TestSandbox::stopEndsWhatItStarted()
{
    const auto st = state();
    const qint64 server = st.value("SANDBOX_SERVER_PID").toLongLong();
    const qint64 app = st.value("SANDBOX_APP_PID").toLongLong();
    QVERIFY(pidAlive(server));
    QVERIFY(pidAlive(app));

    QCOMPARE(run({"stop"}), 0);
    QVERIFY(!pidAlive(server));
    QVERIFY(!pidAlive(app));
    QCOMPARE(run({"status"}), 1);
    QCOMPARE(run({"needed"}), 0);
    QTcpSocket sock;
    sock.connectToHost(QHostAddress::LocalHost, quint16(st.value("SANDBOX_PORT").toUInt()));
    QVERIFY(!sock.waitForConnected(3000));
    // Stopping twice is harmless.
    QCOMPARE(run({"stop"}), 0);

    // A restart brings the same data back on the same port.
    QCOMPARE(run({"start"}), 0);
    QCOMPARE(state().value("SANDBOX_PORT"), st.value("SANDBOX_PORT"));
    QCOMPARE(run({"stop"}), 0);
}

QTEST_GUILESS_MAIN(TestSandbox)
#include "tst_sandbox.moc"
