#pragma once

#include <QByteArray>
#include <QtGlobal>

/// Constants and byte-level helpers of the MySQL client/server protocol.
/// Pure functions without state: [thread-safe].
namespace mysql {

// Capability flags (handshake greeting and response).
enum : quint32 {
    CLIENT_LONG_PASSWORD = 0x00000001,   ///< clear in a MariaDB greeting: extended capabilities follow
    CLIENT_CONNECT_WITH_DB = 0x00000008,
    CLIENT_COMPRESS = 0x00000020,
    CLIENT_PROTOCOL_41 = 0x00000200,
    CLIENT_SSL = 0x00000800,
    CLIENT_SECURE_CONNECTION = 0x00008000,
    CLIENT_PLUGIN_AUTH = 0x00080000,
    CLIENT_PLUGIN_AUTH_LENENC_CLIENT_DATA = 0x00200000,
    CLIENT_DEPRECATE_EOF = 0x01000000,
    CLIENT_OPTIONAL_RESULTSET_METADATA = 0x02000000,
    CLIENT_ZSTD_COMPRESSION_ALGORITHM = 0x04000000,
    CLIENT_QUERY_ATTRIBUTES = 0x08000000,
};

/// MariaDB's extended capabilities (the upper 32 bits).
enum : quint32 {
    MARIADB_CLIENT_PROGRESS = 0x00000001,
    MARIADB_CLIENT_CACHE_METADATA = 0x00000010,
};

// Server status flags (OK and EOF packets).
enum : quint16 {
    SERVER_MORE_RESULTS_EXISTS = 0x0008,
    SERVER_STATUS_CURSOR_EXISTS = 0x0040,
};

// Command bytes.
enum : quint8 {
    COM_QUIT = 0x01,
    COM_INIT_DB = 0x02,
    COM_QUERY = 0x03,
    COM_FIELD_LIST = 0x04,
    COM_STATISTICS = 0x09,
    COM_PROCESS_INFO = 0x0A,
    COM_PING = 0x0E,
    COM_CHANGE_USER = 0x11,
    COM_BINLOG_DUMP = 0x12,
    COM_STMT_PREPARE = 0x16,
    COM_STMT_EXECUTE = 0x17,
    COM_STMT_SEND_LONG_DATA = 0x18,
    COM_STMT_CLOSE = 0x19,
    COM_STMT_FETCH = 0x1C,
    COM_BINLOG_DUMP_GTID = 0x1E,
    COM_RESET_CONNECTION = 0x1F,
    COM_STMT_BULK_EXECUTE = 0xFA,
};

/// Payload length of a packet whose physical length field holds this value
/// continues in the next packet.
constexpr quint32 MaxPacketPayload = 0xFFFFFF;

/// The unsigned little-endian integer in the first three bytes; bytes that
/// are missing count as 0.
quint32 decodedLength(const char* data, qsizetype size);
inline quint32 decodedLength(const QByteArray& data) { return decodedLength(data.constData(), data.size()); }

inline quint16 le16(const uchar* p) { return quint16(p[0] | (p[1] << 8)); }
inline quint32 le24(const uchar* p) { return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16); }
inline quint32 le32(const uchar* p) { return le24(p) | (quint32(p[3]) << 24); }

/// Reads a length-encoded integer at p (n bytes available). Returns the number
/// of bytes it occupies, or 0 when it is incomplete or not an integer (0xFB, 0xFF).
int readLenenc(const uchar* p, qsizetype n, quint64* value);

/// Inflates one compressed frame's payload (zlib or zstd, told apart by the
/// stream's magic) into `out`, which must come out `expectedSize` bytes long.
/// Returns false on a damaged frame.
bool inflateFrame(const char* payload, qsizetype size, quint32 expectedSize, QByteArray* out);

/// Replaces a sequence of compressed frames (7-byte headers) by their
/// content, a sequence of ordinary packets. Frames whose uncompressed length
/// is 0 carry their payload as it is. A frame cut short is taken as far as it
/// goes when uncompressed; returns false when a frame could not be inflated
/// (the data are then left unchanged).
bool uncompressFrames(QByteArray* data);

} // namespace mysql
