// Command line and printed output of quarvel-capture, without a server.
#include "CaptureOptions.h"
#include "CaptureReport.h"
#include "Settings.h"

#include <QtTest>

namespace {
/// host|server port|socket|profiler port|user|password|archive|digest ("-": not given; archive "": the
/// window's file) and the flags quiet, no-stats, all-interfaces, help, tsv; or the error message
QString parsed(const QStringList& args)
{
    CaptureOptions o;
    QString error;
    if (!o.parse(args, &error))
        return "error: " + error;
    const auto text = [](const auto& v) { return v ? QStringLiteral("%1").arg(*v) : QStringLiteral("-"); };
    const QString flags = QString(o.quiet ? "q" : "") + (o.noStats ? "n" : "") + (o.allInterfaces ? "a" : "") + (o.help ? "h" : "")
        + (o.digestTsv ? "t" : "");
    return QStringList({text(o.host), text(o.serverPort), text(o.socket), text(o.profilerPort), text(o.user), text(o.password),
                        text(o.archive), text(o.digest), flags}).join('|');
}
} // namespace

class TestCaptureOptions : public QObject
{
    Q_OBJECT
private slots:
    void commandLine()
    {
        QCOMPARE(parsed({"--server", "10.0.0.5:3310", "--socket", "/run/s", "--port=4141", "--user", "bob", "--password=",
                         "--quiet", "--no-stats", "--all-interfaces"}),
                 QStringLiteral("10.0.0.5|3310|/run/s|4141|bob||-|-|qna"));
        QCOMPARE(parsed({}), QStringLiteral("-|-|-|-|-|-|-|-|"));
        QCOMPARE(parsed({"-h", "--archive"}), QStringLiteral("-|-|-|-|-|-||-|h"));
        QCOMPARE(parsed({"--server", "127.0.0.1", "--archive", "--quiet"}), QStringLiteral("127.0.0.1|-|-|-|-|-||-|q"));
        QCOMPARE(parsed({"--server", "[::1]:3306", "--archive", "/tmp/a b", "--quiet"}),
                 QStringLiteral("::1|3306|-|-|-|-|/tmp/a b|-|q"));
        QCOMPARE(parsed({"--archive=copy.db"}), QStringLiteral("-|-|-|-|-|-|copy.db|-|"));
        // --digest takes an optional count, 20 when not given
        QCOMPARE(parsed({"--digest", "--quiet"}), QStringLiteral("-|-|-|-|-|-|-|20|q"));
        QCOMPARE(parsed({"--digest", "5", "-q"}), QStringLiteral("-|-|-|-|-|-|-|5|q"));
        QCOMPARE(parsed({"--digest=7", "--digest-format", "tsv"}), QStringLiteral("-|-|-|-|-|-|-|7|t"));
        QCOMPARE(parsed({"--digest-format=text"}), QStringLiteral("-|-|-|-|-|-|-|20|"));
        // the error names what was wrong
        const QList<QStringList> bad{{"--server", "::1"}, {"--server", "db:65536"}, {"--server", "[::1]x"}, {"--frobnicate"},
                                     {"--port"}, {"--port", "forty"}, {"--port", "0"}, {"localhost"}, {"--quiet=yes"},
                                     {"--user="}, {"--archive="}, {"--digest", "0"}, {"--digest=x"},
                                     {"--digest-format", "csv"}, {"--digest-format"}};
        for (const QStringList& args : bad) {
            const QString error = parsed(args);
            QVERIFY2(error.startsWith("error: ") && error.contains(args.last().section('=', 0, 0)), qPrintable(error));
        }
    }

    void applyToProfile()
    {
        Profile p;
        p.Host = QStringLiteral("dbhost");
        p.Port = 3311;
        p.Password = QStringLiteral("secret");
        p.InteractPassword = true;
        p.ConnectionMethod = 1;
        CaptureOptions o;
        QString error;
        QVERIFY(o.parse({"--port", "5050", "--user", "bob"}, &error));
        o.applyTo(&p);
        // what was not given stays; the password is never asked for
        QCOMPARE(QStringList({p.Host, QString::number(p.Port), p.User, p.Password, QString::number(p.ProfilerPort)}),
                 (QStringList{"dbhost", "3311", "bob", "secret", "5050"}));
        QVERIFY(!p.NetworkConnections && !p.InteractPassword);
        // a server without a port goes to 3306 over TCP
        QVERIFY(o.parse({"--server", "db2"}, &error));
        o.applyTo(&p);
        QCOMPARE(p.Host + ':' + QString::number(p.Port), QStringLiteral("db2:3306"));
        QCOMPARE(p.ConnectionMethod, 0);
    }

