#pragma once
// Builders of MySQL client/server traffic for the decoder and relay tests.

#include "MysqlProtocol.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>

#include <zlib.h>
#include <zstd.h>

namespace wire {

inline QByteArray le(quint64 v, int n)
{
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
    return b;
}
inline QByteArray lenenc(quint64 v)
{
    return v < 0xFB ? le(v, 1) : v < 0x10000 ? char(0xFC) + le(v, 2) : v < 0x1000000 ? char(0xFD) + le(v, 3) : char(0xFE) + le(v, 8);
}
inline QByteArray lenencStr(const QByteArray& s) { return lenenc(quint64(s.size())) + s; }

/// One logical packet; payloads of 16 MiB and more are split into
/// 0xFFFFFF-long packets and a final shorter one.
inline QByteArray packet(const QByteArray& payload, quint8 seq)
{
    QByteArray out;
    for (int off = 0, n = int(mysql::MaxPacketPayload); n == int(mysql::MaxPacketPayload); off += n) {
        n = qMin(payload.size() - off, int(mysql::MaxPacketPayload));
        out += le(quint64(n), 3) + char(seq++) + payload.mid(off, n);
    }
    return out;
}

inline QByteArray okPayload(quint16 status = 0x0002, quint64 affected = 0, char header = 0x00)
{
    return header + lenenc(affected) + lenenc(0) + le(status, 2) + le(0, 2);
}
inline QByteArray eofPayload(quint16 status = 0x0002) { return char(0xFE) + le(0, 2) + le(status, 2); }
inline QByteArray errPayload(quint16 code, const QByteArray& msg) { return char(0xFF) + le(code, 2) + "#HY000" + msg; }
inline QByteArray authSwitch(const QByteArray& plugin, const QByteArray& data = {}, quint8 seq = 2)
{
    return packet(char(0xFE) + plugin + '\0' + data, seq);
}
inline QByteArray columnDef(const QByteArray& name)
{
    return lenencStr("def") + lenencStr("shop") + lenencStr("t") + lenencStr("t") + lenencStr(name) + lenencStr(name)
        + lenenc(0x0C) + le(33, 2) + le(255, 4) + char(0xFD) + le(0, 2) + char(0) + le(0, 2);
}
inline QByteArray row(const QList<QByteArray>& values)
{
    QByteArray r;
    for (const QByteArray& v : values)
        r += lenencStr(v);
    return r;
}
/// COM_STMT_PREPARE's OK.
inline QByteArray prepareOk(quint32 id, quint16 columns, quint16 params)
{
    return char(0) + le(id, 4) + le(columns, 2) + le(params, 2) + char(0) + le(0, 2);
}

/// A text result set (packets from `seq` on) and the sum of its row payload lengths.
struct ResultSet
{
    QByteArray bytes;
    quint64 rowBytes = 0;
    quint8 nextSeq = 0;
};
inline ResultSet resultSet(int columns, const QList<QList<QByteArray>>& rows, bool deprecateEof,
                           quint16 endStatus = 0x0002, quint8 seq = 1)
{
    ResultSet rs;
    rs.bytes += packet(lenenc(quint64(columns)), seq++);
    for (int c = 0; c < columns; ++c)
        rs.bytes += packet(columnDef("c" + QByteArray::number(c)), seq++);
    if (!deprecateEof)
        rs.bytes += packet(eofPayload(), seq++);
    for (const auto& r : rows) {
        rs.bytes += packet(row(r), seq++);
        rs.rowBytes += quint64(row(r).size());
    }
    rs.bytes += packet(deprecateEof ? okPayload(endStatus, 0, char(0xFE)) : eofPayload(endStatus), seq++);
    rs.nextSeq = seq;
    return rs;
}

inline QByteArray greeting(quint32 caps, const QByteArray& version = "10.6.12-MariaDB", quint32 extCaps = 0)
{
    QByteArray p = char(0x0A) + version + '\0' + le(42, 4) + QByteArray(8, 'a') + '\0';
    p += le(caps & 0xFFFF, 2) + char(33) + le(0x0002, 2) + le(caps >> 16, 2) + char(21);
    return packet(p + QByteArray(6, '\0') + le(extCaps, 4) + QByteArray(12, 'b') + '\0' + "mysql_native_password" + '\0', 0);
}

constexpr quint32 BaseCaps = mysql::CLIENT_PROTOCOL_41 | mysql::CLIENT_SECURE_CONNECTION | mysql::CLIENT_PLUGIN_AUTH
    | mysql::CLIENT_PLUGIN_AUTH_LENENC_CLIENT_DATA | mysql::CLIENT_LONG_PASSWORD;

/// Handshake response (seq 1).
inline QByteArray handshake(quint32 caps, const QByteArray& user, const QByteArray& auth, const QByteArray& db = {})
{
    if (!db.isEmpty())
        caps |= mysql::CLIENT_CONNECT_WITH_DB;
    QByteArray p = le(caps, 4) + le(16 << 20, 4) + char(33) + QByteArray(23, '\0') + user + '\0';
    p += caps & mysql::CLIENT_PLUGIN_AUTH_LENENC_CLIENT_DATA ? lenencStr(auth) : char(auth.size()) + auth;
    if (!db.isEmpty())
        p += db + '\0';
    if (caps & mysql::CLIENT_PLUGIN_AUTH)
        p += QByteArray("mysql_native_password") + '\0';
    return packet(p, 1);
}
/// What a client needs from a server's greeting (the packet with its header):
/// the connection id and the 20 bytes the password is hashed with.
struct ServerHello
{
    quint32 connectionId = 0;
    QByteArray scramble;
};
inline ServerHello parseGreeting(const QByteArray& greetingPacket)
{
    ServerHello h;
    const int end = greetingPacket.indexOf('\0', 5);   // the version text ends
    if (end < 0 || greetingPacket.size() < end + 45)
        return h;
    for (int i = 3; i >= 0; --i)
        h.connectionId = h.connectionId << 8 | quint8(greetingPacket[end + 1 + i]);
    // 8 bytes of scramble, 19 of flags and lengths, the other 12 bytes
    h.scramble = greetingPacket.mid(end + 5, 8) + greetingPacket.mid(end + 32, 12);
    return h;
}
/// mysql_native_password's answer to `scramble`: SHA1(pw) XOR SHA1(scramble + SHA1(SHA1(pw))).
inline QByteArray nativePassword(const QByteArray& password, const QByteArray& scramble)
{
    const auto sha1 = [](const QByteArray& b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha1); };
    const QByteArray h1 = sha1(password);
    QByteArray x = sha1(scramble + sha1(h1));
    for (int i = 0; i < x.size(); ++i)
        x[i] = char(x[i] ^ h1[i]);
    return x;
}

