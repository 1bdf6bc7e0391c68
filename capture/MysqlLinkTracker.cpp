#include "MysqlLinkTracker.h"

#include "MysqlProtocol.h"

#include <cstring>

using namespace mysql;

template <typename Start, typename End>
bool MysqlLinkTracker::walk(Walk& w, const uchar* p, qsizetype n, Start started, End ended)
{
    while (n > 0 && m_phase != Phase::Tls) {
        if (!w.inPacket) {
            const int take = int(qMin<qsizetype>(m_headerSize - w.have, n));
            memcpy(w.header + w.have, p, size_t(take));
            w.have += take;
            p += take;
            n -= take;
            if (w.have < m_headerSize)
                return false;
            w.have = 0;
            w.inPacket = true;
            w.length = w.remain = le24(w.header);
            w.headHave = 0;
            started(w.header[3]);
        }
        const qsizetype take = qMin<qsizetype>(w.remain, n);
        if (w.headHave < 4) {
            const int h = int(qMin<qsizetype>(4 - w.headHave, take));
            memcpy(w.head + w.headHave, p, size_t(h));
            w.headHave += h;
        }
        w.remain -= quint32(take);
        p += take;
        n -= take;
        if (w.remain == 0) {
            w.inPacket = false;
            ended(w);
        }
    }
    return !w.inPacket && w.have == 0;
}

bool MysqlLinkTracker::scanClient(const char* data, qsizetype size, bool* commandStarted)
{
    if (commandStarted)
        *commandStarted = false;
    if (m_phase == Phase::Tls)
        return true;
    return walk(
        m_client, reinterpret_cast<const uchar*>(data), size,
        [&](quint8 seq) {
            if (seq == 0 && m_phase == Phase::Ready && commandStarted)
                *commandStarted = true;
        },
        [&](Walk& w) {
            if (m_phase != Phase::Greeting && m_phase != Phase::Response)
                return;
            // The handshake response (or SSL request): capability flags.
            const quint32 caps = w.headHave >= 4 ? le32(w.head) : (w.headHave >= 2 ? le16(w.head) : 0);
            const bool p41 = w.headHave >= 4 && (caps & CLIENT_PROTOCOL_41);
            if (p41 && (caps & CLIENT_SSL) && w.length == 32) {
                m_phase = Phase::Tls;
                return;
            }
            m_compress = caps & (CLIENT_COMPRESS | CLIENT_ZSTD_COMPRESSION_ALGORITHM);
            m_phase = Phase::Login;
        });
}

bool MysqlLinkTracker::scanServer(const char* data, qsizetype size)
{
    if (m_phase == Phase::Tls)
        return true;
    const auto* p = reinterpret_cast<const uchar*>(data);
    qsizetype n = size;
    bool boundary = true;
    while (n > 0) {
        // Walk packet by packet during the login so that the switch to
        // compressed frames happens exactly after the final OK.
        bool switched = false;
        qsizetype consumed = 0;
        if (m_phase == Phase::Ready) {
            boundary = walk(m_server, p, n, [](quint8) {}, [](Walk&) {});
            break;
        }
        // Feed byte ranges up to the end of the current packet only.
        Walk& w = m_server;
        qsizetype limit = n;
        if (w.inPacket)
            limit = qMin<qsizetype>(n, w.remain);
        else if (w.have + n >= m_headerSize) {
            const int need = m_headerSize - w.have;
            uchar hdr[7];
            memcpy(hdr, w.header, size_t(w.have));
            memcpy(hdr + w.have, p, size_t(need));
            limit = qMin<qsizetype>(n, need + qsizetype(le24(hdr)));
        }
        boundary = walk(w, p, limit, [](quint8) {}, [&](Walk& pw) {
            if (m_phase == Phase::Greeting)
                return;   // the greeting: the client answers next
            if (m_phase != Phase::Login || (pw.headHave < 1 && pw.length > 0))
                return;
            const uchar b0 = pw.length ? pw.head[0] : 0;
            if (b0 == 0x00) {
                m_phase = Phase::Ready;
                switched = m_compress;
            }
        });
        consumed = limit;
        p += consumed;
        n -= consumed;
        if (switched)
            m_headerSize = 7;
    }
    return boundary;
}
