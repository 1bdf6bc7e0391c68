#include "MysqlDecoder.h"

#include "MysqlProtocol.h"

#include <cstring>

using namespace mysql;

namespace {

/// The zero-terminated string at `off` (or up to the end); advances `off` past its terminator.
QByteArray cString(const uchar* p, size_t kept, size_t* off)
{
    if (*off >= kept)
        return {};
    const size_t start = *off;
    const void* z = memchr(p + start, 0, kept - start);
    const size_t end = z ? size_t(static_cast<const uchar*>(z) - p) : kept;
    *off = end + 1;
    return QByteArray(reinterpret_cast<const char*>(p + start), int(end - start));
}

/// Status flags of an OK packet (header 0x00 or 0xFE), 0 when it is too short.
quint16 okStatus(const uchar* p, size_t kept)
{
    size_t off = 1;
    quint64 v;
    for (int i = 0; i < 2; ++i) {
        const int used = readLenenc(p + off, qsizetype(kept) - qsizetype(off), &v);
        if (!used)
            return 0;
        off += size_t(used);
    }
    return off + 2 <= kept ? le16(p + off) : 0;
}

} // namespace

MysqlDecoder::MysqlDecoder(Sink* sink) : m_sink(sink)
{
    m_client.client = true;
}

void MysqlDecoder::feedClient(const char* data, qsizetype size)
{
    feed(m_client, reinterpret_cast<const uchar*>(data), size);
}

void MysqlDecoder::feedServer(const char* data, qsizetype size, double ms)
{
    m_ms = ms;
    feed(m_server, reinterpret_cast<const uchar*>(data), size);
}

void MysqlDecoder::lose()
{
    m_phase = Phase::Lost;
    m_pending.clear();
}

void MysqlDecoder::feed(Direction& d, const uchar* p, qsizetype n)
{
    while (n > 0 && m_phase != Phase::Tls && m_phase != Phase::Lost) {
        if (!d.compressed) {
            const qsizetype used = feedPackets(d, p, n);
            p += used;
            n -= used;
            if (m_switchToCompressed) {
                // The login's OK ends the uncompressed part in both directions.
                m_switchToCompressed = false;
                m_client.compressed = m_server.compressed = true;
            }
            continue;
        }
        if (!d.inFrame) {
            const int take = int(qMin<qsizetype>(7 - d.frameHeaderHave, n));
            memcpy(d.frameHeader + d.frameHeaderHave, p, size_t(take));
            d.frameHeaderHave += take;
            p += take;
            n -= take;
            if (d.frameHeaderHave < 7)
                break;
            d.frameHeaderHave = 0;
            d.inFrame = true;
            d.frameRemain = le24(d.frameHeader);
            d.frameUlen = le24(d.frameHeader + 4);
            d.frameRaw = d.frameUlen == 0;
            d.frameBuf.resize(0);
            if (!d.frameRaw)
                d.frameBuf.reserve(int(d.frameRemain));
        }
        const qsizetype take = qMin<qsizetype>(d.frameRemain, n);
        if (d.frameRaw) {
            qsizetype done = 0;
            while (done < take && m_phase != Phase::Lost)
                done += feedPackets(d, p + done, take - done);
        } else {
            d.frameBuf.append(reinterpret_cast<const char*>(p), int(take));
        }
        p += take;
        n -= take;
        d.frameRemain -= quint32(take);
        if (d.frameRemain == 0) {
            d.inFrame = false;
            if (!d.frameRaw) {
                if (!inflateFrame(d.frameBuf.constData(), d.frameBuf.size(), d.frameUlen, &d.inflated)) {
                    lose();
                    return;
                }
                const auto* q = reinterpret_cast<const uchar*>(d.inflated.constData());
                const qsizetype total = d.inflated.size();
                qsizetype done = 0;
                while (done < total && m_phase != Phase::Lost && m_phase != Phase::Tls)
                    done += feedPackets(d, q + done, total - done);
            }
        }
    }
}

