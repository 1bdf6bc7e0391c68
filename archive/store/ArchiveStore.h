#pragma once

#include <QLocale>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

struct SessionData;

/// One row of the archive's `sessions` table: every value as the text the
/// session list showed when the session was saved.
struct ArchivedSession
{
    QString id;          ///< 7 digits filled with "0"
    QString datetime;    ///< "dd.MM.yy hh:mm"
    QString db;
    QString user;
    QString queries;     ///< number of statements
    QString elapsed;     ///< "hh:mm:ss.zzz"
    QString rows;
    QString receivedKb;  ///< response KiB in the writer's locale, 3 decimals
    QString comment;
    QString error;       ///< "yes" when every statement succeeded, "no" else; empty in old files

    bool operator==(const ArchivedSession& o) const
    {
        return id == o.id && datetime == o.datetime && db == o.db && user == o.user && queries == o.queries
               && elapsed == o.elapsed && rows == o.rows && receivedKb == o.receivedKb && comment == o.comment
               && error == o.error;
    }
};

/// The archive of saved sessions: a SQLite file of three text tables
/// (`system` with the format version "4.0", `sessions`, `queries`) that
/// earlier versions of the program read and write too.
///
/// Every value is bound, never spliced into SQL text. A save is one
/// transaction; two programs may write the same file at once (SQLite's
/// locking, waited for up to the busy timeout). Failures return false and
/// leave the reason in lastError().
///
/// Not thread-safe: use an instance only in the thread that opened it.
class ArchiveStore
{
public:
    /// The format this version writes.
    static QString formatVersion() { return QStringLiteral("4.0"); }

    /// `connectionName` names the Qt SQL connection (one per instance).
    explicit ArchiveStore(const QString& connectionName = QStringLiteral("SQLite conection"));
    ~ArchiveStore();
    ArchiveStore(const ArchiveStore&) = delete;
    ArchiveStore& operator=(const ArchiveStore&) = delete;

    /// "savedSessions" beside settings.ini.
    static QString defaultPath();

    /// Opens (creating the file and its folder when missing) and brings an
    /// older file up to this format: missing tables and `error` columns are
    /// added and the version stamped "4.0" in one transaction, or nothing
    /// when any step fails. Returns false when the file cannot be opened or
    /// brought up to date (the reason in lastError()); a file that opened
    /// but could not be migrated is still readable.
    bool open(const QString& path, int busyTimeoutMs = 5000);
    bool isOpen() const;
    void close();
    /// On: transactions go to a write-ahead log beside the file and wait for
    /// the disk only when the log is copied back (every few MiB), not at
    /// every commit; a power failure may lose the last transactions, never
    /// the file. For a writer that commits several times a second: a sync of
    /// the plain journal took seconds on a busy disk. Off: back to the plain
    /// journal, the form every reader expects (fails while another program
    /// has the file open; the log then stays until the next such call).
    bool setWriteAhead(bool on);
    QString path() const { return file; }
    QString lastError() const { return error; }
    /// The connection, for code that reads the file itself.
    QSqlDatabase database() const;

    /// The `system` table's version text; empty when there is none.
    QString version();
    /// The largest saved session number (numerically); 0 when none.
    quint64 maxId();

    /// The row a session record is saved as; `locale` formats receivedKb.
    static ArchivedSession describe(const SessionData& data, const QLocale& locale = QLocale::system());

    /// Saves the session and its statements in one transaction. When its
    /// number is taken already (by another program writing the file), the
    /// session is saved under the next free number; `savedAs` receives the
    /// id text used. False (nothing written) on any failure.
    bool save(const SessionData& data, QString* savedAs = nullptr);

    /// A session saved while it runs, in steps of one transaction each:
    /// saveBegin() writes its row as it stands (numbered as save() does,
    /// the id text used in `savedAs`); saveStatements() appends the
    /// statements from position `from` on that the record still holds;
    /// saveEnd() writes the row's final figures and rates every saved
    /// statement against the session's total and slowest statement. A
    /// failed step leaves what the earlier ones wrote (remove() it).
    bool saveBegin(const SessionData& data, QString* savedAs);
    bool saveStatements(const QString& id, const SessionData& data, int from);
    bool saveEnd(const QString& id, const SessionData& data);

    /// Every saved session, newest number first; empty on failure (`ok` false).
    QVector<ArchivedSession> sessions(bool* ok = nullptr);
    /// The saved row of `id`; `found` false when there is none.
    ArchivedSession session(const QString& id, bool* found = nullptr);
    /// A new record of the saved session `row` with its statements in order
    /// (the caller owns it); nullptr on failure. A session without
    /// statements gives an empty record.
    SessionData* load(const ArchivedSession& row);
    /// The statement texts of session `id`, in statement order.
    QStringList statementTexts(const QString& id, bool* ok = nullptr);

    bool setComment(const QString& id, const QString& comment);
    /// Deletes the sessions and their statements, all or none.
    bool remove(const QStringList& ids);
    /// Deletes every session and statement.
    bool clear();

private:
    bool migrate();
    bool upToDate();
    QStringList columns(const QString& table);
    bool begin();
    bool commit();
    /// Runs `work` in a transaction: committed when it returns true.
    bool inTransaction(const std::function<bool()>& work);
    /// Open and up to date, or false with the reason.
    bool ready();
    /// Inserts the session row, under the next free number when `row`'s is taken.
    bool insertSession(ArchivedSession* row);
    bool insertStatements(const QString& id, const SessionData& data, int from);
    void rollback();
    bool exec(const QString& sql, const QVariantList& values = {});
    /// The statement columns to read, with '' for an `error` column the file lacks.
    QString errorColumn(const QString& table);

    QString connection;
    QString file;
    QString error;
};
