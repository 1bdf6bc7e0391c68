#pragma once
// quarvel-capture run as a user runs it, relaying to the test server.

#include "TestDb.h"

#include <QProcess>
#include <QtTest>

#include <csignal>

/// The program under test, in the build tree.
inline QString captureProgram() { return binaryDir() + QStringLiteral("/app/quarvel-capture"); }

/// A running quarvel-capture whose output is collected as it comes.
struct Capture
{
    QProcess process;
    QString out, err;
    const quint16 port = freePort();

    explicit Capture(const TestDb& db, const QStringList& more = {})
    {
        process.start(captureProgram(), QStringList{"--server", db.host + ':' + QString::number(db.port), "--port",
                                                    QString::number(port), "--user", db.user, "--password", db.password}
                                            + more);
    }
    ~Capture() { process.kill(); process.waitForFinished(); }
    void collect() { out += process.readAllStandardOutput(); err += process.readAllStandardError(); }
    bool waitListening()
    {
        const auto ended = [&] { collect(); return err.contains("listening on") || process.state() == QProcess::NotRunning; };
        return QTest::qWaitFor(ended, 30000) && err.contains("listening on");
    }
    /// Statement lines: ten columns, not starting with "#".
    QList<QStringList> statements() const
    {
        QList<QStringList> rows;
        for (const QString& line : out.split('\n'))
            if (!line.startsWith('#') && line.count('\t') == 9)
                rows << line.split('\t');
        return rows;
    }
    /// Sends `sig` and waits for the end; the exit code, -1 after a crash.
    int stop(int sig)
    {
        ::kill(pid_t(process.processId()), sig);
        process.waitForFinished(30000);
        collect();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
};