qsizetype MysqlDecoder::feedPackets(Direction& d, const uchar* p, qsizetype n)
{
    const uchar* const start = p;
    while (n > 0) {
        if (!d.inPacket) {
            const int take = int(qMin<qsizetype>(4 - d.headerHave, n));
            memcpy(d.header + d.headerHave, p, size_t(take));
            d.headerHave += take;
            p += take;
            n -= take;
            if (d.headerHave < 4)
                break;
            d.headerHave = 0;
            const quint32 len = le24(d.header);
            if (!d.continues) {
                d.logicalLen = 0;
                d.seq = d.header[3];
                d.body.clear();
                packetStarted(d);
            }
            d.logicalLen += len;
            d.remain = len;
            d.inPacket = true;
            d.continues = len == MaxPacketPayload;
        }
        if (d.remain > 0) {
            const qsizetype take = qMin<qsizetype>(d.remain, n);
            if (d.body.size() < d.cap)
                d.body.append(reinterpret_cast<const char*>(p), size_t(qMin<qsizetype>(take, qsizetype(d.cap - d.body.size()))));
            d.remain -= quint32(take);
            p += take;
            n -= take;
        }
        if (d.remain == 0) {
            d.inPacket = false;
            if (!d.continues) {
                packetDone(d);
                if ((m_switchToCompressed && !d.compressed) || m_phase == Phase::Tls || m_phase == Phase::Lost)
                    break;
            }
        }
    }
    return p - start;
}

void MysqlDecoder::packetStarted(Direction& d)
{
    if (!d.client) {
        // Only the head of a server packet is ever read: rows are counted, not kept.
        d.cap = m_phase == Phase::AwaitGreeting ? 512 : 40;
        return;
    }
    if (m_phase != Phase::Ready)
        d.cap = 8192;
    else if (d.seq != 0)
        d.cap = 4;   // file content of LOAD DATA LOCAL, authentication data
    else
        d.cap = MaxText + 1 + ((m_caps & CLIENT_QUERY_ATTRIBUTES) ? 65536 : 0);
}

void MysqlDecoder::packetDone(Direction& d)
{
    const auto* b = reinterpret_cast<const uchar*>(d.body.data());
    if (d.client)
        clientPacket(b, d.body.size(), d.logicalLen, d.seq);
    else
        serverPacket(b, d.body.size(), d.logicalLen);
}

void MysqlDecoder::clientPacket(const uchar* p, size_t kept, quint64 len, quint8 seq)
{
    switch (m_phase) {
    case Phase::AwaitGreeting:
    case Phase::AwaitHandshake:
        handshakeResponse(p, kept, len);
        break;
    case Phase::Ready:
        // Commands start a sequence; anything else continues one (file
        // content, authentication data of COM_CHANGE_USER).
        if (seq == 0)
            command(p, kept, len);
        break;
    default:
        break;
    }
}

void MysqlDecoder::serverPacket(const uchar* p, size_t kept, quint64 len)
{
    switch (m_phase) {
    case Phase::AwaitGreeting:
        greeting(p, kept);
        break;
    case Phase::Login:
        if (kept == 0)
            break;
        if (p[0] == 0x00) {
            m_phase = Phase::Ready;
            if (m_compressRequested)
                m_switchToCompressed = true;
            m_sink->login(m_user, m_db, true);
        } else if (p[0] == 0xFF) {
            m_phase = Phase::LoginFailed;
            m_sink->login(m_user, m_db, false);
        }
        // 0xFE switches the authentication method, 0x01 carries more
        // authentication data: both belong to the login.
        break;
    case Phase::Ready:
        if (!m_pending.empty())
            answer(m_pending.front(), p, kept, len);
        break;
    default:
        break;
    }
}

void MysqlDecoder::greeting(const uchar* p, size_t kept)
{
    m_phase = Phase::AwaitHandshake;
    if (kept < 1 || p[0] != 0x0A)
        return;
    size_t off = 1;
    QByteArray version = cString(p, kept, &off);
    if (version.startsWith("5.5.5-"))
        version = version.mid(6);   // MariaDB's replication-compatible prefix
    const int dot = version.indexOf('.');
    if (dot > 0) {
        int minorEnd = dot + 1;
        while (minorEnd < version.size() && version.at(minorEnd) >= '0' && version.at(minorEnd) <= '9')
            ++minorEnd;
        const double major = version.left(dot).toDouble();
        const QByteArray minor = version.mid(dot + 1, minorEnd - dot - 1);
        m_serverVersion = major + (minor.isEmpty() ? 0.0 : QByteArray("0." + minor).toDouble());
    }
    const size_t pos = off + 4 + 8 + 1;   // thread id, first auth data, filler
    if (pos + 2 <= kept)
        m_serverCaps = le16(p + pos);
    if (pos + 7 <= kept)
        m_serverCaps |= quint32(le16(p + pos + 5)) << 16;
    if (pos + 18 <= kept && !(m_serverCaps & CLIENT_LONG_PASSWORD))
        m_serverExtCaps = le32(p + pos + 14);
}

