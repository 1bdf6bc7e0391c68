// quarvel-capture as a user runs it: a real client through it, the printed
// lines, the summary and digest at SIGINT/SIGTERM, and its failures.
#include "CaptureProcess.h"
#include "ProxyTestUtil.h"

class TestQuarvelCapture : public QObject
{
    Q_OBJECT
private slots:
    void clientThroughCapture()
    {
        REQUIRE_TESTDB(db);
        Capture c(db, {"--digest"});
        QVERIFY2(c.waitListening() && c.err.contains("10.11"), qPrintable(c.err));
        const LiveRun client = runLive("mariadb", clientArgs(db, c.port, {"--force", db.database}),
                                       "SELECT 1;\nSELECT seq FROM seq_1_to_3;\nSELECT * FROM no_such_table;\n"
                                       "SELECT 'two\nlines' AS t;\nSELECT 1;\n");
        QVERIFY(client.exitCode == 0 || client.exitCode == 1); // --force goes on after the failing statement
        QVERIFY2(client.out.contains("1\n2\n3\n"), client.out.constData());
        QTRY_VERIFY_WITH_TIMEOUT((c.collect(), c.out.contains(" closed: ")), 20000);
        QVERIFY(c.out.contains("# session 0000001 opened: user " + db.user));

        // rows, error flag and text of each; the answer of three rows is larger than that of one
        const QList<QStringList> rows = c.statements();
        QStringList got;
        for (const QStringList& r : rows) {
            got << r[5] + '|' + r[8] + '|' + r[9];
            QCOMPARE(r.mid(1, 3), (QStringList{"0000001", db.user, db.database}));
            QVERIFY2(QDateTime::fromString(r[0], "yyyy-MM-dd hh:mm:ss.zzz").isValid() && r[4].toDouble() >= 0
                         && r[6].toDouble() >= 0 && r[7].toDouble() > 0, // every request has bytes
                     qPrintable(r.join('\t')));
        }
        QCOMPARE(got, (QStringList{"1|0|SELECT 1", "3|0|SELECT seq FROM seq_1_to_3", "0|1|SELECT * FROM no_such_table",
                                   "1|0|SELECT 'two lines' AS t", "1|0|SELECT 1"}));
        QVERIFY(rows[1][6].toDouble() > rows[0][6].toDouble());

        QCOMPARE(c.stop(SIGINT), 0);
        QVERIFY2(c.out.contains("# sessions\t1\n# statements\t5\n# errors\t1\n"), qPrintable(c.out));
        // the most frequent statement first: count, total and mean ms with three decimals, text
        QVERIFY(c.out.contains(QRegularExpression("# most frequent statements[^\n]*\n2\t\\d+\\.\\d{3}\t\\d+\\.\\d{3}\tSELECT 1\n")));
        // the digest: both SELECT 1 in one pattern block, the failed statement's block with its error
        QVERIFY2(c.out.contains("# patterns: 5 statements in 4 patterns"), qPrintable(c.out));
        QVERIFY(c.out.contains(QRegularExpression("ms total \\(\\d+\\.\\d%\\), 2 statements\n    SELECT \\?\n")));
        QVERIFY(c.out.contains(QRegularExpression("    SELECT \\* FROM no_such_table\n.*\n.*errors 1\n")));
        QVERIFY(c.out.contains("    SELECT ? AS t\n"));
    }

