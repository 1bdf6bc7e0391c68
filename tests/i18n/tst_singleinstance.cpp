// The single-instance guard across real processes: the test binary starts
// copies of itself with "--hold <key> [message]" as the other instance.
#include "SingleInstance.h"

#include <QProcess>
#include <QSignalSpy>
#include <QUuid>
#include <QtTest>

#include <iostream>

class TestSingleInstance : public QObject
{
    Q_OBJECT

    /// A key of its own, so no real instance is disturbed.
    const QString key = QStringLiteral("quarvel-test-") + QUuid::createUuid().toString(QUuid::Id128).left(12);

    /// Starts a copy of this binary holding the guard; returns its first line.
    QString startHolder(QProcess& p, const QString& message = QString())
    {
        p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold"), key, message});
        while (p.waitForStarted(30000) && !p.canReadLine())
            if (!p.waitForReadyRead(30000))
                return QStringLiteral("no answer");
        return QString::fromLatin1(p.readLine()).trimmed();
    }

    static bool stopHolder(QProcess& p)
    {
        p.closeWriteChannel();
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit;
    }

private slots:
    void guardAcrossProcesses()
    {
        {
            // A later start finds the guard held and brings the running
            // instance forward with its message; its end leaves the guard held.
            SingleInstance first(key);
            QSignalSpy activated(&first, &SingleInstance::activated), message(&first, &SingleInstance::messageReceived);
            QProcess second;
            QCOMPARE(startHolder(second, QStringLiteral("raise ✓")), QStringLiteral("running"));
            QVERIFY(message.count() > 0 || message.wait(30000));
            QVERIFY(message == QList<QVariantList>{{QStringLiteral("raise ✓")}} && activated.count() == 1);
            QVERIFY(stopHolder(second) && SingleInstance(key).isRunning());
        }
        QVERIFY(!SingleInstance(key).isRunning());   // a clean end frees the guard
        QProcess holder;
        QCOMPARE(startHolder(holder), QStringLiteral("primary"));
        const QString lockPath = SingleInstance(key).lockFilePath();
        QVERIFY(SingleInstance(key).isRunning());
        holder.kill();
        QVERIFY(holder.waitForFinished(30000));
        QVERIFY2(QFile::exists(lockPath), "a killed instance leaves its lock file behind");
        SingleInstance recovered(key);
        QVERIFY(!recovered.isRunning());
        QProcess next;
        QCOMPARE(startHolder(next), QStringLiteral("running"));
        QVERIFY(stopHolder(next));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) != QLatin1String("--hold")) {
        TestSingleInstance t;
        return QTest::qExec(&t, argc, argv);
    }
    // The other instance: take the guard, report "primary" or "running",
    // send the message if any, then stay until standard input closes.
    SingleInstance guard(args.value(2));
    std::cout << (guard.isRunning() ? "running" : "primary") << std::endl;
    if (guard.isRunning() && !args.value(3).isEmpty())
        guard.sendMessage(args.value(3), 5000);
    std::string line;
    std::getline(std::cin, line);
    return 0;
}

#include "tst_singleinstance.moc"