void MysqlDecoder::handshakeResponse(const uchar* p, size_t kept, quint64 len)
{
    const bool greeted = m_phase == Phase::AwaitHandshake;
    if (kept < 2) {
        m_phase = Phase::Login;
        return;
    }
    const bool p41 = kept >= 4 && (p[1] & (CLIENT_PROTOCOL_41 >> 8));
    const quint32 caps = p41 ? le32(p) : le16(p);
    if ((caps & CLIENT_SSL) && p41 && len == 32) {
        // SSL request: everything after it is encrypted.
        m_phase = Phase::Tls;
        m_user = QStringLiteral("unknown");
        m_db.clear();
        m_sink->login(m_user, m_db, true);
        return;
    }
    m_caps = greeted && m_serverCaps ? (caps & m_serverCaps) : caps;
    if (p41 && kept >= 32 && greeted && !(m_serverCaps & CLIENT_LONG_PASSWORD))
        m_extCaps = le32(p + 28) & m_serverExtCaps;
    m_compressRequested = m_caps & (CLIENT_COMPRESS | CLIENT_ZSTD_COMPRESSION_ALGORITHM);

    size_t off = p41 ? 32 : 5;
    m_user = QString::fromUtf8(cString(p, kept, &off));
    m_db.clear();
    if (caps & CLIENT_CONNECT_WITH_DB) {
        if (caps & CLIENT_PLUGIN_AUTH_LENENC_CLIENT_DATA) {
            quint64 authLen = 0;
            const int used = off < kept ? readLenenc(p + off, qsizetype(kept - off), &authLen) : 0;
            off += size_t(used ? used : 1) + size_t(qMin<quint64>(authLen, kept));
        } else if (caps & CLIENT_SECURE_CONNECTION) {
            off += off < kept ? 1 + p[off] : 1;
        } else {
            cString(p, kept, &off);
        }
        m_db = QString::fromUtf8(cString(p, kept, &off));
    }
    m_phase = Phase::Login;
}

size_t MysqlDecoder::queryTextOffset(const uchar* p, size_t kept) const
{
    if (!(m_caps & CLIENT_QUERY_ATTRIBUTES))
        return 1;
    // Query attributes precede the text: parameter count, parameter set
    // count, then (with parameters) null bitmap, types and names, values.
    const size_t fail = kept + 1;
    size_t off = 1;
    quint64 count = 0, sets = 0;
    int used = readLenenc(p + off, qsizetype(kept) - qsizetype(off), &count);
    if (!used)
        return fail;
    off += size_t(used);
    used = readLenenc(p + off, qsizetype(kept) - qsizetype(off), &sets);
    if (!used)
        return fail;
    off += size_t(used);
    if (count == 0)
        return off;
    if (count > 65535)
        return fail;
    const size_t nulls = off;
    off += size_t((count + 7) / 8);
    if (off + 1 > kept || p[off] != 1)
        return fail;
    ++off;
    std::string types;
    for (quint64 i = 0; i < count; ++i) {
        if (off + 2 > kept)
            return fail;
        types.push_back(char(p[off]));
        off += 2;
        quint64 nameLen = 0;
        used = readLenenc(p + off, qsizetype(kept) - qsizetype(off), &nameLen);
        if (!used || nameLen > kept)
            return fail;
        off += size_t(used) + size_t(nameLen);
    }
    for (quint64 i = 0; i < count; ++i) {
        if (p[nulls + i / 8] & (1u << (i % 8)))
            continue;
        if (off > kept)
            return fail;
        switch (uchar(types[size_t(i)])) {
        case 0x06: break;
        case 0x01: off += 1; break;
        case 0x02: case 0x0D: off += 2; break;
        case 0x03: case 0x04: case 0x09: off += 4; break;
        case 0x05: case 0x08: off += 8; break;
        case 0x07: case 0x0A: case 0x0B: case 0x0C:
            if (off >= kept)
                return fail;
            off += 1 + p[off];
            break;
        default: {
            quint64 vlen = 0;
            used = readLenenc(p + off, qsizetype(kept) - qsizetype(off), &vlen);
            if (!used || vlen > kept)
                return fail;
            off += size_t(used) + size_t(vlen);
        }
        }
    }
    return off;
}

