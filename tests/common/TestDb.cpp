#include "TestDb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

TestDb TestDb::load(const QString& envFile)
{
    TestDb db;
    const QString path = envFile.isEmpty() ? QString::fromLocal8Bit(qgetenv("QUARVEL_TEST_DB_ENV")) : envFile;
    QFile f(path);
    if (path.isEmpty() || !f.open(QIODevice::ReadOnly))
        return db;
    const QString prefix = QStringLiteral("QUARVEL_TEST_DB_");
    const QMap<QString, QString*> fields{{prefix + "HOST", &db.host}, {prefix + "SOCKET", &db.socket},
                                         {prefix + "USER", &db.user}, {prefix + "PASSWORD", &db.password},
                                         {prefix + "NAME", &db.database}};
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        const QString key = line.section(QLatin1Char('='), 0, 0), value = line.section(QLatin1Char('='), 1);
        if (key == prefix + "PORT")
            db.port = quint16(value.toUInt());
        else if (QString* field = fields.value(key))
            *field = value;
    }
    db.valid = db.port != 0 && !db.user.isEmpty();
    return db;
}

QString TestDb::runClient(const QString& sql, const QStringList& extraArgs) const
{
    QProcess p;
    p.start(QStringLiteral("mariadb"), clientArgs(*this, port, extraArgs));
    p.write(sql.toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

QStringList clientArgs(const TestDb& db, quint16 port, const QStringList& extra)
{
    return QStringList{"--no-defaults", "--skip-ssl", "-h", db.host, "-P", QString::number(port), "-u" + db.user,
                       "-p" + db.password, "--batch", "--skip-column-names"} + extra;
}

namespace {
/// Runs scripts/testdb.sh with `args`; true when it succeeded.
bool testdbScript(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral("/bin/bash"), QStringList{sourceDir() + QStringLiteral("/scripts/testdb.sh")} + args);
    return p.waitForFinished(180000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
} // namespace

OwnTestDb::OwnTestDb()
{
    QTemporaryDir parent;
    parent.setAutoRemove(false);   // testdb.sh stop removes the folder
    dir = parent.path() + QStringLiteral("/db");
    if (parent.isValid() && testdbScript({QStringLiteral("start"), dir}))
        db = TestDb::load(dir + QStringLiteral("/env"));
}

OwnTestDb::~OwnTestDb()
{
    testdbScript({QStringLiteral("stop"), dir});
    QDir().rmdir(QFileInfo(dir).path());
}

bool OwnTestDb::restart() { return testdbScript({QStringLiteral("restart"), dir}); }

QString sourceDir() { return qEnvironmentVariable("QUARVEL_SOURCE_DIR", QStringLiteral(QUARVEL_SOURCE_DIR)); }
QString binaryDir() { return qEnvironmentVariable("QUARVEL_BINARY_DIR", QStringLiteral(QUARVEL_BINARY_DIR)); }

quint16 freePort()
{
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost, 0) ? s.serverPort() : 0;
}
