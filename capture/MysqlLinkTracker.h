#pragma once

#include <QtGlobal>

/// Follows the framing of one relayed connection at header level, as the
/// relay needs it: where the packets of each direction end, when a client
/// command begins (a packet or compressed frame with sequence number 0 after
/// the login), when the login's final OK switches both directions to
/// compressed frames, and when an SSL request turns the rest into TLS.
/// Never copies payload. Plain object: use from one thread at a time.
class MysqlLinkTracker
{
public:
    /// Walks client bytes; returns true when they end at a packet boundary.
    /// `commandStarted` is set when a command packet began in them.
    bool scanClient(const char* data, qsizetype size, bool* commandStarted = nullptr);
    /// Walks server bytes; returns true when they end at a packet boundary.
    bool scanServer(const char* data, qsizetype size);

    bool encrypted() const { return m_phase == Phase::Tls; }
    bool loggedIn() const { return m_phase == Phase::Ready; }
    /// 4, or 7 once compressed frames are in force.
    int headerSize() const { return m_headerSize; }

private:
    enum class Phase { Greeting, Response, Login, Ready, Tls };

    struct Walk
    {
        uchar header[7];
        int have = 0;
        bool inPacket = false;
        quint32 remain = 0;
        quint32 length = 0;
        uchar head[4];       ///< first payload bytes of the current packet
        int headHave = 0;
    };

    /// Returns true at a packet boundary; calls back at each packet end.
    template <typename Start, typename End>
    bool walk(Walk& w, const uchar* p, qsizetype n, Start started, End ended);

    Phase m_phase = Phase::Greeting;
    int m_headerSize = 4;
    bool m_compress = false;
    Walk m_client;
    Walk m_server;
};
