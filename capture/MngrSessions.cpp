#include <algorithm>
#include "MngrSessions.h"

#include <QStandardItemModel>
#include <QTcpServer>

#include "Session.h"
#include "Settings.h"
#include "ThreadSession.h"

MngrSessions::MngrSessions(Settings* settings, QObject* parent)
    : QObject(parent), settings(settings)
{
    tableRegExp.setPattern(QStringLiteral(
        "\\b(?:FROM|JOIN|DESCRIBE|DESC|UPDATE|INTO|DELETE)\\b"
        "(?:\\s+(?:FROM|IF\\sNOT\\sEXISTS|QUICK|LOW_PRIORITY|IGNORE))?"
        "(?:\\s+\\S*(?![(])['\"`]?(\\w+)['\"`])"));
    tableRegExp.setPatternOptions(QRegularExpression::CaseInsensitiveOption);

    modelTopQueries = new TopListModel(6, 5, 4, this);
    modelTopTables = new TopListModel(3, 1, 2, this);
    modelTopDb = new TopListModel(3, 1, 2, this);
    modelTopQueriesDb = new TopListModel(6, 5, 4, this);
    modelTopTablesDb = new TopListModel(3, 1, 2, this);
    modelTopDbDb = new TopListModel(3, 1, 2, this);
    modelProcesses = new QStandardItemModel(0, 7, this);
    modelStatus = new QStandardItemModel(0, 5, this);

    groupCounters = QList<int>{0, 0, 0, 0, 0, 0};
    highlighter = [](const QString& text) { return text.toHtmlEscaped(); };
    // Distinct statements arrive by the thousand: the lists highlight a
    // statement when a view first shows it, with the highlighter installed then.
    const auto shown = [this](const QString& text) {
        return highlighter ? highlighter(text) : text.toHtmlEscaped();
    };
    modelTopQueries->setShownForm(2, shown);
    modelTopQueriesDb->setShownForm(2, shown);
}

MngrSessions::~MngrSessions()
{
    for (Session* s : activeSessions + retiredSessions)
        disconnect(s, nullptr, this, nullptr);
    freePending();
    qDeleteAll(sessions);
    qDeleteAll(orphanRecords);
}

void MngrSessions::pendingSession(int socketDescriptor, QTcpServer* server)
{
    // The profile may be edited or deleted while the connection lives: the
    // relay gets the address as it is now, never the profile itself.
    ServerAddress address;
    if (const Profile* p = settings ? settings->currentProfile() : nullptr) {
        address.host = p->Host;
        address.port = p->Port > 0 && p->Port <= 65535 ? quint16(p->Port) : 0;
    }
    adoptSession(new Session(socketDescriptor, address, server));
}

void MngrSessions::adoptSession(Session* session)
{
    activeSessions.append(session);
    connectSession(session);
}

void MngrSessions::connectSession(Session* session)
{
    connect(session, &Session::add, this, &MngrSessions::slotAdd);
    connect(session, &Session::close, this, &MngrSessions::slotClose);
    connect(session, &Session::newQueries, this, &MngrSessions::slotQueries);
    connect(session, &Session::setDbName, this, &MngrSessions::slotDbName);
    connect(session, &QObject::destroyed, this, &MngrSessions::onSessionDestroyed);
}

int MngrSessions::getSessionIndex(ulong id) const
{
    // Sessions that still report are the recent ones: search from the end.
    for (int i = sessions.size() - 1; i >= 0; --i)
        if (sessions.at(i)->id == id)
            return i;
    return -1;
}

SessionData* MngrSessions::getSessionData(uint index) const
{
    return index < uint(sessions.size()) ? sessions.at(int(index)) : nullptr;
}

bool MngrSessions::checkActiveSession(ulong id) const
{
    for (const Session* s : activeSessions)
        if (const SessionData* d = s->getSessionData())
            if (d->id == id)
                return true;
    return false;
}

bool MngrSessions::recordInUse(const SessionData* data) const
{
    for (const Session* s : activeSessions + retiredSessions)
        if (s->getSessionData() == data)
            return true;
    return false;
}

void MngrSessions::stopActiveSessions()
{
    for (Session* s : qAsConst(activeSessions)) {
        s->stop();
        retiredSessions.append(s);
    }
    activeSessions.clear();
}

QList<int> MngrSessions::countQueriesGroup()
{
    const QList<int> result = groupCounters;
    groupCounters = QList<int>{0, 0, 0, 0, 0, 0};
    return result;
}

int MngrSessions::queryGroup(const QString& text)
{
    static const QLatin1String kinds[] = {QLatin1String("SELECT "), QLatin1String("UPDATE "),
                                          QLatin1String("INSERT "), QLatin1String("DELETE ")};
    for (int i = 0; i < 4; ++i)
        if (text.contains(kinds[i], Qt::CaseInsensitive))
            return i + 1;
    return 5;
}

void MngrSessions::addTop(QString name, QStandardItemModel* model)
{
    if (!model)
        return;
    if (auto* top = qobject_cast<TopListModel*>(model))
        top->add(name);
    else
        TopListModel::addLinear(model, 1, 2, name);
}

void MngrSessions::addTopQueryTo(TopListModel* model, const QString& text, const QString& db,
                                 const QString& user)
{
    if (model->countOf(text) > 0) {
        model->add(text);
        return;
    }
    model->add(text, QStringList{QString(), user, text.trimmed(), db, QString(), text});
}

void MngrSessions::addTopQuery(QString text, QString db, QString user)
{
    addTopQueryTo(modelTopQueries, text, db, user);
    ++countTopQueries;
}

void MngrSessions::addTopQueryDb(QString text, QString db, QString user)
{
    addTopQueryTo(modelTopQueriesDb, text, db, user);
    ++countTopQueriesDb;
}

