#pragma once
// A Qt SQL connection of the test's own to the test server's database.

#include "TestDb.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>

/// Opens connection `name` to `db`'s database; closed (and the reason
/// printed) when the server refuses.
inline QSqlDatabase openTestDb(const TestDb& db, const QString& name)
{
    QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
    c.setHostName(db.host);
    c.setPort(db.port);
    c.setDatabaseName(db.database);
    if (!c.open(db.user, db.password))
        qWarning() << "test server:" << c.lastError().text();
    return c;
}
