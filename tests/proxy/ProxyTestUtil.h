#pragma once
// Helpers shared by the proxy tests.

#include "Settings.h"
#include "TestDb.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>

/// A loopback port that nothing listens on right now.
inline quint16 freePort()
{
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = s.serverPort();
    s.close();
    return port;
}

/// Points the current profile at the test server, the profiler at a free port.
inline void useTestServer(Settings* settings, const TestDb& db)
{
    if (!settings->currentProfile()) {
        settings->profiles.append(new Profile);
        settings->CurrentProfile = settings->profiles.size() - 1;
    }
    Profile* p = settings->currentProfile();
    p->ConnectionMethod = 0;
    p->Host = db.host;
    p->Port = db.port;
    p->User = db.user;
    p->Password = db.password;
    p->Compression = false;
    p->StatusCheck = true;
    p->StatusPeriod = 3600; // polls are run by hand unless a test says otherwise
    p->ProfilerPort = freePort();
    p->NetworkConnections = false;
    settings->AlwaysTunneling = false;
}

/// Runs the mariadb client with `sql` against `port` while this thread's event
/// loop keeps running (the proxy accepts connections in it). Returns standard
/// output; `exitCode` gets -1 when the client did not end normally.
inline QString runClientLive(const TestDb& db, const QString& sql, quint16 port, int* exitCode = nullptr,
                             const QStringList& extraArgs = {}, QString* errors = nullptr)
{
    QStringList args{QStringLiteral("--no-defaults"), QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                     QStringLiteral("-P"), QString::number(port), QStringLiteral("-u") + db.user,
                     QStringLiteral("-p") + db.password, QStringLiteral("--batch"),
                     QStringLiteral("--skip-column-names"), QStringLiteral("--connect-timeout=20")};
    args += extraArgs;
    QProcess p;
    p.start(QStringLiteral("mariadb"), args);
    p.write(sql.toUtf8());
    p.closeWriteChannel();
    QElapsedTimer t;
    t.start();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 120000)
        QTest::qWait(10);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (errors)
        *errors = QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput());
}