void MngrSessions::slotAdd(SessionData* data)
{
    if (!data)
        return;
    data->id = ++lastId;
    data->queries.setLedger(ledger);
    sessions.append(data);
    if (sessions.size() > maxSessions && maxSessions >= 0) {
        while (sessions.size() > maxSessions) {
            SessionData* oldest = sessions.takeFirst();
            emit removeSession(oldest->id);
            if (recordInUse(oldest))
                orphanRecords.insert(oldest);
            else
                freeLater({oldest});
        }
    }
    emit addSession(uint(sessions.size() - 1));
}

void MngrSessions::slotClose(ulong id)
{
    auto* session = qobject_cast<Session*>(sender());
    if (session && (activeSessions.removeOne(session) || retiredSessions.removeOne(session))) {
        if (SessionData* data = session->getSessionData(); data && orphanRecords.remove(data))
            freeLater({data});
        disconnect(session, nullptr, this, nullptr);
        session->deleteLater();
    }
    if (id == 0)
        return;
    const int index = getSessionIndex(id);
    if (index >= 0)
        emit closeSession(uint(index));
}

void MngrSessions::slotQueries(ulong id, uint indexQuery, uint count)
{
    const int index = getSessionIndex(id);
    if (index < 0)
        return;
    const SessionData* data = sessions.at(index);
    modelTopQueries->beginBatch();
    modelTopTables->beginBatch();
    for (int i = qMax(int(indexQuery), data->queries.released()); i < data->queries.size(); ++i) {
        // UTC: the pattern statistics keep instants, and a local time would be
        // worked out for every statement here instead of for the rows shown.
        const Query q = data->queries.at(i, Qt::UTC);
        if (listTopQueries)
            addTopQuery(q.text, q.dbName, data->userName);
        else
            ++countTopQueries;
        ++groupCounters[0];
        ++groupCounters[queryGroup(q.text)];
        countPattern(q, *data);
    }
    modelTopTables->endBatch();
    modelTopQueries->endBatch();
    emit newQueriesSession(uint(index), indexQuery, count);
    keepWithinBudget();
}

void MngrSessions::keepWithinBudget()
{
    if (memoryBudget <= 0 || ledger->bytes <= memoryBudget)
        return;
    const qint64 target = memoryBudget / 10 * 9;
    for (const bool ended : {true, false}) {
        for (SessionData* data : qAsConst(sessions)) {
            if (ledger->bytes <= target)
                return;
            if (data->duration.isNull() == ended || data->queries.kept() == 0)
                continue;
            data->queries.releaseBytes(ledger->bytes - target);
            emit statementsReleased(data->id, data->queries.released());
        }
    }
}

void MngrSessions::countPattern(const Query& q, const SessionData& session)
{
    for (const QString& table : statementPatterns.add(patternSample(q, session.id))) {
        modelTopTables->add(table);
        ++countTopTables;
    }
}

void MngrSessions::slotDbName(ulong id, QString dbName, QString selectedDb)
{
    addTop(selectedDb.isEmpty() ? dbName : selectedDb, modelTopDb);
    ++countTopDb;
    emit setDbName(id, dbName);
}

void MngrSessions::clearAllSessions()
{
    // Sessions still connected keep writing to their records: those are
    // freed when the connection ends; the others now.
    for (Session* s : activeSessions + retiredSessions) {
        disconnect(s, nullptr, this, nullptr);
        connect(s, &Session::close, this, &MngrSessions::onRetiredClose);
        connect(s, &QObject::destroyed, this, &MngrSessions::onSessionDestroyed);
        if (SessionData* data = s->getSessionData())
            orphanRecords.insert(data);
    }
    retiredSessions += activeSessions;
    activeSessions.clear();
    QList<SessionData*> unused;
    for (SessionData* data : qAsConst(sessions))
        if (!orphanRecords.contains(data))
            unused.append(data);
    sessions.clear();
    freeLater(unused);
}

void MngrSessions::onRetiredClose()
{
    auto* session = qobject_cast<Session*>(sender());
    if (!session || !retiredSessions.removeOne(session))
        return;
    if (SessionData* data = session->getSessionData(); data && orphanRecords.remove(data))
        freeLater({data});
    disconnect(session, nullptr, this, nullptr);
    session->deleteLater();
}

void MngrSessions::deactiveSession()
{
    auto* session = qobject_cast<Session*>(sender());
    if (!session)
        return;
    const bool wasActive = activeSessions.removeOne(session);
    retiredSessions.removeOne(session);
    disconnect(session, nullptr, this, nullptr);
    if (!wasActive) {
        SessionData* data = session->getSessionData();
        if (data && !sessions.contains(data)) {
            orphanRecords.remove(data);
            freeLater({data});
        }
    }
    session->deleteLater();
}

void MngrSessions::onSessionDestroyed(QObject* object)
{
    // Only addresses are compared: the Session part of `object` is already
    // gone, so it must not be cast back to a Session.
    const auto same = [object](Session* s) { return static_cast<QObject*>(s) == object; };
    activeSessions.erase(std::remove_if(activeSessions.begin(), activeSessions.end(), same),
                         activeSessions.end());
    retiredSessions.erase(std::remove_if(retiredSessions.begin(), retiredSessions.end(), same),
                          retiredSessions.end());
}

void MngrSessions::freeLater(const QList<SessionData*>& records)
{
    if (records.isEmpty())
        return;
    const bool scheduled = !recordsToFree.isEmpty();
    recordsToFree += records;
    if (!scheduled)
        QMetaObject::invokeMethod(this, &MngrSessions::freePending, Qt::QueuedConnection);
}

void MngrSessions::freePending()
{
    const QList<SessionData*> records = recordsToFree;
    recordsToFree.clear();
    qDeleteAll(records);
}
