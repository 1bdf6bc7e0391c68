#pragma once

#include <QSqlDatabase>
#include <QString>

struct Profile;

/// What a connection of the program's own (statistics, SQL editor) needs to
/// reach the server of a connection profile. Plain values, copied into the
/// thread that opens the connection. [thread-safe]
struct DbConnectionParams
{
    QString host;
    int port = 3306;
    QString user;
    /// Empty: no password is given to the driver.
    QString password;
    /// Driver options: "UNIX_SOCKET=<path>;" for a local socket, then
    /// "CLIENT_COMPRESS=1;" when the profile compresses.
    QString options;

    static DbConnectionParams fromProfile(const Profile& profile);
    static QString optionsFor(const Profile& profile);
    /// These parameters with driver options appended, "MYSQL_OPT_CONNECT_TIMEOUT=10" for example.
    DbConnectionParams withOptions(const QString& extra) const;
};

namespace DbConnection {

/// Driver options of a short-lived connection of the program's own (the
/// profile test, the statistics connection): a server that does not accept
/// the connection or never sends its greeting is given up after 10 s, and
/// one that stops answering a statement after 20 s.
extern const char* const ShortTimeouts;

/// Opens a QMYSQL connection registered as `name` with `params`. The
/// connection belongs to the calling thread: use and close it there only.
/// On failure `error` (when given) receives the driver's text; the
/// connection stays registered until closeConnection().
QSqlDatabase open(const DbConnectionParams& params, const QString& name, QString* error = nullptr);

/// Closes and unregisters connection `name`; call in the thread that opened it.
void close(const QString& name);

/// A connection name not used before in this process: `prefix`, "-" and a
/// counter. [thread-safe]
QString uniqueName(const QString& prefix);

} // namespace DbConnection