/// The short handshake response asking for TLS.
inline QByteArray sslRequest()
{
    return packet(le(BaseCaps | mysql::CLIENT_SSL, 4) + le(16 << 20, 4) + char(33) + QByteArray(23, '\0'), 1);
}

inline QByteArray command(quint8 cmd, const QByteArray& arg, quint8 seq = 0) { return packet(char(cmd) + arg, seq); }
inline QByteArray query(const QByteArray& text) { return command(mysql::COM_QUERY, text); }

enum class Algo { Zlib, Zstd, Raw };

/// Wraps packets into compressed frames of at most `frameSize` uncompressed bytes each.
inline QByteArray compress(const QByteArray& packets, Algo algo, quint8 seq = 0, int frameSize = 1 << 20)
{
    QByteArray out;
    for (int off = 0; off < packets.size(); off += frameSize) {
        const QByteArray part = packets.mid(off, frameSize);
        QByteArray payload = part;
        if (algo == Algo::Zlib) {
            uLongf n = compressBound(uLong(part.size()));
            payload.resize(int(n));
            ::compress(reinterpret_cast<Bytef*>(payload.data()), &n, reinterpret_cast<const Bytef*>(part.constData()),
                       uLong(part.size()));
            payload.resize(int(n));
        } else if (algo == Algo::Zstd) {
            payload.resize(int(ZSTD_compressBound(size_t(part.size()))));
            payload.resize(int(ZSTD_compress(payload.data(), size_t(payload.size()), part.constData(), size_t(part.size()), 3)));
        }
        out += le(quint64(payload.size()), 3) + char(seq++) + le(algo == Algo::Raw ? 0 : quint32(part.size()), 3) + payload;
    }
    return out;
}

} // namespace wire
