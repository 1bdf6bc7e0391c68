// Prints, one "name value" per line, what the archive costs at scale:
//   save-ms@N, reopen-ms@N  saving a session of N statements (one
//                     transaction) and opening it again in a session tab
//                     (read from the file, table filled, first paint)
//   autocommit-ms@1000 the same 1 000 statements written one transaction
//                     each, for comparison
//   compare-ms@5x50000 reading five saved sessions of 50 000 statements and
//                     showing their comparison (first paint)
//   list-ms@10000     the archive tab with 10 000 saved sessions (first paint)
//   rss-mb@...        resident memory after each step; rss-peak-mb at the end
// The file lies in --dir (default: a new folder in the current directory, so
// on the disk the program would use, not in memory).
// Run: QT_QPA_PLATFORM=offscreen bench_archive [--dir DIR]
#include "ArchiveFormat.h"
#include "ArchiveStore.h"
#include "ArchiveWidget.h"
#include "CompareWidget.h"
#include "SessionData.h"
#include "SessionWidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

double statusMb(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

void print(const char* name, double value)
{
    std::printf("%-24s %10.1f\n", name, value);
    std::fflush(stdout);
}

void printRss(const QString& after)
{
    std::printf("%-24s %10.1f\n", qPrintable(QStringLiteral("rss-mb@") + after), statusMb("VmRSS:"));
    std::fflush(stdout);
}

/// A closed session of `n` statements of typical length (80 to 200 characters).
SessionData* session(ulong id, int n, int variant)
{
    auto* s = new SessionData;
    s->id = id;
    s->startedAt = QDateTime::currentDateTime();
    s->userName = QStringLiteral("app");
    s->dbName = QStringLiteral("shop");
    s->authenticated = true;
    s->duration = QTime(0, 12, 3, 456);
    for (int i = 0; i < n; ++i) {
        Query stored;
            Query* q = &stored;
        q->text = QStringLiteral("SELECT o.id, o.total, c.name FROM orders o JOIN customers c ON c.id = o.customer_id "
                                 "WHERE o.id = %1 AND o.status IN ('open', 'paid')%2")
                      .arg(i % 997 + (variant > 0 && i % 1000 == 0 ? variant : 0))
                      .arg(QString(i % 7 * 16, QLatin1Char(' ')));
        q->durationMs = 0.25 + i % 13;
        q->shareOfTotal = 100.0f / float(n);
        q->percentOfMax = i % 100;
        q->rows = unsigned(i % 20);
        q->responseKb = 0.75f;
        q->requestKb = 0.125f;
        q->dbName = s->dbName;
        s->rowsTotal += q->rows;
        s->responseKbTotal += q->responseKb;
        s->requestKbTotal += q->requestKb;
        s->queries.append(stored);
    }
    return s;
}

double elapsedMs(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QUARVEL_DATA_DIR"))
        qputenv("QUARVEL_DATA_DIR", QUARVEL_STAGED_DATA);
    QApplication app(argc, argv);
    QString base = QDir::currentPath();
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--dir"));
    if (at >= 0 && at + 1 < args.size())
        base = args.at(at + 1);
    QTemporaryDir dir(base + QStringLiteral("/bench-archive-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a folder in %s\n", qPrintable(base));
        return 1;
    }
    ArchiveStore store(QStringLiteral("bench"));
    if (!store.open(dir.path() + QStringLiteral("/savedSessions"))) {
        std::fprintf(stderr, "%s\n", qPrintable(store.lastError()));
        return 1;
    }
    printRss(QStringLiteral("start"));

    // Save and reopen.
    ulong id = 0;
    for (int n : {1000, 50000}) {
        std::unique_ptr<SessionData> s(session(++id, n, 0));
        QElapsedTimer t;
        t.start();
        if (!store.save(*s)) {
            std::fprintf(stderr, "save failed: %s\n", qPrintable(store.lastError()));
            return 1;
        }
        print(qPrintable(QStringLiteral("save-ms@%1").arg(n)), elapsedMs(t));

        t.start();
        SessionData* back = store.load(store.session(ArchiveFormat::sessionId(id)));
        auto* tab = new SessionWidget(nullptr, back, 0);
        tab->ownsSessionData = true;
        tab->loadQueries();
        tab->resize(1200, 800);
        tab->show();
        QCoreApplication::processEvents();
        print(qPrintable(QStringLiteral("reopen-ms@%1").arg(n)), elapsedMs(t));
        printRss(QStringLiteral("reopen-%1").arg(n));
        delete tab;
    }

    // For comparison: one transaction per statement.
    {
        std::unique_ptr<SessionData> s(session(0, 1000, 0));
        QSqlQuery q(store.database());
        q.prepare(QStringLiteral("INSERT INTO queries (id, num, query) VALUES ('autocommit', ?, ?)"));
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < s->queries.size(); ++i) {
            q.bindValue(0, i);
            q.bindValue(1, s->queries.text(i));
            q.exec();
        }
        print("autocommit-ms@1000", elapsedMs(t));
        store.remove({QStringLiteral("autocommit")});
    }

    // Five sessions of 50 000 statements compared, as the archive tab does it.
    QStringList ids;
    for (int v = 1; v <= 5; ++v) {
        std::unique_ptr<SessionData> s(session(++id, 50000, v));
        store.save(*s);
        ids << ArchiveFormat::sessionId(id);
    }
    printRss(QStringLiteral("saved-5x50000"));
    {
        QElapsedTimer t;
        t.start();
        QList<SessionQueries> sessions;
        for (const QString& sid : qAsConst(ids))
            sessions << SessionQueries{sid, store.statementTexts(sid)};
        const double readMs = elapsedMs(t);
        CompareWidget compare(sessions, QStringLiteral("Session comparison"));
        sessions.clear();
        compare.resize(1200, 800);
        compare.show();
        QCoreApplication::processEvents();
        print("compare-read-ms@5x50000", readMs);
        print("compare-ms@5x50000", elapsedMs(t));
        printRss(QStringLiteral("compare-5x50000"));
    }

    // The archive tab over 10 000 saved sessions (written in one go).
    {
        QSqlQuery q(store.database());
        q.exec(QStringLiteral("BEGIN"));
        q.prepare(QStringLiteral("INSERT INTO sessions VALUES(?, '05.12.26 14:03', 'shop', 'app', ?, '00:01:02.345', "
                                 "?, ?, '', 'yes')"));
        for (int i = 0; i < 10000; ++i) {
            q.bindValue(0, ArchiveFormat::sessionId(++id));
            q.bindValue(1, QString::number(i % 500));
            q.bindValue(2, QString::number(i * 7 % 10000));
            q.bindValue(3, ArchiveFormat::localeKb(i % 300 * 1.5));
            q.exec();
        }
        QSqlQuery(store.database()).exec(QStringLiteral("COMMIT"));
        QElapsedTimer t;
        t.start();
        ArchiveWidget list(&store);
        list.resize(1200, 800);
        list.show();
        QCoreApplication::processEvents();
        print(qPrintable(QStringLiteral("list-ms@%1").arg(store.sessions().size())), elapsedMs(t));
        printRss(QStringLiteral("list"));
    }
    print("rss-peak-mb", statusMb("VmHWM:"));
    return 0;
}
