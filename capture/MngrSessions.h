#pragma once

#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QSet>
#include <QString>

#include <functional>

#include "PatternStats.h"
#include "SessionData.h"
#include "TopListModel.h"

class QStandardItemModel;
class QTcpServer;
class Session;
class Settings;

/// The registry of everything captured since start: creates a Session per
/// accepted connection, numbers the sessions, keeps the recorded sessions
/// and the active ones, fills the top lists and counts statements by kind,
/// and republishes the sessions' events under list positions.
/// GUI thread only.
class MngrSessions : public QObject
{
    Q_OBJECT
public:
    MngrSessions(Settings* settings, QObject* parent = nullptr);
    ~MngrSessions() override;

    /// Recorded sessions, oldest first; a record's position here is the
    /// "index" of the signals. Owned by the manager.
    QList<SessionData*> sessions;
    /// Sessions whose connection is open (until their close arrives).
    QList<Session*> activeSessions;
    /// Last session number given out; set to the archive's newest number
    /// so that new sessions continue that numbering.
    unsigned int lastId = 0;
    Settings* settings = nullptr;
    /// Most records kept; the oldest is dropped beyond it.
    int maxSessions = 10000;
    /// Bytes the recorded sessions' statement logs may hold; 0 for no limit.
    /// Beyond it the oldest statements are released: those of ended
    /// sessions first, then those of running ones, each oldest session
    /// first. Totals, counters and top lists are kept as they were counted.
    qint64 memoryBudget = 0;
    /// Bytes the recorded sessions' statement logs hold now.
    qint64 statementBytes() const { return ledger->bytes; }
    /// Releases statements until the logs hold at most 9/10 of the budget
    /// (nothing while within it). Runs after every batch.
    void keepWithinBudget();
    /// Table names after FROM, JOIN, DESCRIBE, DESC, UPDATE, INTO or DELETE (first capture).
    QRegularExpression tableRegExp;

    /// Live top lists: statements (6 columns: rank, user, statement shown,
    /// database, count, raw statement), tables and databases (3 columns:
    /// rank, name, count).
    TopListModel* modelTopQueries = nullptr;
    TopListModel* modelTopTables = nullptr;
    TopListModel* modelTopDb = nullptr;
    /// The server's top lists, filled from its process list and open tables.
    TopListModel* modelTopQueriesDb = nullptr;
    TopListModel* modelTopTablesDb = nullptr;
    TopListModel* modelTopDbDb = nullptr;
    /// The server's process list (7 columns) and command table (5 columns).
    QStandardItemModel* modelProcesses = nullptr;
    QStandardItemModel* modelStatus = nullptr;

    /// Statements counted into modelTopQueries; database selections counted
    /// into modelTopDb; the live top tables' counter; the server lists' counters.
    int countTopQueries = 0;
    /// False in a program that never shows modelTopQueries: its rows, one
    /// per distinct statement text, are then not kept (countTopQueries still
    /// counts). Distinct texts are unbounded over a long capture.
    bool listTopQueries = true;
    int countTopDb = 0;
    int countTopTables = 0;
    int countTopQueriesDb = 0;
    int countTopTablesDb = 0;
    int countTopDbDb = 0;

    /// Every captured statement counted by its pattern and by the tables it
    /// names, as the batches arrive (the live top tables count those names too).
    StatementPatterns statementPatterns;

    /// Statements by kind since last collected: all, SELECT, UPDATE, INSERT, DELETE, other.
    QList<int> groupCounters;

    /// Turns a statement into the form the top-query lists show; the
    /// default escapes it as HTML. The main window installs its highlighter.
    std::function<QString(const QString&)> highlighter;

    /// Creates the Session of an accepted connection (parent: `server`).
    void pendingSession(int socketDescriptor, QTcpServer* server);
    /// Adopts a session created elsewhere (a replay) as if it were accepted.
    void adoptSession(Session* session);

    /// Position of the record numbered `id`, or -1.
    int getSessionIndex(ulong id) const;
    /// The record at `index`, or nullptr when out of range.
    SessionData* getSessionData(uint index) const;
    /// True when an active session's record carries number `id`.
    bool checkActiveSession(ulong id) const;
    /// Asks every active session to close its client connection.
    void stopActiveSessions();
    /// The 6 statement-kind counters, reset to 0 by the call.
    QList<int> countQueriesGroup();

    /// Counts `name` once more in a 3-column top list (rank, name, count).
    void addTop(QString name, QStandardItemModel* model);
    /// Counts a statement in the live top-query list and its counter.
    void addTopQuery(QString text, QString db, QString user);
    /// Counts a statement in the server's top-query list and its counter.
    void addTopQueryDb(QString text, QString db, QString user);

    /// The kind of a statement as counted in groupCounters: 1 SELECT,
    /// 2 UPDATE, 3 INSERT, 4 DELETE, 5 other.
    static int queryGroup(const QString& text);

public slots:
    void slotAdd(SessionData* data);
    void slotClose(ulong id);
    void slotQueries(ulong id, uint indexQuery, uint count);
    /// A session selected `selectedDb`; `dbName` is its record's database.
    void slotDbName(ulong id, QString dbName, QString selectedDb = QString());
    /// Drops every record (those of open connections are freed when they close).
    void clearAllSessions();
    /// Forgets the sending Session.
    void deactiveSession();

signals:
    void addSession(uint index);
    void closeSession(uint index);
    void newQueriesSession(uint index, uint indexQuery, uint count);
    void removeSession(ulong id);
    void setDbName(ulong id, QString name);
    /// The first `released` statements of session `id` were let go to stay
    /// within the memory budget.
    void statementsReleased(ulong id, int released);

private:
    void countPattern(const Query& q, const SessionData& session);
    void addTopQueryTo(TopListModel* model, const QString& text, const QString& db, const QString& user);
    void connectSession(Session* session);
    void retireSession(Session* session);
    void onRetiredClose();
    void onSessionDestroyed(QObject* session);
    bool recordInUse(const SessionData* data) const;
    /// Frees records after the events already queued (views may still be
    /// told about them) have been delivered.
    void freeLater(const QList<SessionData*>& records);
    void freePending();

    /// Sessions dropped from activeSessions by a stop or clear, deleted when
    /// their connection ends.
    QList<Session*> retiredSessions;
    /// Records no longer listed whose Session still writes to them; freed
    /// when that Session ends.
    QSet<SessionData*> orphanRecords;
    QList<SessionData*> recordsToFree;
    std::shared_ptr<MemoryLedger> ledger = std::make_shared<MemoryLedger>();
};
