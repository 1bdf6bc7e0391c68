#include "ArchiveStore.h"

#include <functional>

#include "ArchiveFormat.h"
#include "SessionData.h"
#include "Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const char* const createSessions =
    "CREATE TABLE sessions (id VARCHAR PRIMARY KEY, datetime VARCHAR, db VARCHAR, user VARCHAR, "
    "queries VARCHAR, elapsed VARCHAR, rows VARCHAR, receivedKb VARCHAR, comment VARCHAR, error VARCHAR)";
const char* const createQueries =
    "CREATE TABLE queries (id VARCHAR, num INT, time VARCHAR, timeAll VARCHAR, great VARCHAR, rows VARCHAR, "
    "send VARCHAR, get VARCHAR, query VARCHAR, db VARCHAR, error VARCHAR, PRIMARY KEY (id, num))";

QString reason(const QSqlError& e)
{
    const QString db = e.databaseText().trimmed();
    return db.isEmpty() ? e.text().trimmed() : db;
}

/// True for a version text older than the format this program writes (or
/// none): such a file is stamped after migrating. Other texts (a newer
/// format, something unreadable) are left alone.
bool olderVersion(const QString& version)
{
    if (version.isEmpty())
        return true;
    bool ok = false;
    const double v = version.trimmed().toDouble(&ok);
    return ok && v < ArchiveStore::formatVersion().toDouble();
}

} // namespace

ArchiveStore::ArchiveStore(const QString& connectionName) : connection(connectionName) {}

ArchiveStore::~ArchiveStore()
{
    close();
}

QString ArchiveStore::defaultPath()
{
    return Settings::dataLocation() + QStringLiteral("/savedSessions");
}

QSqlDatabase ArchiveStore::database() const
{
    return QSqlDatabase::database(connection, false);
}

bool ArchiveStore::isOpen() const
{
    return QSqlDatabase::contains(connection) && database().isOpen();
}

void ArchiveStore::close()
{
    if (!QSqlDatabase::contains(connection))
        return;
    {
        QSqlDatabase db = database();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

bool ArchiveStore::open(const QString& path, int busyTimeoutMs)
{
    close();
    file = path;
    error.clear();
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        error = QStringLiteral("cannot create the folder %1").arg(info.absolutePath());
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setHostName(QStringLiteral("localhost"));
        db.setDatabaseName(path);
        // Another program may be writing the file: wait for its lock.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        if (!db.open()) {
            error = reason(db.lastError());
            return false;
        }
    }
    return migrate();
}

bool ArchiveStore::setWriteAhead(bool on)
{
    QSqlQuery q(database());
    if (!q.exec(on ? QStringLiteral("PRAGMA journal_mode=WAL") : QStringLiteral("PRAGMA journal_mode=DELETE"))
        || !q.next()) {
        error = reason(q.lastError());
        return false;
    }
    const QString mode = q.value(0).toString().toLower();
    q.finish();
    if (mode != (on ? QLatin1String("wal") : QLatin1String("delete"))) {
        error = QStringLiteral("the journal stays in mode %1").arg(mode);
        return false;
    }
    return exec(on ? QStringLiteral("PRAGMA synchronous=NORMAL") : QStringLiteral("PRAGMA synchronous=FULL"));
}

bool ArchiveStore::exec(const QString& sql, const QVariantList& values)
{
    QSqlQuery q(database());
    if (!q.prepare(sql)) {
        error = reason(q.lastError());
        return false;
    }
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        error = reason(q.lastError());
        return false;
    }
    return true;
}

bool ArchiveStore::begin()
{
    // IMMEDIATE takes the write lock at once (waiting up to the busy
    // timeout): two writers never both read and then fail to upgrade.
    return exec(QStringLiteral("BEGIN IMMEDIATE"));
}

bool ArchiveStore::commit()
{
    if (exec(QStringLiteral("COMMIT")))
        return true;
    const QString why = error;
    rollback();
    error = why;
    return false;
}

void ArchiveStore::rollback()
{
    const QString why = error;
    QSqlQuery q(database());
    q.exec(QStringLiteral("ROLLBACK"));
    error = why;
}

QStringList ArchiveStore::columns(const QString& table)
{
    QStringList names;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    // `table` is one of this class's own table names, never user input.
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) {
        error = reason(q.lastError());
        return names;
    }
    while (q.next())
        names << q.value(1).toString().toLower();
    return names;
}

