#include "DbConnection.h"

#include "Settings.h"

#include <QAtomicInt>
#include <QSqlError>

DbConnectionParams DbConnectionParams::fromProfile(const Profile& profile)
{
    DbConnectionParams p;
    p.host = profile.Host;
    p.port = int(profile.Port);
    p.user = profile.User;
    p.password = profile.Password;
    p.options = optionsFor(profile);
    return p;
}

QString DbConnectionParams::optionsFor(const Profile& profile)
{
    QString options;
    if (profile.ConnectionMethod == 1)
        options += QStringLiteral("UNIX_SOCKET=") + profile.Socket + QLatin1Char(';');
    if (profile.Compression)
        options += QStringLiteral("CLIENT_COMPRESS=1;");
    return options;
}

DbConnectionParams DbConnectionParams::withOptions(const QString& extra) const
{
    DbConnectionParams p = *this;
    if (!p.options.isEmpty() && !p.options.endsWith(QLatin1Char(';')))
        p.options += QLatin1Char(';');
    p.options += extra;
    return p;
}

const char* const DbConnection::ShortTimeouts =
    "MYSQL_OPT_CONNECT_TIMEOUT=10;MYSQL_OPT_READ_TIMEOUT=20;MYSQL_OPT_WRITE_TIMEOUT=20";

QSqlDatabase DbConnection::open(const DbConnectionParams& params, const QString& name, QString* error)
{
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
    if (db.isOpen())
        db.close();
    db.setPort(params.port);
    db.setHostName(params.host);
    db.setUserName(params.user);
    // An empty password is not given to the driver.
    db.setPassword(params.password.isEmpty() ? QString() : params.password);
    db.setConnectOptions(params.options);
    const bool ok = db.open();
    if (error)
        *error = ok ? QString() : db.lastError().text();
    return db;
}

void DbConnection::close(const QString& name)
{
    if (!QSqlDatabase::contains(name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

QString DbConnection::uniqueName(const QString& prefix)
{
    static QAtomicInt counter{0};
    return prefix + QLatin1Char('-') + QString::number(counter.fetchAndAddRelaxed(1) + 1);
}
