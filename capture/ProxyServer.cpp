#include "ProxyServer.h"

#include "DbConnection.h"

#include "MngrSessions.h"
#include "ServerStatistics.h"
#include "Settings.h"
#include "languageEngine.h"

#include <QBrush>
#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTimer>

namespace {
const QString StatsConnectionName = QStringLiteral("a");

QString statusStatement(const QString& pattern)
{
    return QStringLiteral("SHOW /*!50002 GLOBAL */ STATUS LIKE '") + pattern + QLatin1Char('\'');
}

/// A right-aligned blue number.
QStandardItem* countItem(qlonglong value)
{
    auto* item = new QStandardItem;
    item->setData(value, Qt::DisplayRole);
    item->setData(value, Qt::UserRole);
    item->setData(int(Qt::AlignRight | Qt::AlignVCenter), Qt::TextAlignmentRole);
    item->setData(QBrush(Qt::blue), Qt::ForegroundRole);
    item->setEditable(false);
    return item;
}

/// A right-aligned rate shown with one decimal; the number itself in the user role.
QStandardItem* rateItem(double value)
{
    auto* item = new QStandardItem(QLocale::system().toString(value, 'f', 1));
    item->setData(value, Qt::UserRole);
    item->setData(int(Qt::AlignRight | Qt::AlignVCenter), Qt::TextAlignmentRole);
    item->setEditable(false);
    return item;
}

QStandardItem* textItem(const QString& text)
{
    auto* item = new QStandardItem(text);
    item->setData(text, Qt::UserRole);
    item->setEditable(false);
    return item;
}
} // namespace

ProxyServer::ProxyServer(Settings* settings, MngrSessions* mngr, languageEngine* le, QObject* parent)
    : QTcpServer(parent), settings(settings), mngr(mngr), le(le)
{
    statusNames = ServerStatistics::statusNames();
    timer = new QTimer(this);
    QObject::connect(timer, &QTimer::timeout, this, &ProxyServer::updateStatistics);
    if (settings && settings->AlwaysTunneling)
        listenProfile();
}

ProxyServer::~ProxyServer()
{
    timer->stop();
    close();
    query.reset();
    if (db.isValid()) {
        if (db.isOpen())
            db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(StatsConnectionName);
    }
}

QString ProxyServer::connectOptions() const
{
    const Profile* p = settings ? settings->currentProfile() : nullptr;
    return p ? DbConnectionParams::optionsFor(*p) : QString();
}

bool ProxyServer::listenProfile()
{
    const Profile* p = settings ? settings->currentProfile() : nullptr;
    if (!p)
        return false;
    const QHostAddress address = p->NetworkConnections ? QHostAddress(QHostAddress::Any)
                                                       : QHostAddress(QHostAddress::LocalHost);
    return listen(address, quint16(p->ProfilerPort));
}

void ProxyServer::incomingConnection(qintptr socketDescriptor)
{
    // The relay thread adopts the descriptor; no socket object lives here.
    mngr->pendingSession(socketDescriptor, this);
}

bool ProxyServer::connect()
{
    if (db.isOpen()) {
        query.reset();
        db.close();
    }
    const Profile* p = settings ? settings->currentProfile() : nullptr;
    if (!p) {
        lastDbError = tr("No connection profile");
        return false;
    }
    db = DbConnection::open(DbConnectionParams::fromProfile(*p), StatsConnectionName, &lastDbError);
    return db.isOpen();
}

bool ProxyServer::dbIsOpen() const
{
    return db.isValid() && db.isOpen();
}

QString ProxyServer::errorText(const QString& key) const
{
    if (le)
        return le->errors(key);
    if (key == QLatin1String("error_str"))
        return QStringLiteral("Error");
    return languageEngine::missingText();
}

void ProxyServer::reportConnectionError()
{
    emit errorReported(errorText(QStringLiteral("error_str")), errorText(QStringLiteral("mysql_conn_error")));
}

void ProxyServer::startProxy()
{
    for (auto& c : prevCounters)
        c.reset();

    if (!connect()) {
        reportConnectionError();
        emit stopCaptureRequested();
        return;
    }

    query = std::make_unique<QSqlQuery>(db);
    query->setForwardOnly(true);
    version.clear();
    if (query->exec(QStringLiteral("SELECT VERSION()")) && query->next())
        version = query->value(0).toString();
    if (query->exec(QStringLiteral("SHOW VARIABLES LIKE \"version_compile_os\"")) && query->next())
        version += QStringLiteral(" (") + query->value(1).toString() + QLatin1Char(')');

    const Profile* p = settings->currentProfile();
    period = ServerStatistics::pollPeriod(p->StatusPeriod);
    if (p->StatusCheck) {
        timer->start(period * 1000);
        updateStatistics();
    } else {
        emit updateStatSignal(QStringLiteral("None"), {}, {}, {}, version);
    }

    if (isListening())
        close();
    if (listenProfile()) {
        running = true;
        emit serverStateChanged(true);
    } else {
        emit updateStatSignal(QStringLiteral("None"), {}, {}, {}, QStringLiteral("None"));
        emit errorReported(errorText(QStringLiteral("error_str")), errorString());
        emit stopCaptureRequested();
    }
}

void ProxyServer::stop()
{
    timer->stop();
    if (dbIsOpen()) {
        query.reset();
        db.close();
        emit serverStateChanged(false);
    }
}

void ProxyServer::stopProxy()
{
    if (!settings || !settings->AlwaysTunneling)
        close();
    if (mngr)
        mngr->stopActiveSessions();
    running = false;
    stop();
}

