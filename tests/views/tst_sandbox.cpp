// The newcomer sandbox: scripts/sandbox.sh and scripts/sample-app.py, run for
// real in a private data folder, checked through the program's own settings
// reader and a real client connection.
#include "RunLive.h"
#include "Settings.h"
#include "TestDb.h"

#include <QtNetwork>
#include <QtTest>

#include <csignal>

namespace {
bool pidAlive(const QString& pid) { return pid.toLongLong() > 0 && ::kill(pid_t(pid.toLongLong()), 0) == 0; }
}

// The slots run in order: they follow one sandbox from start to stop.
class TestSandbox : public QObject
{
    Q_OBJECT
    QTemporaryDir home;
    QString appDir = home.path() + "/data/Tessam/Quarvel";
    quint16 unusedPort = freePort();

    /// sandbox.sh with `args`: its exit code (-1 when it did not end normally), its output in `out`.
    int run(const QStringList& args, QString* out = nullptr)
    {
        const LiveRun r = runLive("/bin/bash", QStringList{sourceDir() + "/scripts/sandbox.sh"} + args);
        if (out)
            *out = QString::fromLocal8Bit(r.out + r.err);
        return r.exitCode;
    }
    QString state(const QString& key)
    {
        QFile f(appDir + "/sandbox/state");
        f.open(QIODevice::ReadOnly);
        const QRegularExpression line("^" + key + "=(.*)$", QRegularExpression::MultilineOption);
        return line.match(QString::fromUtf8(f.readAll())).captured(1);
    }
    /// What the mariadb client prints for `sql` with the current profile's account.
    QString query(const QString& sql, const QString& database = QString())
    {
        const Settings s;
        const Profile* p = s.currentProfile();
        const TestDb db{p->Host, quint16(p->Port), {}, p->User, p->Password, database, true};
        return db.runClient(sql, database.isEmpty() ? QStringList() : QStringList{database}).trimmed();
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName("Tessam");
        QCoreApplication::setApplicationName("Quarvel");
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        qputenv("SANDBOX_PROFILER_PORT", QByteArray::number(freePort()));
        if (!QFile::exists("/usr/sbin/mariadbd") && QStandardPaths::findExecutable("mariadbd").isEmpty())
            QSKIP("mariadbd is not installed (scripts/install-deps.sh installs it)");
        // A user who already has settings: their options and profile stay.
        QSettings ini(appDir + "/settings.ini", QSettings::IniFormat);
        const QVariantMap values{{"General/Language", "german"}, {"Profiles/CountProfiles", 1},
                                 {"Profiles/CurrentProfile", 0}, {"Profiles/Profile0/Name", "Office, main"},
                                 {"Profiles/Profile0/Host", "127.0.0.1"}, {"Profiles/Profile0/Port", unusedPort}};
        for (auto it = values.begin(); it != values.end(); ++it)
            ini.setValue(it.key(), it.value());
        ini.sync();
        QCOMPARE(ini.status(), QSettings::NoError);
    }
    void cleanupTestCase() { run({"stop"}); }

    void neededOnlyWhileNothingAnswers()
    {
        QCOMPARE(run({"needed"}), 0);
        QTcpServer server;   // something listening at the current profile's server: no sandbox
        QVERIFY(server.listen(QHostAddress::LocalHost, unusedPort));
        QCOMPARE(run({"needed"}), 1);
    }

    void startMakesSandboxProfileCurrent()
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

    void clientsWorkWithTheProfile()
    {
        // The profile's user may read the server's status, as the poller does.
        QVERIFY(query("SHOW GLOBAL STATUS LIKE 'Uptime'").startsWith("Uptime"));
        // The sample application, straight at the sandbox server, no pauses.
        const Settings s;
        qputenv("SANDBOX_PASSWORD", s.currentProfile()->Password.toUtf8());
        const LiveRun app = runLive("/usr/bin/python3", {sourceDir() + "/scripts/sample-app.py", "--port",
                                                         QString::number(s.currentProfile()->Port), "--rounds", "1",
                                                         "--pace", "0", "--sessions", "3"});
        const QString out = QString::fromLocal8Bit(app.out + app.err);
        QVERIFY2(app.exitCode == 0 && out.contains("failed as intended") && out.contains("expected error"), qPrintable(out));
        QCOMPARE(query("SELECT (SELECT COUNT(*) FROM products), (SELECT COUNT(*) FROM orders) > 0", "shop"), QStringLiteral("8\t1"));
    }

    void secondStartReusesServerAndProfile()
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

    void stopEndsWhatItStarted()
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
        QCOMPARE(query("SELECT COUNT(*) FROM products", "shop"), QStringLiteral("8"));
    }
};

QTEST_GUILESS_MAIN(TestSandbox)
#include "tst_sandbox.moc"
