#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <deque>
#include <string>

/// Decodes one relayed MySQL connection from its two byte streams, fed in
/// pieces of any size: the login (also TLS, compression, auth switches,
/// COM_CHANGE_USER), database changes, and one statement per COM_QUERY,
/// COM_STMT_PREPARE and COM_STMT_EXECUTE with its whole answer (all units,
/// all result sets). Reads packet headers and the first bytes of each server
/// packet only; row data are never copied.
/// Plain object without threads or sockets: use from one thread at a time.
class MysqlDecoder
{
public:
    /// One answered statement.
    struct Statement
    {
        QByteArray text;         ///< as sent; at most MaxText bytes, then "[...]"
        double ms = 0;           ///< relay time of the unit that completed the answer
        float requestKb = 0;     ///< (request payload length - 1) / 1024
        float responseKb = 0;    ///< sum of the row payload lengths / 1024
        quint32 rows = 0;        ///< rows of every result set of the answer
        bool error = false;      ///< the answer was an error packet
    };

    /// Receives what the decoder finds, in stream order.
    class Sink
    {
    public:
        virtual ~Sink() = default;
        /// The server's verdict on a login (also one by COM_CHANGE_USER); a
        /// connection switching to TLS reports the user "unknown", accepted.
        virtual void login(const QString& user, const QString& db, bool accepted) = 0;
        virtual void statement(Statement&& st) = 0;
        /// The server accepted COM_INIT_DB with this schema.
        virtual void databaseChanged(const QString& name) = 0;
    };

    static constexpr int MaxText = 20000;

    explicit MysqlDecoder(Sink* sink);

    /// Client-to-server bytes, in order.
    void feedClient(const char* data, qsizetype size);
    /// Server-to-client bytes, in order; `ms` is the relay's time for them.
    void feedServer(const char* data, qsizetype size, double ms);

    double serverVersion() const { return m_serverVersion; }
    bool authenticated() const { return m_phase == Phase::Ready; }
    bool compressed() const { return m_client.compressed; }
    bool encrypted() const { return m_phase == Phase::Tls; }
    /// Decoding stopped because a stream could not be read any further.
    bool lost() const { return m_phase == Phase::Lost; }
    QString userName() const { return m_user; }
    QString dbName() const { return m_db; }
    int preparedCount() const { return m_prepared.size(); }

private:
    enum class Phase { AwaitGreeting, AwaitHandshake, Login, LoginFailed, Ready, Tls, Lost };

    /// Framing state of one direction: the optional compression layer and
    /// the packet splitter over its output.
    struct Direction
    {
        bool client = false;
        bool compressed = false;
        // compression layer
        uchar frameHeader[7];
        int frameHeaderHave = 0;
        bool inFrame = false;
        bool frameRaw = false;
        quint32 frameRemain = 0;
        quint32 frameUlen = 0;
        QByteArray frameBuf;
        QByteArray inflated;
        // packet layer
        uchar header[4];
        int headerHave = 0;
        bool inPacket = false;
        bool continues = false;      ///< the logical packet goes on in the next physical one
        quint32 remain = 0;
        quint64 logicalLen = 0;
        quint8 seq = 0;
        std::string body;            ///< kept head of the logical packet
        size_t cap = 0;
    };

    enum class Answer { Query, Prepare, Execute, FieldList, Fetch, Single, ChangeUser, Endless };
    enum class Step { Start, Columns, ColumnsEof, Rows, Params, ParamsEof, PrepColumns, PrepColumnsEof };

    /// A command awaiting its answer.
    struct Pending
    {
        Answer kind = Answer::Single;
        Step step = Step::Start;
        bool record = false;
        bool initDb = false;
        quint8 command = 0;
        quint32 stmtId = 0;
        quint64 left = 0;            ///< definitions still to come
        quint16 prepColumns = 0;
        quint64 rows = 0;
        quint64 rowBytes = 0;
        bool error = false;
        float requestKb = 0;
        QByteArray text;
        QString user, db;            ///< COM_CHANGE_USER, COM_INIT_DB
    };

    void feed(Direction& d, const uchar* p, qsizetype n);
    qsizetype feedPackets(Direction& d, const uchar* p, qsizetype n);
    void packetStarted(Direction& d);
    void packetDone(Direction& d);

    void clientPacket(const uchar* p, size_t kept, quint64 len, quint8 seq);
    void serverPacket(const uchar* p, size_t kept, quint64 len);
    void greeting(const uchar* p, size_t kept);
    void handshakeResponse(const uchar* p, size_t kept, quint64 len);
    void command(const uchar* p, size_t kept, quint64 len);
    void answer(Pending& a, const uchar* p, size_t kept, quint64 len);
    void finish();
    bool endOfRows(const uchar* p, size_t kept, quint64 len, quint16* status) const;
    QByteArray statementText(const uchar* p, size_t kept, quint64 len, size_t offset) const;
    size_t queryTextOffset(const uchar* p, size_t kept) const;
    void lose();

    Sink* m_sink;
    Phase m_phase = Phase::AwaitGreeting;
    Direction m_client;
    Direction m_server;
    double m_ms = 0;
    bool m_switchToCompressed = false;   ///< set by the login OK; applied at its packet's end
    bool m_compressRequested = false;
    double m_serverVersion = 0;
    quint32 m_serverCaps = 0;
    quint32 m_serverExtCaps = 0;
    quint32 m_caps = 0;                  ///< negotiated: both sides
    quint32 m_extCaps = 0;
    QString m_user;
    QString m_db;
    std::deque<Pending> m_pending;
    QHash<quint32, QByteArray> m_prepared;
    quint32 m_lastPrepared = 0;
};
