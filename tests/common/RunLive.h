#pragma once
// Running a client program while this thread's event loop keeps serving the
// relay or proxy under test (both accept connections in it).

#include "TestDb.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

struct LiveRun
{
    int exitCode = -1; ///< -1 when the program did not start or end normally
    QByteArray out;
    QByteArray err;
};

/// Runs `program` to its end with `input` on standard input.
inline LiveRun runLive(const QString& program, const QStringList& args, const QByteArray& input = QByteArray())
{
    LiveRun r;
    QProcess p;
    QEventLoop loop;
    QObject::connect(&p, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    // A hung client fails the test instead of blocking it.
    QTimer::singleShot(240000, &p, [&p]() { p.kill(); });
    p.start(program, args);
    if (!p.waitForStarted(30000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    if (p.state() != QProcess::NotRunning)
        loop.exec();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
