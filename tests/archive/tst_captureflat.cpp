// quarvel-capture under sysbench traffic: a statement is printed (and written
// to the archive a few times a second), then let go: the growth of its
// resident memory over a long run stays within a small fixed bound, and the
// archive holds every statement.
#include "ArchiveStore.h"
#include "CaptureProcess.h"
#include "RunLive.h"

#include <QSqlQuery>
#include <QTemporaryDir>

namespace {
/// Resident memory of process `pid` in KiB (VmRSS), 0 when unreadable.
qint64 residentKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}
} // namespace

class TestCaptureFlat : public QObject
{
    Q_OBJECT

    LiveRun sysbench(const TestDb& db, quint16 port, const QStringList& more)
    {
        return runLive("sysbench", QStringList{"oltp_point_select", "--mysql-host=" + db.host,
                                               "--mysql-port=" + QString::number(port), "--mysql-user=" + db.user,
                                               "--mysql-password=" + db.password, "--mysql-db=" + db.database,
                                               "--tables=1", "--table-size=1000", "--mysql-ssl=off",
                                               "--db-ps-mode=disable"}
                                       + more);
    }

private slots:
    void flatUnderLoad_data()
    {
        QTest::addColumn<bool>("archived");
        QTest::newRow("printing") << false;
        QTest::newRow("printing and archiving") << true;
    }

    void flatUnderLoad()
    {
        QFETCH(bool, archived);
        REQUIRE_TESTDB(db);
        sysbench(db, db.port, {"cleanup"});
        QCOMPARE(sysbench(db, db.port, {"prepare"}).exitCode, 0);
        QTemporaryDir dir;
        const QString file = dir.filePath("archive");
        Capture c(db, archived ? QStringList{"--no-stats", "--quiet", "--archive", file} : QStringList{"--no-stats", "--quiet"});
        QVERIFY2(c.waitListening(), qPrintable(c.err));
        const auto run = [&](int events) {
            const LiveRun r = sysbench(db, c.port, {"--threads=2", "--events=" + QString::number(events), "--time=0", "run"});
            QVERIFY2(r.exitCode == 0, r.err.constData());
        };
        // Warmed up (every distinct text seen once, caches filled), then a long run.
        const int warmUp = 20000, measured = 200000;
        run(warmUp);
        const qint64 before = residentKb(c.process.processId());
        run(measured);
        const qint64 after = residentKb(c.process.processId());
        QVERIFY(before > 0);
        qInfo("resident memory %lld KiB before, %lld KiB after", before, after);
        // Kept statements would cost tens of MiB here.
        QVERIFY2(after - before < 6 * 1024, qPrintable(QStringLiteral("grew %1 KiB").arg(after - before)));
        QCOMPARE(c.stop(SIGINT), 0);
        const QRegularExpressionMatch total = QRegularExpression("# statements\t(\\d+)\n").match(c.out);
        QVERIFY2(total.hasMatch() && total.captured(1).toInt() >= warmUp + measured, qPrintable(c.out));
        sysbench(db, db.port, {"cleanup"});
        if (!archived)
            return;
        // every statement written, each session under its own number
        ArchiveStore saved(QStringLiteral("check"));
        QVERIFY(saved.open(file));
        QSqlQuery q(saved.database());
        QVERIFY(q.exec("SELECT COUNT(*), SUM(query LIKE 'SELECT c FROM sbtest1 WHERE id=%'), COUNT(DISTINCT id), "
                       "MAX(num + 0) FROM queries") && q.next());
        QCOMPARE(q.value(0).toString(), total.captured(1));
        QCOMPARE(q.value(1).toInt(), warmUp + measured);
        QCOMPARE(q.value(2).toInt(), saved.sessions().size());
        QVERIFY(q.value(3).toInt() >= 100000 - 1);
    }
};

QTEST_GUILESS_MAIN(TestCaptureFlat)
#include "tst_captureflat.moc"