QString ArchiveStore::version()
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT version_compatible FROM system")) && q.next())
        return q.value(0).toString();
    return QString();
}

bool ArchiveStore::upToDate()
{
    const QStringList system = columns(QStringLiteral("system"));
    return columns(QStringLiteral("sessions")).contains(QStringLiteral("error"))
           && columns(QStringLiteral("queries")).contains(QStringLiteral("error")) && !system.isEmpty()
           && !olderVersion(version());
}

bool ArchiveStore::migrate()
{
    // A file of this format needs no write lock: a read-only copy opens too.
    if (upToDate())
        return true;
    if (!begin())
        return false;
    const auto step = [this](const QString& table, const char* create) {
        const QStringList have = columns(table);
        if (have.isEmpty())
            return exec(QLatin1String(create));
        if (!have.contains(QStringLiteral("error")))
            return exec(QStringLiteral("ALTER TABLE %1 ADD error VARCHAR").arg(table));
        return true;
    };
    bool ok = step(QStringLiteral("sessions"), createSessions) && step(QStringLiteral("queries"), createQueries);
    if (ok) {
        // The version is stamped in the same transaction as the columns it promises.
        if (columns(QStringLiteral("system")).isEmpty()) {
            ok = exec(QStringLiteral("CREATE TABLE system (version_compatible VARCHAR)"))
                 && exec(QStringLiteral("INSERT INTO system VALUES(?)"), {formatVersion()});
        } else {
            QSqlQuery q(database());
            q.setForwardOnly(true);
            ok = q.exec(QStringLiteral("SELECT version_compatible FROM system"));
            const bool hasRow = ok && q.next();
            const QString was = hasRow ? q.value(0).toString() : QString();
            q.finish();
            if (!ok)
                error = reason(q.lastError());
            else if (!hasRow)
                ok = exec(QStringLiteral("INSERT INTO system VALUES(?)"), {formatVersion()});
            else if (olderVersion(was))
                ok = exec(QStringLiteral("UPDATE system SET version_compatible = ?"), {formatVersion()});
        }
    }
    if (!ok) {
        rollback();
        return false;
    }
    return commit();
}

QString ArchiveStore::errorColumn(const QString& table)
{
    // A file that could not be migrated (read-only) still reads.
    return columns(table).contains(QStringLiteral("error")) ? QStringLiteral("error") : QStringLiteral("''");
}

quint64 ArchiveStore::maxId()
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    // Numeric: in text order "9999999" follows "10000000".
    if (q.exec(QStringLiteral("SELECT MAX(CAST(id AS INTEGER)) FROM sessions")) && q.next())
        return q.value(0).toULongLong();
    error = reason(q.lastError());
    return 0;
}

ArchivedSession ArchiveStore::describe(const SessionData& data, const QLocale& locale)
{
    ArchivedSession row;
    row.id = ArchiveFormat::sessionId(data.id);
    row.datetime = ArchiveFormat::startedAt(data.startedAt);
    row.db = data.dbName;
    row.user = data.userName;
    row.queries = QString::number(data.queries.size());
    row.elapsed = ArchiveFormat::elapsed(data.duration);
    row.rows = QString::number(data.rowsTotal);
    row.receivedKb = ArchiveFormat::localeKb(double(data.responseKbTotal), locale);
    row.error = QStringLiteral("yes");
    if (data.queries.errors() > 0)
        row.error = QStringLiteral("no");
    return row;
}

bool ArchiveStore::ready()
{
    if (!isOpen()) {
        if (error.isEmpty())
            error = QStringLiteral("the archive is not open");
        return false;
    }
    error.clear();
    // A file another program held locked when it was opened is brought up
    // to date now.
    return upToDate() || migrate();
}

bool ArchiveStore::insertSession(ArchivedSession* row)
{
    QSqlQuery taken(database());
    taken.setForwardOnly(true);
    taken.prepare(QStringLiteral("SELECT 1 FROM sessions WHERE id = ?"));
    taken.addBindValue(row->id);
    if (!taken.exec()) {
        error = reason(taken.lastError());
        return false;
    }
    if (taken.next()) {
        taken.finish();
        row->id = ArchiveFormat::sessionId(maxId() + 1);
    }
    return exec(QStringLiteral("INSERT INTO sessions (id, datetime, db, user, queries, elapsed, rows, "
                               "receivedKb, comment, error) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                {row->id, row->datetime, row->db, row->user, row->queries, row->elapsed, row->rows, row->receivedKb,
                 row->comment, row->error});
}

