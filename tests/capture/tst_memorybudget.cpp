// Statements kept in bounded memory: the compact log against a plain list
// of texts through appends and releases, and the session manager releasing
// the oldest statements of ended sessions first, then of running ones,
// while what it counted stays.
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include "MngrSessions.h"
#include "Session.h"

class TstMemoryBudget : public QObject
{
    Q_OBJECT
    QObject owner;

    /// A logged-in session adopted by `m` with `n` statements ("!" texts failed).
    Session* session(MngrSessions& m, const QString& name, int n)
    {
        auto* s = new Session(&owner);
        m.adoptSession(s);
        s->onStartSession(QDateTime::currentDateTime(), name, "db", true);
        QList<QVariantList> batch;
        for (int i = 0; i < n; ++i)
            batch << QVariantList{QDateTime::currentDateTime(), 0.5 + i % 3,
                                  QStringLiteral("SELECT %1 FROM t WHERE id=%2").arg(name).arg(i).toUtf8(), 0.01f,
                                  0.5f, 2, i % 10 == 0};
        s->onNewQueries(batch);
        return s;
    }

private slots:
    void logMatchesPlainList()
    {
        // Repeated and distinct texts of every size (also beyond a text block),
        // released in uneven steps: the log reads back exactly what a plain
        // list of the kept statements holds, and holds each text once.
        QRandomGenerator rnd(18);
        StatementLog log;
        QStringList all;
        for (int round = 0; round < 40; ++round) {
            for (int k = int(rnd.bounded(3000)); k > 0; --k) {
                Query q;
                const int pick = int(rnd.bounded(2500));
                q.text = pick % 97 == 0 ? QString(20000 + pick, QChar(0x4e00 + pick % 50))
                                        : QStringLiteral("SELECT '%1' ü").arg(pick);
                q.isError = pick % 2;
                q.dbName = QStringLiteral("db%1").arg(pick % 3);
                log.append(q);
                all << q.text;
            }
            log.releaseBefore(log.released() + int(rnd.bounded(quint32(log.kept() + 1))));
            QCOMPARE(log.size(), all.size());
            const QStringList kept = all.mid(log.released());
            QStringList read;
            for (const Query& q : log)
                read << q.text;
            QCOMPARE(read, kept);
        }
        QVERIFY(log.released() > 0 && log.kept() > 0);
        QCOMPARE(log.errors(), int(std::count_if(all.begin(), all.end(), [](const QString& t) {
                     return t.size() > 1000 ? (t.size() - 20000) % 2 : t.mid(8).section('\'', 0, 0).toInt() % 2;
                 })));
        QCOMPARE(log.at(log.released() - 1).text, QString()); // released: nothing there
        // Released room is used again: the same statements once more take no more.
        log.releaseBefore(log.size());
        const qint64 full = log.bytes();
        for (const QString& t : all.mid(all.size() - 3000)) {
            Query q;
            q.text = t;
            log.append(q);
        }
        log.releaseBefore(log.size());
        QVERIFY2(log.bytes() <= full, qPrintable(QStringLiteral("%1 > %2").arg(log.bytes()).arg(full)));
    }

    void releasesEndedSessionsFirst()
    {
        MngrSessions m(nullptr);
        Session* ended = session(m, "ended", 4000);
        session(m, "older", 4000);
        session(m, "newer", 4000);
        ended->disconnectDB(QTime(0, 0, 1));
        QSignalSpy released(&m, &MngrSessions::statementsReleased);
        const auto counted = [&] {
            QStringList out;
            for (const SessionData* d : m.sessions)
                out << QStringLiteral("%1 %2 %3 %4").arg(d->queries.size()).arg(d->rowsTotal).arg(d->queries.errors())
                           .arg(d->responseKbTotal);
            return out << QString::number(m.countTopQueries) << QString::number(m.modelTopQueries->rowCount());
        };
        const QStringList before = counted();
        const auto kept = [&](int i) { return m.sessions.at(i)->queries.kept(); };

        // A little over: only the ended session gives up statements, oldest first.
        m.memoryBudget = m.statementBytes() - 1;
        m.keepWithinBudget();
        QVERIFY(m.statementBytes() <= m.memoryBudget);
        QVERIFY(kept(0) < 4000 && kept(0) > 0 && kept(1) == 4000 && kept(2) == 4000);
        QCOMPARE(m.sessions.at(0)->queries.text(3999), QStringLiteral("SELECT ended FROM t WHERE id=3999"));
        // Far over: the ended one goes whole, then the older running one before the newer.
        m.memoryBudget = m.statementBytes() / 3;
        m.keepWithinBudget();
        QVERIFY(m.statementBytes() <= m.memoryBudget);
        QVERIFY(kept(0) == 0 && kept(1) < 4000 && (kept(1) == 0 || kept(2) == 4000));
        // announced in that order, each with the session's count released so far
        QList<ulong> ids;
        for (const QList<QVariant>& args : released) {
            ids << args.at(0).value<ulong>();
            QVERIFY(args.at(1).toInt() > 0);
        }
        QVERIFY(ids.first() == 1ul && std::is_sorted(ids.begin(), ids.end()));
        QCOMPARE(released.last().at(1).toInt(), m.sessions.at(int(ids.last()) - 1)->queries.released());
        QCOMPARE(counted(), before); // what was counted stays
        // Within the budget nothing more goes.
        const int count = released.count();
        m.keepWithinBudget();
        QCOMPARE(released.count(), count);
    }
};

QTEST_GUILESS_MAIN(TstMemoryBudget)
#include "tst_memorybudget.moc"