    void statementLine()
    {
        QCOMPARE(CaptureReport::oneLine("  \n SELECT a,\r\n  b\nFROM\tt\t\t+ 2 \t\n"), QStringLiteral("SELECT a, b FROM t + 2"));
        const CapturedStatement s{QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 42)), 12, "quarvel", "shop", 1.5, 3, 0.25,
                                  40.0 / 1024, true, "SELECT *\n\tFROM t"};
        QCOMPARE(CaptureReport::statementLine(s),
                 QStringLiteral("2024-03-05 14:07:09.042\t0000012\tquarvel\tshop\t1.500\t3\t0.250\t0.039\t1\tSELECT * FROM t"));
    }

    void summaryAndTop()
    {
        CaptureReport r;
        // no statement: no division by zero
        QVERIFY(r.summary().contains("# statements\t0\n# errors\t0\n# mean duration ms\t0.000\n"));
        r.addSession();
        r.addSession();
        const auto add = [&](const QString& text, double ms, bool error = false) {
            r.addStatement({QDateTime(), 0, {}, {}, ms, 0, 0, 0, error, text});
        };
        // 13 distinct statements; the one written with a line break is the same statement
        for (int i = 0; i < 5; ++i)
            add("SELECT 1", 2.0);
        add("SELECT\n1", 4.0);
        for (int i = 0; i < 3; ++i)
            add("UPDATE t SET a=1", 10.0, i == 0);
        for (int i = 10; i >= 0; --i)
            add(QStringLiteral("DO %1").arg(i), i == 7 ? 3.0 : 1.0);
        add("DO 9", 0.5);
        // the ten most frequent; equal counts: the larger total first, then by text (not by arrival)
        QCOMPARE(r.summary(), QStringLiteral("# summary\n# sessions\t2\n# statements\t21\n# errors\t1\n# mean duration ms\t2.738\n"
                                             "# most frequent statements: count\ttotal ms\tmean ms\tstatement\n"
                                             "6\t14.000\t2.333\tSELECT 1\n3\t30.000\t10.000\tUPDATE t SET a=1\n2\t1.500\t0.750\tDO 9\n"
                                             "1\t3.000\t3.000\tDO 7\n1\t1.000\t1.000\tDO 0\n1\t1.000\t1.000\tDO 1\n"
                                             "1\t1.000\t1.000\tDO 10\n1\t1.000\t1.000\tDO 2\n1\t1.000\t1.000\tDO 3\n"
                                             "1\t1.000\t1.000\tDO 4\n"));
    }

    void rareTextsLetGo()
    {
        // Ever new texts among three frequent ones: the table stays within its
        // size, the frequent ones keep exact counts, nothing counted is lost.
        CaptureReport r;
        r.setMaxTexts(100);
        for (int i = 0; i < 5000; ++i)
            r.addStatement({QDateTime(), 0, {}, {}, 1.0, 0, 0, 0, false,
                            i % 2 ? "SELECT a" : i % 4 == 0 ? "SELECT b" : i % 8 == 2 ? "SELECT c" : QStringLiteral("DO %1").arg(i)});
        const QList<CaptureReport::Entry> all = r.top(1 << 20);
        QVERIFY(all.size() <= 100 && r.textsLetGo() > 0);
        QCOMPARE(all.at(0).text + all.at(1).text + all.at(2).text, QStringLiteral("SELECT aSELECT bSELECT c"));
        QCOMPARE(all.at(0).count + all.at(1).count + all.at(2).count, qint64(2500 + 1250 + 625));
        qint64 listed = 0;
        for (const CaptureReport::Entry& e : all)
            listed += e.count;
        QCOMPARE(listed + r.statementsLetGo(), r.statements());
        QVERIFY(r.summary().contains(QStringLiteral("# rarely seen texts let go\t%1 texts").arg(r.textsLetGo())));
    }
};

QTEST_APPLESS_MAIN(TestCaptureOptions)
#include "tst_captureoptions.moc"