QByteArray MysqlDecoder::statementText(const uchar* p, size_t kept, quint64 len, size_t offset) const
{
    if (offset > kept || offset > len)
        return {};
    const quint64 total = len - offset;
    const size_t avail = kept - offset;
    const auto* s = reinterpret_cast<const char*>(p + offset);
    if (total <= quint64(MaxText))
        return QByteArray(s, int(qMin<quint64>(avail, total)));
    QByteArray t;
    const int n = int(qMin<size_t>(avail, size_t(MaxText)));
    t.reserve(n + 5);
    t.append(s, n);
    t.append("[...]", 5);
    return t;
}

void MysqlDecoder::command(const uchar* p, size_t kept, quint64 len)
{
    if (kept == 0)
        return;
    Pending a;
    a.command = p[0];
    a.requestKb = float(len - 1) / 1024.0f;
    switch (a.command) {
    case COM_QUERY:
        a.kind = Answer::Query;
        a.record = true;
        a.text = statementText(p, kept, len, queryTextOffset(p, kept));
        break;
    case COM_STMT_PREPARE:
        a.kind = Answer::Prepare;
        a.record = true;
        a.text = statementText(p, kept, len, 1);
        break;
    case COM_STMT_EXECUTE:
    case COM_STMT_BULK_EXECUTE:
        a.kind = Answer::Execute;
        a.record = true;
        a.stmtId = kept >= 5 ? le32(p + 1) : 0;
        // -1 names the statement prepared last, possibly in the same unit:
        // it is looked up when the answer is complete.
        if (a.stmtId != 0xFFFFFFFFu)
            a.text = m_prepared.value(a.stmtId);
        break;
    case COM_PROCESS_INFO:
        a.kind = Answer::Query;
        break;
    case COM_INIT_DB: {
        size_t off = 1;
        a.initDb = true;
        a.db = QString::fromUtf8(cString(p, kept, &off));
        break;
    }
    case COM_FIELD_LIST:
        a.kind = Answer::FieldList;
        break;
    case COM_STMT_FETCH:
        a.kind = Answer::Fetch;
        break;
    case COM_CHANGE_USER: {
        a.kind = Answer::ChangeUser;
        size_t off = 1;
        a.user = QString::fromUtf8(cString(p, kept, &off));
        if (m_caps & CLIENT_SECURE_CONNECTION)
            off += off < kept ? 1 + p[off] : 1;
        else
            cString(p, kept, &off);
        a.db = QString::fromUtf8(cString(p, kept, &off));
        break;
    }
    case COM_BINLOG_DUMP:
    case COM_BINLOG_DUMP_GTID:
        a.kind = Answer::Endless;
        break;
    case COM_QUIT:
    case COM_STMT_SEND_LONG_DATA:
        return;   // no answer
    case COM_STMT_CLOSE:
        if (kept >= 5)
            m_prepared.remove(le32(p + 1));
        return;   // no answer
    case COM_RESET_CONNECTION:
        m_prepared.clear();
        break;
    default:
        break;
    }
    m_pending.push_back(std::move(a));
}

bool MysqlDecoder::endOfRows(const uchar* p, size_t kept, quint64 len, quint16* status) const
{
    if (kept == 0 || p[0] != 0xFE)
        return false;
    // A row may start with 0xFE only when it is 16 MiB or longer.
    if (m_caps & CLIENT_DEPRECATE_EOF) {
        if (len >= MaxPacketPayload)
            return false;
        *status = okStatus(p, kept);
        return true;
    }
    if (len >= 9)
        return false;
    *status = kept >= 5 ? le16(p + 3) : 0;
    return true;
}

