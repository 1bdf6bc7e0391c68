// The single-instance guard across real processes: the test binary starts
// copies of itself with "--hold <key>" as the other instance.
#include "SingleInstance.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QUuid>
#include <QtTest>

#include <cstring>
#include <iostream>

namespace {
/// Helper mode: take the guard, report "primary" or "running" on one line,
/// optionally send a message, then stay until standard input closes.
int holdGuard(const QString& key, const QString& message)
{
    SingleInstance guard(key);
    std::cout << (guard.isRunning() ? "running" : "primary") << std::endl;
    if (guard.isRunning() && !message.isEmpty())
        std::cout << (guard.sendMessage(message, 5000) ? "sent" : "unsent") << std::endl;
    std::string line;
    std::getline(std::cin, line);   // returns when the test closes our input or kills us
    return 0;
}
}

class TestSingleInstance : public QObject
{
    Q_OBJECT

    QString key;

    /// Starts a copy of this binary holding the guard `key`; returns its
    /// first line of output.
    QString startHolder(QProcess& p, const QString& message = QString())
    {
        QStringList args{QStringLiteral("--hold"), key};
        if (!message.isEmpty())
            args << message;
        p.start(QCoreApplication::applicationFilePath(), args);
        if (!p.waitForStarted(30000))
            return QStringLiteral("not started");
        while (!p.canReadLine())
            if (!p.waitForReadyRead(30000))
                return QStringLiteral("no answer");
        return QString::fromLatin1(p.readLine()).trimmed();
    }

    static void stopHolder(QProcess& p)
    {
        p.closeWriteChannel();
        p.waitForFinished(30000);
    }

private slots:
    void init()
    {
        // A key of its own per test, so no real instance is disturbed.
        key = QStringLiteral("quarvel-test-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    }

    void firstInstanceIsNotRunning()
    {
        SingleInstance first(key);
        QVERIFY(!first.isRunning());
        QVERIFY(QFile::exists(first.lockFilePath()));
        QVERIFY(first.key().startsWith(key + '-'));
        // Another program's guard is independent.
        SingleInstance other(key + QStringLiteral("-other"));
        QVERIFY(!other.isRunning());
    }

    void secondGuardInSameProcessSeesTheFirst()
    {
        auto* first = new SingleInstance(key);
        QVERIFY(!first->isRunning());
        {
            SingleInstance second(key);
            QVERIFY(second.isRunning());
        }
        // The second guard's end does not release the first one's lock.
        {
            SingleInstance third(key);
            QVERIFY(third.isRunning());
        }
        delete first;
        SingleInstance after(key);
        QVERIFY(!after.isRunning());
    }

    void otherProcessReportsRunningWhileFirstLives()
    {
        QProcess holder;
        QCOMPARE(startHolder(holder), QStringLiteral("primary"));
        {
            SingleInstance here(key);
            QVERIFY(here.isRunning());
        }
        QProcess second;
        QCOMPARE(startHolder(second), QStringLiteral("running"));
        stopHolder(second);
        stopHolder(holder);
        QCOMPARE(holder.exitStatus(), QProcess::NormalExit);

        // A cleanly ended instance leaves the guard free.
        SingleInstance after(key);
        QVERIFY(!after.isRunning());
    }

    void lockOfKilledInstanceIsRecovered()
    {
        QProcess holder;
        QCOMPARE(startHolder(holder), QStringLiteral("primary"));
        const QString lockPath = SingleInstance(key).lockFilePath();
        holder.kill();   // no chance to clean up
        QVERIFY(holder.waitForFinished(30000));
        QVERIFY2(QFile::exists(lockPath), "a killed instance leaves its lock file behind");

        SingleInstance after(key);
        QVERIFY(!after.isRunning());
        // ... and the recovered guard holds: a further start sees it.
        QProcess next;
        QCOMPARE(startHolder(next), QStringLiteral("running"));
        stopHolder(next);
    }

    void laterStartCanActivateTheRunningInstance()
    {
        SingleInstance first(key);
        QVERIFY(!first.isRunning());
        QVERIFY(!first.sendMessage(QStringLiteral("to myself")));
        QSignalSpy activated(&first, &SingleInstance::activated);
        QSignalSpy message(&first, &SingleInstance::messageReceived);

        QProcess second;
        QCOMPARE(startHolder(second, QStringLiteral("raise ✓")), QStringLiteral("running"));
        QVERIFY(message.wait(30000) || message.count() > 0);
        QCOMPARE(message.count(), 1);
        QCOMPARE(message.at(0).at(0).toString(), QStringLiteral("raise ✓"));
        QCOMPARE(activated.count(), 1);
        stopHolder(second);
    }
};

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--hold") == 0) {
        QCoreApplication app(argc, argv);
        return holdGuard(QString::fromLocal8Bit(argv[2]), argc >= 4 ? QString::fromUtf8(argv[3]) : QString());
    }
    QCoreApplication app(argc, argv);
    TestSingleInstance t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_singleinstance.moc"
