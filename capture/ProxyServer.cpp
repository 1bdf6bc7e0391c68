#include "ProxyServer.h"

#include "DbConnection.h"
#include "MngrSessions.h"
#include "ServerStatistics.h"
#include "Settings.h"
#include "ThreadCheck.h"
#include "StatisticsPoller.h"
#include "languageEngine.h"

#include <QBrush>
#include <QLocale>
#include <QDeadlineTimer>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QThread>
#include <QTimer>

namespace {
/// How long the destructor waits for poller threads, all together, in ms.
constexpr int PollerShutdownWaitMs = 2000;

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
    timer = new QTimer(this);
    QObject::connect(timer, &QTimer::timeout, this, &ProxyServer::updateStatistics);
    if (settings && settings->AlwaysTunneling)
        listenProfile();
}

ProxyServer::~ProxyServer()
{
    timer->stop();
    close();
    dropPoller();
    // A poller thread ends after its current request. One still waiting on
    // the network after the deadline is left to end alone (it deletes itself).
    const QDeadlineTimer deadline(PollerShutdownWaitMs);
    for (QThread* t : findChildren<QThread*>(QString(), Qt::FindDirectChildrenOnly)) {
        t->quit();
        if (!t->wait(deadline))
            t->setParent(nullptr);
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

void ProxyServer::createPoller()
{
    const quint64 current = ++generation;
    pollerThread = new QThread(this);
    poller = new StatisticsPoller(period);
    poller->moveToThread(pollerThread);
    QObject::connect(pollerThread, &QThread::finished, poller, &QObject::deleteLater);
    QObject::connect(pollerThread, &QThread::finished, pollerThread, &QObject::deleteLater);
    QObject::connect(poller, &StatisticsPoller::opened, this, [this, current](const StatisticsOpen& r) {
        if (current == generation)
            onOpened(r);
    });
    QObject::connect(poller, &StatisticsPoller::polled, this, [this, current](const StatisticsPoll& v) {
        if (current == generation)
            onPolled(v);
    });
    pollerThread->start();
}

bool ProxyServer::openConnection(bool readVersion)
{
    const Profile* p = settings ? settings->currentProfile() : nullptr;
    if (!p) {
        lastDbError = tr("No connection profile");
        return false;
    }
    const DbConnectionParams params = DbConnectionParams::fromProfile(*p);
    StatisticsPoller* target = poller;
    threadcheck::queueCall(poller, [target, params, readVersion]() { target->open(params, readVersion); });
    return true;
}

void ProxyServer::dropPoller()
{
    if (pollerThread)
        pollerThread->quit();
    poller = nullptr;
    pollerThread = nullptr;
    ++generation;
    starting = reconnecting = dbOpen = pollPending = false;
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
    // A start replaces whatever connection there was, without a state change.
    timer->stop();
    dropPoller();
    version.clear();
    const Profile* p = settings ? settings->currentProfile() : nullptr;
    statusCheck = p && p->StatusCheck;
    period = ServerStatistics::pollPeriod(p ? p->StatusPeriod : 1);
    createPoller();
    starting = true;
    if (!openConnection(true)) {
        dropPoller();
        reportConnectionError();
        emit stopCaptureRequested();
    }
}

void ProxyServer::onOpened(const StatisticsOpen& result)
{
    if (reconnecting) {
        reconnecting = false;
        if (!result.ok) {
            lastDbError = result.error;
            dropPoller();
            reportConnectionError();
            if (running)
                emit stopCaptureRequested();
            emit profilesDialogRequested();
            return;
        }
        dbOpen = true;
        connectionId = result.connectionId;
        if (resumePolling)
            timer->start(period * 1000);
        emit serverStateChanged(true);
        return;
    }
    if (!starting)
        return;
    if (!result.ok) {
        lastDbError = result.error;
        dropPoller();
        reportConnectionError();
        emit stopCaptureRequested();
        return;
    }
    dbOpen = true;
    version = result.version;
    connectionId = result.connectionId;
    if (statusCheck) {
        // listening follows the first poll
        timer->start(period * 1000);
        updateStatistics();
        return;
    }
    emit updateStatSignal(QStringLiteral("None"), {}, {}, {}, version);
    finishStart();
}

void ProxyServer::finishStart()
{
    starting = false;
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
    const bool wasOpen = dbOpen;
    dropPoller();
    if (wasOpen)
        emit serverStateChanged(false);
}

void ProxyServer::stopProxy()
{
    if (!settings || !settings->AlwaysTunneling)
        close();
    else if (!isListening())
        listenProfile(); // tunnelling relays after a stop
    if (mngr)
        mngr->stopActiveSessions();
    running = false;
    stop();
}

void ProxyServer::restartProxy()
{
    if (running || starting) {
        stopProxy();
        startProxy();
    }
}

void ProxyServer::recoveryConnect()
{
    if ((starting && !dbOpen) || reconnecting)
        return; // connecting already
    const bool polling = timer->isActive();
    timer->stop();
    if (dbOpen) {
        dbOpen = false;
        emit serverStateChanged(false);
    }
    // The poller keeps its counters across the reconnection: rates go on.
    if (!poller)
        createPoller();
    reconnecting = true;
    resumePolling = polling;
    if (!openConnection(false)) {
        StatisticsOpen failed;
        failed.error = lastDbError;
        onOpened(failed);
    }
}

void ProxyServer::updateStatistics()
{
    if (!poller || !dbOpen || pollPending)
        return;
    pollPending = true;
    QMetaObject::invokeMethod(poller, &StatisticsPoller::poll, Qt::QueuedConnection);
}

void ProxyServer::onPolled(const StatisticsPoll& values)
{
    pollPending = false;
    if (!dbOpen)
        return; // asked for before a reconnection began
    if (!values.ok) {
        // an essential statement failed: no values, reconnect
        lastDbError = values.error;
        recoveryConnect();
    } else {
        const QList<double> paramsFlow = ServerStatistics::flowRates(mngr->countQueriesGroup(), period);
        fillCommandTable(values);
        fillProcessList(values);
        fillOpenTables(values);
        emit updateStatSignal(values.uptime, values.rates.params, paramsFlow, values.rates.paramsGraph, version);
    }
    if (starting)
        finishStart();
}

void ProxyServer::fillCommandTable(const StatisticsPoll& values)
{
    QStandardItemModel* model = mngr->modelStatus;
    model->removeRows(0, model->rowCount());
    for (const ServerStatistics::CommandRow& r : values.commands) {
        auto* percent = new QStandardItem;
        percent->setData(r.percent, Qt::DisplayRole);
        percent->setData(r.percent, Qt::UserRole);
        percent->setEditable(false);
        model->appendRow({textItem(r.name), countItem(r.value), rateItem(r.perHour), rateItem(r.perSecond), percent});
    }
}

void ProxyServer::fillProcessList(const StatisticsPoll& values)
{
    QStandardItemModel* model = mngr->modelProcesses;
    model->removeRows(0, model->rowCount());
    if (!values.processListRead)
        return;
    const auto& highlight = mngr->highlighter;
    mngr->modelTopQueriesDb->beginBatch();
    for (const StatisticsProcess& proc : values.processes) {
        // a connection that runs nothing is listed but not counted; the
        // database of an entry is the row's db column
        if (!proc.info.isEmpty())
            mngr->addTopQueryDb(proc.info, proc.db, proc.user);
        auto* id = new QStandardItem;
        id->setData(proc.id, Qt::DisplayRole);
        id->setData(proc.id, Qt::UserRole);
        id->setEditable(false);
        auto* text = new QStandardItem(highlight ? highlight(proc.info) : proc.info.toHtmlEscaped());
        text->setData(proc.info, Qt::UserRole);
        text->setEditable(false);
        model->appendRow({id, textItem(proc.user), textItem(proc.host), textItem(proc.db), textItem(proc.command),
                          countItem(proc.time), text});
    }
    mngr->modelTopQueriesDb->endBatch();
}

void ProxyServer::fillOpenTables(const StatisticsPoll& values)
{
    // Counts accumulate from poll to poll: an entry's count is the number of
    // polls in which it was open.
    mngr->modelTopDbDb->beginBatch();
    mngr->modelTopTablesDb->beginBatch();
    for (const auto& open : values.openTables) {
        mngr->addTop(open.first, mngr->modelTopDbDb);
        ++mngr->countTopDbDb;
        mngr->addTop(open.second, mngr->modelTopTablesDb);
        ++mngr->countTopTablesDb;
    }
    mngr->modelTopTablesDb->endBatch();
    mngr->modelTopDbDb->endBatch();
}
