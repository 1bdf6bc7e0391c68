#pragma once

#include <QString>
#include <QStringList>

/// The throwaway MariaDB server that the test fixture started
/// (scripts/testdb.sh); read from the file named by QUARVEL_TEST_DB_ENV.
struct TestDb
{
    QString host;        ///< "127.0.0.1"
    quint16 port = 0;
    QString socket;
    QString user;        ///< a user with every privilege and a password
    QString password;
    QString database;    ///< an empty database for the tests
    bool valid = false;

    /// Reads the fixture's file (or `envFile`, written by scripts/testdb.sh
    /// for a server of the test's own); `valid` is false when there is none.
    static TestDb load(const QString& envFile = QString());

    /// Runs the mariadb command-line client against the server with `sql`
    /// on standard input (clientArgs() and `extraArgs`); returns its standard output.
    QString runClient(const QString& sql, const QStringList& extraArgs = {}) const;
};

/// Arguments of the mariadb client for the test server's account at `port`,
/// in batch mode without column names.
QStringList clientArgs(const TestDb& db, quint16 port, const QStringList& extra = {});

/// Skips the calling test function when the fixture's server is not there.
#define REQUIRE_TESTDB(db)                                                   \
    TestDb db = TestDb::load();                                              \
    if (!db.valid)                                                           \
        QSKIP("the MariaDB test server fixture is not running")

/// A throwaway server of the test's own (scripts/testdb.sh in a temporary
/// folder), for a test that restarts it; never the fixture's server, which
/// other tests use meanwhile. Stopped when this ends.
class OwnTestDb
{
public:
    OwnTestDb();   ///< starts it; `db` is valid when it did
    ~OwnTestDb();
    OwnTestDb(const OwnTestDb&) = delete;
    OwnTestDb& operator=(const OwnTestDb&) = delete;
    /// Stops the server and starts it again on the same port and data
    /// (clients see their connections drop); true when it is back.
    bool restart();

    TestDb db;

private:
    QString dir;
};

/// A loopback port that nothing listens on right now.
quint16 freePort();

/// Source and build folders of the project.
QString sourceDir();
QString binaryDir();