void MysqlDecoder::answer(Pending& a, const uchar* p, size_t kept, quint64 len)
{
    const uchar b0 = kept ? p[0] : 0;
    // A progress report (error code 0xFFFF) is no verdict.
    if (b0 == 0xFF && kept >= 3 && le16(p + 1) == 0xFFFF)
        return;
    const bool deprecateEof = m_caps & CLIENT_DEPRECATE_EOF;
    quint16 status = 0;
    switch (a.kind) {
    case Answer::Single:
        if (a.initDb && b0 == 0x00)
            m_sink->databaseChanged(a.db);
        finish();
        return;
    case Answer::Endless:
        return;
    case Answer::ChangeUser:
        if (b0 == 0x00 || b0 == 0xFF) {
            const bool ok = b0 == 0x00;
            m_user = a.user;
            m_db = a.db;
            m_prepared.clear();
            m_sink->login(m_user, m_db, ok);
            finish();
        }
        return;
    case Answer::FieldList:
    case Answer::Fetch:
        if (b0 == 0xFF || endOfRows(p, kept, len, &status))
            finish();
        return;
    case Answer::Prepare: {
        // After the parameter definitions: the column definitions, if any.
        const auto columnsOrFinish = [&] {
            if (a.prepColumns) {
                a.left = a.prepColumns;
                a.step = Step::PrepColumns;
            } else {
                finish();
            }
        };
        switch (a.step) {
        case Step::Start:
            if (b0 == 0xFF)
                a.error = true;
            if (b0 != 0x00 || kept < 9) {
                finish();
                return;
            }
            a.stmtId = le32(p + 1);
            a.prepColumns = le16(p + 5);
            a.left = le16(p + 7);
            m_prepared.insert(a.stmtId, a.text);
            m_lastPrepared = a.stmtId;
            if (a.left)
                a.step = Step::Params;
            else
                columnsOrFinish();
            return;
        case Step::Params:
            if (--a.left > 0)
                return;
            if (!deprecateEof) {
                a.step = Step::ParamsEof;
                return;
            }
            Q_FALLTHROUGH();
        case Step::ParamsEof:
            columnsOrFinish();
            return;
        case Step::PrepColumns:
            if (--a.left > 0)
                return;
            if (!deprecateEof) {
                a.step = Step::PrepColumnsEof;
                return;
            }
            finish();
            return;
        default:
            finish();
            return;
        }
    }
    case Answer::Query:
    case Answer::Execute:
        switch (a.step) {
        case Step::Start: {
            if (b0 == 0x00) {
                if (!(okStatus(p, kept) & SERVER_MORE_RESULTS_EXISTS))
                    finish();
                return;
            }
            if (b0 == 0xFF) {
                a.error = true;
                finish();
                return;
            }
            if (b0 == 0xFB)
                return;   // LOAD DATA LOCAL: the verdict follows the file
            quint64 columns = 0;
            const int used = readLenenc(p, qsizetype(kept), &columns);
            if (!used) {
                finish();
                return;
            }
            bool metadata = true;
            if ((m_extCaps & MARIADB_CLIENT_CACHE_METADATA) || (m_caps & CLIENT_OPTIONAL_RESULTSET_METADATA))
                metadata = size_t(used) >= kept || p[used] != 0;
            a.left = metadata ? columns : 0;
            a.step = a.left ? Step::Columns : (deprecateEof ? Step::Rows : Step::ColumnsEof);
            return;
        }
        case Step::Columns:
            if (b0 == 0xFF) {
                a.error = true;
                finish();
                return;
            }
            if (--a.left == 0)
                a.step = deprecateEof ? Step::Rows : Step::ColumnsEof;
            return;
        case Step::ColumnsEof:
            if (b0 == 0xFE && len < 9) {
                status = kept >= 5 ? le16(p + 3) : 0;
                a.step = Step::Rows;
                // A cursor: the rows come later, with COM_STMT_FETCH.
                if (a.kind == Answer::Execute && (status & SERVER_STATUS_CURSOR_EXISTS))
                    finish();
                return;
            }
            if (b0 == 0xFF) {
                a.error = true;
                finish();
                return;
            }
            a.step = Step::Rows;
            break;   // not an EOF: take it as the first row
        default:
            break;
        }
        if (b0 == 0xFF) {
            a.error = true;
            finish();
            return;
        }
        if (endOfRows(p, kept, len, &status)) {
            if (status & SERVER_MORE_RESULTS_EXISTS)
                a.step = Step::Start;
            else
                finish();
            return;
        }
        ++a.rows;
        a.rowBytes += len;
        return;
    }
}

void MysqlDecoder::finish()
{
    Pending a = std::move(m_pending.front());
    m_pending.pop_front();
    if (!a.record)
        return;
    Statement st;
    if (a.kind == Answer::Execute && a.stmtId == 0xFFFFFFFFu)
        st.text = m_prepared.value(m_lastPrepared);
    else
        st.text = std::move(a.text);
    st.ms = m_ms;
    st.requestKb = a.requestKb;
    st.responseKb = float(double(a.rowBytes) / 1024.0);
    st.rows = quint32(a.rows);
    st.error = a.error;
    m_sink->statement(std::move(st));
}