bool ArchiveStore::insertStatements(const QString& id, const SessionData& data, int from)
{
    // One statement prepared once, bound and run per record.
    QSqlQuery insert(database());
    bool ok = insert.prepare(QStringLiteral("INSERT INTO queries (id, num, time, timeAll, great, rows, send, get, "
                                            "query, db, error) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (int i = qMax(from, data.queries.released()); ok && i < data.queries.size(); ++i) {
        const Query q = data.queries.at(i);
        insert.bindValue(0, id);
        insert.bindValue(1, i);
        insert.bindValue(2, ArchiveFormat::fixed3(q.durationMs));
        insert.bindValue(3, ArchiveFormat::positive3(q.shareOfTotal));
        insert.bindValue(4, QString::number(q.percentOfMax));
        insert.bindValue(5, QString::number(q.rows));
        // `send` holds what the client received, `get` what it sent.
        insert.bindValue(6, ArchiveFormat::positive3(q.responseKb));
        insert.bindValue(7, ArchiveFormat::positive3(q.requestKb));
        insert.bindValue(8, q.text.isNull() ? QString(QLatin1String("")) : q.text);
        insert.bindValue(9, q.dbName.isNull() ? QString(QLatin1String("")) : q.dbName);
        insert.bindValue(10, q.isError ? QStringLiteral("1") : QStringLiteral("0"));
        ok = insert.exec();
    }
    if (!ok)
        error = reason(insert.lastError());
    return ok;
}

bool ArchiveStore::inTransaction(const std::function<bool()>& work)
{
    if (!begin())
        return false;
    if (!work()) {
        rollback();
        return false;
    }
    return commit();
}

bool ArchiveStore::save(const SessionData& data, QString* savedAs)
{
    if (!ready())
        return false;
    ArchivedSession row = describe(data);
    if (!inTransaction([&] { return insertSession(&row) && insertStatements(row.id, data, 0); }))
        return false;
    if (savedAs)
        *savedAs = row.id;
    return true;
}

bool ArchiveStore::saveBegin(const SessionData& data, QString* savedAs)
{
    if (!ready())
        return false;
    ArchivedSession row = describe(data);
    if (!inTransaction([&] { return insertSession(&row); }))
        return false;
    *savedAs = row.id;
    return true;
}

bool ArchiveStore::saveStatements(const QString& id, const SessionData& data, int from)
{
    error.clear();
    return inTransaction([&] { return insertStatements(id, data, from); });
}

bool ArchiveStore::saveEnd(const QString& id, const SessionData& data)
{
    error.clear();
    ArchivedSession row = describe(data);
    row.id = id;
    // Statements written while the session ran carry the ratings of then:
    // they are rated again against the session's final total and slowest
    // statement, from their stored durations.
    return inTransaction([&] {
        return exec(QStringLiteral("UPDATE sessions SET datetime = ?, db = ?, user = ?, queries = ?, elapsed = ?, "
                                   "rows = ?, receivedKb = ?, error = ? WHERE id = ?"),
                    {row.datetime, row.db, row.user, row.queries, row.elapsed, row.rows, row.receivedKb, row.error,
                     row.id})
               && exec(QStringLiteral("UPDATE queries SET timeAll = CASE WHEN CAST(time AS REAL) * 100.0 / ? > 0 "
                                      "THEN printf('%.3f', CAST(time AS REAL) * 100.0 / ?) ELSE '0' END, "
                                      "great = CAST(CAST(time AS REAL) * 100.0 / ? + 0.5 AS INTEGER) WHERE id = ?"),
                       {data.durationMsTotal, data.durationMsTotal, qMax(1.0, data.durationMsMax), row.id});
    });
}

QVector<ArchivedSession> ArchiveStore::sessions(bool* ok)
{
    QVector<ArchivedSession> rows;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    const bool done = q.exec(QStringLiteral("SELECT id, datetime, db, user, queries, elapsed, rows, receivedKb, "
                                            "comment, %1 FROM sessions ORDER BY CAST(id AS INTEGER) DESC")
                                 .arg(errorColumn(QStringLiteral("sessions"))));
    if (!done)
        error = reason(q.lastError());
    while (done && q.next()) {
        ArchivedSession s;
        s.id = q.value(0).toString();
        s.datetime = q.value(1).toString();
        s.db = q.value(2).toString();
        s.user = q.value(3).toString();
        s.queries = q.value(4).toString();
        s.elapsed = q.value(5).toString();
        s.rows = q.value(6).toString();
        s.receivedKb = q.value(7).toString();
        s.comment = q.value(8).toString();
        s.error = q.value(9).toString();
        rows.append(s);
    }
    if (ok)
        *ok = done;
    return rows;
}

ArchivedSession ArchiveStore::session(const QString& id, bool* found)
{
    if (found)
        *found = false;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT id, datetime, db, user, queries, elapsed, rows, receivedKb, comment, %1 "
                             "FROM sessions WHERE id = ?")
                  .arg(errorColumn(QStringLiteral("sessions"))));
    q.addBindValue(id);
    ArchivedSession s;
    if (!q.exec()) {
        error = reason(q.lastError());
        return s;
    }
    if (!q.next())
        return s;
    s = ArchivedSession{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                        q.value(4).toString(), q.value(5).toString(), q.value(6).toString(), q.value(7).toString(),
                        q.value(8).toString(), q.value(9).toString()};
    if (found)
        *found = true;
    return s;
}

