// The newcomer sandbox: scripts/sandbox.sh and scripts/sample-app.py, run for
// real in a private data folder, checked through the program's own settings
// reader and a real client connection.
#include "Settings.h"
#include "TestDb.h"

#include <QtNetwork>
#include <QtSql>
#include <QtTest>

#include <csignal>

namespace {

bool pidAlive(const QString& pid)
{
    return pid.toLongLong() > 0 && ::kill(pid_t(pid.toLongLong()), 0) == 0;
}

// Runs a program to its end; its exit code, or -1 when it did not end normally.
int exec(const QString& program, const QStringList& args, QString* out = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(180000))
        return -1;   // the QProcess destructor ends it
    const QString output = QString::fromLocal8Bit(p.readAll());
    if (out)
        *out = output;
    if (p.exitCode() != 0)
        qInfo().noquote() << args.join(' ') << "->" << p.exitCode() << output;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

// The slots run in order: they follow one sandbox from start to stop.
class TestSandbox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { run({"stop"}); }
    void neededOnlyWhileNothingAnswers();
    void startMakesSandboxProfileCurrent();
    void clientsWorkWithTheProfile();
    void secondStartReusesServerAndProfile();
    void stopEndsWhatItStarted();

private:
    int run(const QStringList& args, QString* out = nullptr) { return exec("/bin/bash", QStringList{script} + args, out); }
    QString state(const QString& key);
    QSqlQuery query(const QString& sql, const QString& database = QString());

    QTemporaryDir home;
    QString script, appDir;
    quint16 unusedPort = 0;
};

void TestSandbox::initTestCase()
{
    QCoreApplication::setOrganizationName("Tessam");
    QCoreApplication::setApplicationName("Quarvel");
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    qputenv("SANDBOX_PROFILER_PORT", QByteArray::number(freePort()));
    script = sourceDir() + "/scripts/sandbox.sh";
    if (!QFile::exists("/usr/sbin/mariadbd") && QStandardPaths::findExecutable("mariadbd").isEmpty())
        QSKIP("mariadbd is not installed (scripts/install-deps.sh installs it)");

    // A user who already has settings: their options and profile stay.
    appDir = home.path() + "/data/Tessam/Quarvel";
    unusedPort = freePort();
    QSettings ini(appDir + "/settings.ini", QSettings::IniFormat);
    ini.setValue("General/Language", "german");
    ini.setValue("Profiles/CountProfiles", 1);
    ini.setValue("Profiles/CurrentProfile", 0);
    ini.setValue("Profiles/Profile0/Name", "Office, main");
    ini.setValue("Profiles/Profile0/Host", "127.0.0.1");
    ini.setValue("Profiles/Profile0/Port", unusedPort);
    ini.sync();
    QCOMPARE(ini.status(), QSettings::NoError);
}

QString TestSandbox::state(const QString& key)
{
    QFile f(appDir + "/sandbox/state");
    f.open(QIODevice::ReadOnly);
    const QRegularExpression line("^" + key + "=(.*)$", QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(f.readAll())).captured(1);
}

// Runs `sql` as the current profile's user; the query is on its first row,
// or invalid when that failed.
QSqlQuery TestSandbox::query(const QString& sql, const QString& database)
{
    const Settings s;
    const Profile* p = s.currentProfile();
    QSqlDatabase db = QSqlDatabase::contains("sandbox") ? QSqlDatabase::database("sandbox", false)
                                                        : QSqlDatabase::addDatabase("QMYSQL", "sandbox");
    db.close();
    db.setHostName(p->Host);
    db.setPort(int(p->Port));
    db.setUserName(p->User);
    db.setPassword(p->Password);
    db.setDatabaseName(database);
    QSqlQuery q(db);
    if (!db.open() || !q.exec(sql) || !q.next())
        qWarning() << sql << db.lastError().text() << q.lastError().text();
    return q;
}

void TestSandbox::neededOnlyWhileNothingAnswers()
{
    QCOMPARE(run({"needed"}), 0);
    QTcpServer server;   // something listening at the current profile's server: no sandbox
    QVERIFY(server.listen(QHostAddress::LocalHost, unusedPort));
    QCOMPARE(run({"needed"}), 1);
}