    void digestOfSysbench()
    {
        REQUIRE_TESTDB(db);
        const auto sysbench = [&](quint16 port, const QStringList& more) {
            return runLive("sysbench", QStringList{"oltp_read_write", "--mysql-host=" + db.host, "--mysql-port=" + QString::number(port),
                                                   "--mysql-user=" + db.user, "--mysql-password=" + db.password,
                                                   "--mysql-db=" + db.database, "--tables=1", "--table-size=1000",
                                                   "--mysql-ssl=off"} + more);
        };
        sysbench(db.port, {"cleanup"});
        QCOMPARE(sysbench(db.port, {"prepare"}).exitCode, 0);
        // relay and capture only (no statistics connection), no statement lines
        Capture c(db, {"--quiet", "--no-stats", "--digest", "50", "--digest-format", "tsv"});
        QVERIFY2(c.waitListening(), qPrintable(c.err));
        // one thread: no deadlock retries, so every count is known
        const LiveRun r = sysbench(c.port, {"--threads=1", "--events=60", "--time=0", "--db-ps-mode=disable", "run"});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(c.stop(SIGTERM), 0);
        sysbench(db.port, {"cleanup"});
        const QRegularExpressionMatch total = QRegularExpression("queries:\\s+(\\d+)").match(QString::fromUtf8(r.out));
        QVERIFY2(total.hasMatch(), r.out.constData());
        // stopped right after the client ended: its last statements still count
        QVERIFY2(c.out.contains("# statements\t" + total.captured(1) + "\n# errors\t0\n"), qPrintable(c.out));
        QVERIFY(c.statements().isEmpty() && !c.out.contains("opened"));

        // after the header line, one line of 19 columns per pattern
        const QStringList lines = c.out.section("rank\tcount\ttotal_ms\t", 1).split('\n', Qt::SkipEmptyParts).mid(1);
        QMap<QString, qint64> counts;
        qint64 sum = 0;
        for (const QString& line : lines) {
            const QStringList f = line.split('\t');
            QCOMPARE(f.size(), 19);
            QVERIFY2(f[5].toDouble() <= f[6].toDouble() && f[6].toDouble() <= f[7].toDouble()
                         && f[7].toDouble() <= f[8].toDouble() * 1.01 && f[12] == "0",
                     qPrintable(line));   // p50 <= p95 <= p99 <= max, no errors
            counts[f[17]] = f[1].toLongLong();
            sum += f[1].toLongLong();
        }
        QCOMPARE(sum, total.captured(1).toLongLong());
        // each of the 60 transactions: 10 point selects, 4 ranges, 2 updates, a delete and an insert
        QMap<QString, qint64> expected{{"SELECT c FROM sbtest1 WHERE id=?", 600}};
        for (const char* once : {"BEGIN", "COMMIT", "SELECT c FROM sbtest1 WHERE id BETWEEN ? AND ?",
                                 "SELECT SUM(k) FROM sbtest1 WHERE id BETWEEN ? AND ?",
                                 "SELECT c FROM sbtest1 WHERE id BETWEEN ? AND ? ORDER BY c",
                                 "SELECT DISTINCT c FROM sbtest1 WHERE id BETWEEN ? AND ? ORDER BY c",
                                 "UPDATE sbtest1 SET k=k+? WHERE id=?", "UPDATE sbtest1 SET c=? WHERE id=?",
                                 "DELETE FROM sbtest1 WHERE id=?", "INSERT INTO sbtest1 (id, k, c, pad) VALUES (?, ?, ?, ?)"})
            expected[once] = 60;
        QCOMPARE(counts, expected);
    }

    void exitCodes()
    {
        LiveRun r = runLive(captureProgram(), {"--help"});
        QVERIFY(r.exitCode == 0 && r.out.startsWith("Usage: quarvel-capture") && r.err.isEmpty());
        // a wrong option: exit code 2, the option and the way to help named on the error output only
        r = runLive(captureProgram(), {"--port", "70000"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("70000") && r.err.contains("--help") && r.out.isEmpty(), r.err.constData());
        // a server that is not there: exit code 1 with the driver's reason, never listening
        const QString dead = "127.0.0.1:" + QString::number(freePort());
        r = runLive(captureProgram(), {"--server", dead, "--port", QString::number(freePort()), "--user", "nobody"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("server " + dead.toUtf8() + ": ") && !r.err.contains("listening"), r.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestQuarvelCapture)
#include "tst_quarvelcapture.moc"