SessionData* ArchiveStore::load(const ArchivedSession& row)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT time, timeAll, great, rows, send, get, query, db, %1 FROM queries "
                             "WHERE id = ? ORDER BY num+0")
                  .arg(errorColumn(QStringLiteral("queries"))));
    q.addBindValue(row.id);
    if (!q.exec()) {
        error = reason(q.lastError());
        return nullptr;
    }
    auto* data = new SessionData;
    data->id = ArchiveFormat::readSessionId(row.id);
    data->startedAt = ArchiveFormat::readStartedAt(row.datetime);
    data->dbName = row.db;
    data->userName = row.user;
    data->duration = ArchiveFormat::readElapsed(row.elapsed);
    data->rowsTotal = row.rows.toUInt();
    data->responseKbTotal = float(ArchiveFormat::readLocaleKb(row.receivedKb));
    data->authenticated = true;
    while (q.next()) {
        Query stored;
        Query* query = &stored;
        query->durationMs = q.value(0).toDouble();
        query->shareOfTotal = q.value(1).toFloat();
        query->percentOfMax = q.value(2).toInt();
        query->rows = q.value(3).toUInt();
        query->responseKb = q.value(4).toFloat();
        query->requestKb = q.value(5).toFloat();
        query->text = q.value(6).toString();
        query->dbName = q.value(7).toString();
        query->isError = q.value(8).toBool();
        data->requestKbTotal += query->requestKb;
        data->durationMsTotal += query->durationMs;
        data->queries.append(stored);
    }
    return data;
}

QStringList ArchiveStore::statementTexts(const QString& id, bool* ok)
{
    QStringList texts;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT query FROM queries WHERE id = ? ORDER BY num+0"));
    q.addBindValue(id);
    const bool done = q.exec();
    if (!done)
        error = reason(q.lastError());
    while (done && q.next())
        texts << q.value(0).toString();
    if (ok)
        *ok = done;
    return texts;
}

bool ArchiveStore::setComment(const QString& id, const QString& comment)
{
    QSqlQuery q(database());
    q.prepare(QStringLiteral("UPDATE sessions SET comment = ? WHERE id = ?"));
    q.addBindValue(comment);
    q.addBindValue(id);
    if (!q.exec()) {
        error = reason(q.lastError());
        return false;
    }
    if (q.numRowsAffected() < 1) {
        error = QStringLiteral("there is no saved session %1").arg(id);
        return false;
    }
    return true;
}

bool ArchiveStore::remove(const QStringList& ids)
{
    error.clear();
    if (!begin())
        return false;
    bool ok = true;
    for (const QString& table : {QStringLiteral("queries"), QStringLiteral("sessions")}) {
        QSqlQuery q(database());
        ok = q.prepare(QStringLiteral("DELETE FROM %1 WHERE id = ?").arg(table));
        for (int i = 0; ok && i < ids.size(); ++i) {
            q.bindValue(0, ids.at(i));
            ok = q.exec();
        }
        if (!ok) {
            error = reason(q.lastError());
            break;
        }
    }
    if (!ok) {
        rollback();
        return false;
    }
    return commit();
}

bool ArchiveStore::clear()
{
    error.clear();
    if (!begin())
        return false;
    if (!exec(QStringLiteral("DELETE FROM queries")) || !exec(QStringLiteral("DELETE FROM sessions"))) {
        rollback();
        return false;
    }
    return commit();
}