void TestSandbox::startMakesSandboxProfileCurrent()
{
    QString out;
    QCOMPARE(run({"start"}, &out), 0);
    QVERIFY2(out.contains("pid " + state("SANDBOX_SERVER_PID")), qPrintable(out));
    QVERIFY(pidAlive(state("SANDBOX_SERVER_PID")) && pidAlive(state("SANDBOX_APP_PID")));
    const uint port = state("SANDBOX_PORT").toUInt();
    QVERIFY(port > 0 && port != unusedPort);

    const Settings s;
    QCOMPARE(s.profiles.size(), 2);
    QCOMPARE(s.CurrentProfile, 1);
    const Profile* p = s.currentProfile();
    QCOMPARE(QString("%1 %2:%3 %4 ask=%5 status=%6").arg(p->Name, p->Host).arg(p->Port).arg(p->ProfilerPort)
                 .arg(p->InteractPassword).arg(p->StatusCheck),
             QString("Sandbox 127.0.0.1:%1 %2 ask=0 status=1").arg(port).arg(qEnvironmentVariable("SANDBOX_PROFILER_PORT")));
    QVERIFY(!p->Password.isEmpty());
    // Everything else is as the user left it.
    QCOMPARE(QString("%1 %2 %3").arg(s.Language, s.profiles.at(0)->Name).arg(s.profiles.at(0)->Port),
             QString("german Office, main %1").arg(unusedPort));
    QCOMPARE(run({"needed"}), 1);   // now the current profile's server answers
}

void TestSandbox::clientsWorkWithTheProfile()
{
    // The profile's user may read the server's status, as the poller does.
    QVERIFY(query("SHOW GLOBAL STATUS LIKE 'Uptime'").isValid());
    // The sample application, straight at the sandbox server, no pauses.
    const Settings s;
    qputenv("SANDBOX_PASSWORD", s.currentProfile()->Password.toUtf8());
    QString out;
    QCOMPARE(exec("/usr/bin/python3", {sourceDir() + "/scripts/sample-app.py", "--port",
                                       QString::number(s.currentProfile()->Port), "--rounds", "1", "--pace", "0",
                                       "--sessions", "3"}, &out), 0);
    QVERIFY2(out.contains("failed as intended") && out.contains("expected error"), qPrintable(out));
    QSqlQuery q = query("SELECT (SELECT COUNT(*) FROM products), (SELECT COUNT(*) FROM orders)", "shop");
    QVERIFY(q.isValid());
    QCOMPARE(q.value(0).toInt(), 8);
    QVERIFY(q.value(1).toInt() >= 1);
}

void TestSandbox::secondStartReusesServerAndProfile()
{
    const QString server = state("SANDBOX_SERVER_PID");
    // The user switched back to their own profile meanwhile: a start makes the
    // existing Sandbox profile current again instead of adding another.
    Settings s;
    s.CurrentProfile = 0;
    s.saveProfiles();
    QString out;
    QCOMPARE(run({"start"}, &out), 0);
    QVERIFY2(out.contains("already runs"), qPrintable(out));
    QCOMPARE(state("SANDBOX_SERVER_PID"), server);
    const Settings again;
    QCOMPARE(again.profiles.size(), 2);
    QCOMPARE(again.CurrentProfile, 1);
    QCOMPARE(again.profiles.at(1)->Password, s.profiles.at(1)->Password);
}

void TestSandbox::stopEndsWhatItStarted()
{
    const QString server = state("SANDBOX_SERVER_PID"), app = state("SANDBOX_APP_PID"), port = state("SANDBOX_PORT");
    QCOMPARE(run({"stop"}), 0);
    QVERIFY(!pidAlive(server) && !pidAlive(app));
    QCOMPARE(run({"status"}), 1);
    QTcpSocket sock;
    sock.connectToHost(QHostAddress::LocalHost, quint16(port.toUInt()));
    QVERIFY(!sock.waitForConnected(3000));
    QCOMPARE(run({"stop"}), 0);   // stopping twice is harmless

    // A restart brings the same data back on the same port.
    QCOMPARE(run({"start"}), 0);
    QCOMPARE(state("SANDBOX_PORT"), port);
    QCOMPARE(query("SELECT COUNT(*) FROM products", "shop").value(0).toInt(), 8);
}

QTEST_GUILESS_MAIN(TestSandbox)
#include "tst_sandbox.moc"