void ProxyServer::restartProxy()
{
    if (running) {
        stopProxy();
        startProxy();
    }
}

void ProxyServer::recoveryConnect()
{
    const bool polling = timer->isActive();
    stop();
    if (connect()) {
        query = std::make_unique<QSqlQuery>(db);
        query->setForwardOnly(true);
        // polling goes on at the next tick
        if (polling)
            timer->start(period * 1000);
        emit serverStateChanged(true);
        return;
    }
    reportConnectionError();
    if (running)
        emit stopCaptureRequested();
    emit profilesDialogRequested();
}

bool ProxyServer::statusValue(const QString& name, std::optional<qint64>* value)
{
    if (!query->exec(statusStatement(name))) {
        lastDbError = query->lastError().text();
        recoveryConnect();
        return false;
    }
    if (query->next())
        *value = query->value(1).toLongLong();
    return true;
}

void ProxyServer::updateStatistics()
{
    using namespace ServerStatistics;
    if (!query || !dbIsOpen())
        return;

    // Uptime; without a row the previous days and time stay.
    std::optional<qint64> uptimeValue;
    if (!statusValue(QStringLiteral("Uptime"), &uptimeValue))
        return;
    const qint64 uptime = uptimeValue.value_or(0);
    if (uptimeValue)
        splitUptime(uptime, &uptimeDays, &uptimeTime);
    const QString uptimeStr = uptimeText(uptimeDays, uptimeTime);

    Snapshot snapshot;
    for (int i = Queries; i <= ComDelete; ++i)
        if (!statusValue(statusNames[i], &snapshot[i]))
            return;

    if (!query->exec(statusStatement(QStringLiteral("com_%")))) {
        lastDbError = query->lastError().text();
        recoveryConnect();
        return;
    }
    QList<QPair<QString, qint64>> commands;
    while (query->next())
        commands.append({query->value(0).toString(), query->value(1).toLongLong()});

    for (int i = ThreadsConnected; i <= BytesReceived; ++i)
        if (!statusValue(statusNames[i], &snapshot[i]))
            return;

    // Every essential statement succeeded: only now are the counters consumed.
    const Rates rates = computeRates(&prevCounters, snapshot, period);
    const QList<double> paramsFlow = flowRates(mngr->countQueriesGroup(), period);
    fillCommandTable(commands, uptime);
    fillProcessList();
    fillOpenTables();

    emit updateStatSignal(uptimeStr, rates.params, paramsFlow, rates.paramsGraph, version);
}

void ProxyServer::fillCommandTable(const QList<QPair<QString, qint64>>& counters, qint64 uptime)
{
    QStandardItemModel* model = mngr->modelStatus;
    model->removeRows(0, model->rowCount());
    const QList<ServerStatistics::CommandRow> rows = ServerStatistics::commandTable(counters, uptime);
    for (const ServerStatistics::CommandRow& r : rows) {
        auto* percent = new QStandardItem;
        percent->setData(r.percent, Qt::DisplayRole);
        percent->setData(r.percent, Qt::UserRole);
        percent->setEditable(false);
        model->appendRow({textItem(r.name), countItem(r.value), rateItem(r.perHour), rateItem(r.perSecond), percent});
    }
}

void ProxyServer::fillProcessList()
{
    QStandardItemModel* model = mngr->modelProcesses;
    const bool ok = query->exec(QStringLiteral("SHOW FULL PROCESSLIST"));
    model->removeRows(0, model->rowCount());
    if (!ok)
        return;
    const auto& highlight = mngr->highlighter;
    mngr->modelTopQueriesDb->beginBatch();
    while (query->next()) {
        const QString info = query->value(7).toString();
        // a connection that runs nothing is listed but not counted; the
        // database of an entry is the row's db column
        if (!info.isEmpty())
            mngr->addTopQueryDb(info, query->value(3).toString(), query->value(1).toString());
        QList<QStandardItem*> row;
        auto* id = new QStandardItem;
        id->setData(query->value(0).toLongLong(), Qt::DisplayRole);
        id->setData(query->value(0).toLongLong(), Qt::UserRole);
        id->setEditable(false);
        row << id;
        for (int c = 1; c <= 4; ++c)
            row << textItem(query->value(c).toString());
        row << countItem(query->value(5).toLongLong());
        auto* text = new QStandardItem(highlight ? highlight(info) : info.toHtmlEscaped());
        text->setData(info, Qt::UserRole);
        text->setEditable(false);
        row << text;
        model->appendRow(row);
    }
    mngr->modelTopQueriesDb->endBatch();
}

void ProxyServer::fillOpenTables()
{
    if (!query->exec(QStringLiteral("SHOW OPEN TABLES")))
        return;
    const QSqlRecord rec = query->record();
    int dbCol = rec.indexOf(QStringLiteral("Database"));
    int tableCol = rec.indexOf(QStringLiteral("Table"));
    if (dbCol < 0)
        dbCol = 0;
    if (tableCol < 0)
        tableCol = 1;
    // Counts accumulate from poll to poll: an entry's count is the number of
    // polls in which it was open.
    mngr->modelTopDbDb->beginBatch();
    mngr->modelTopTablesDb->beginBatch();
    while (query->next()) {
        mngr->addTop(query->value(dbCol).toString(), mngr->modelTopDbDb);
        ++mngr->countTopDbDb;
        mngr->addTop(query->value(tableCol).toString(), mngr->modelTopTablesDb);
        ++mngr->countTopTablesDb;
    }
    mngr->modelTopTablesDb->endBatch();
    mngr->modelTopDbDb->endBatch();
}
