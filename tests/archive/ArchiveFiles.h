#pragma once
// Shared by the archive tests: archive files written as earlier versions of
// the program wrote them, a connection of its own to look into a file, and
// session records to save.

#include "ArchiveStore.h"
#include "TestSessions.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include <memory>

/// A connection of its own to an archive file (as another program has).
struct RawFile
{
    explicit RawFile(const QString& path) : name(QStringLiteral("raw%1").arg(++serial))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot open %s", qPrintable(path));
    }
    ~RawFile()
    {
        database().close();
        QSqlDatabase::removeDatabase(name);
    }
    QSqlDatabase database() const { return QSqlDatabase::database(name, false); }
    /// Runs each statement of `sql` (separated by ";\n"); false at the first failure.
    bool run(const QString& sql)
    {
        for (const QString& statement : sql.split(QStringLiteral(";\n"), Qt::SkipEmptyParts)) {
            QSqlQuery q(database());
            if (!q.exec(statement)) {
                qWarning() << statement << q.lastError().text();
                return false;
            }
        }
        return true;
    }
    /// Every row of `sql`, its values joined by "|".
    QStringList rows(const QString& sql)
    {
        QSqlQuery q(database());
        if (!q.exec(sql))
            return {QStringLiteral("error: ") + q.lastError().text()};
        QStringList out;
        while (q.next()) {
            out << q.value(0).toString();
            for (int i = 1; i < q.record().count(); ++i)
                out.last() += QLatin1Char('|') + q.value(i).toString();
        }
        return out;
    }
    QStringList columns(const QString& table) { return rows("SELECT name FROM pragma_table_info('" + table + "')"); }
    static inline int serial = 0;
    QString name;
};

/// Writes a file as an earlier version left it: `version` "3.0" has the
/// `system` table and `queries.error`; an empty `version` is older still
/// (neither). Holds session 0000003 with two statements.
inline void writeOldFile(const QString& path, const QString& version)
{
    RawFile f(path);
    const bool v3 = !version.isEmpty();
    QVERIFY(f.run(QStringLiteral(
        "CREATE TABLE sessions (id VARCHAR PRIMARY KEY, datetime VARCHAR, db VARCHAR, user VARCHAR, queries VARCHAR, "
        "elapsed VARCHAR, rows VARCHAR, receivedKb VARCHAR, comment VARCHAR);\n"
        "CREATE TABLE queries (id VARCHAR, num INT, time VARCHAR, timeAll VARCHAR, great VARCHAR, rows VARCHAR, "
        "send VARCHAR, get VARCHAR, query VARCHAR, db VARCHAR%1, PRIMARY KEY (id, num));\n"
        "INSERT INTO sessions VALUES('0000003', '01.02.25 10:00', 'shop', 'app', '2', '00:00:01.500', '7', '1.250', "
        "'kept');\n"
        "INSERT INTO queries VALUES('0000003', '1', '0.500', '25.000', '33', '2', '0.250', '0.050', "
        "'UPDATE t SET a = ''x''', 'shop'%2);\n"
        "INSERT INTO queries VALUES('0000003', '0', '1.500', '75.000', '100', '5', '1.000', '0.100', 'SELECT 1', "
        "'shop'%3)")
                      .arg(v3 ? ", error VARCHAR" : "", v3 ? ", '1'" : "", v3 ? ", '0'" : "")));
    if (v3)
        QVERIFY(f.run("CREATE TABLE system (version_compatible VARCHAR);\nINSERT INTO system VALUES('" + version + "')"));
}

/// A closed, logged-in session record numbered `id` with `texts` as its
/// statements (a text starting with "!" failed) and figures for each.
inline SessionData* makeSession(ulong id, const QStringList& texts)
{
    SessionData* s = sessionOf(texts, id, [](Query& q, int i) {
        q.durationMs = 1.25 + i;
        q.shareOfTotal = i == 0 ? 0.0f : 12.5f;
        q.percentOfMax = 40 + i;
        q.rows = 3u * unsigned(i);
        q.responseKb = 0.5f;
        q.requestKb = i == 0 ? 0.0f : 0.125f;
        q.dbName = QStringLiteral("shop");
    });
    s->startedAt = QDateTime(QDate(2026, 3, 5), QTime(14, 3));
    s->userName = QStringLiteral("app");
    s->dbName = QStringLiteral("shop");
    s->authenticated = true;
    s->duration = QTime(0, 1, 2, 345);
    for (const Query& q : s->queries) {
        s->rowsTotal += q.rows;
        s->responseKbTotal += q.responseKb;
        s->requestKbTotal += q.requestKb;
    }
    return s;
}

/// Saves a session of `texts` numbered `id` into `file` through a store of
/// its own, as another program does; false (the reason printed) on failure.
inline bool saveInto(const QString& file, ulong id, const QStringList& texts)
{
    ArchiveStore other(QStringLiteral("other program"));
    std::unique_ptr<SessionData> s(makeSession(id, texts));
    const bool ok = other.open(file) && other.save(*s);
    if (!ok)
        qWarning() << other.lastError();
    return ok;
}

/// The statements of a record, as "text|ms|share|percent|rows|received|sent|db|error".
inline QStringList statements(const SessionData* s)
{
    QStringList out;
    for (const Query& q : s->queries)
        out << QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9").arg(q.text, QString::number(q.durationMs), QString::number(q.shareOfTotal),
                   QString::number(q.percentOfMax), QString::number(q.rows), QString::number(q.responseKb),
                   QString::number(q.requestKb), q.dbName, QString::number(q.isError));
    return out;
}
