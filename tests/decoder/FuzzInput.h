#pragma once
// The input format of the decoder's fuzz target: both directions of one
// connection in one byte string, as chunks in stream order. A chunk is a
// control byte (bit 0: server to client; bits 1-7: the relay's time in ms),
// a 2-byte little-endian length and that many bytes (fewer at the end).

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace fuzzinput {

/// Appends one chunk per 65535 bytes of `bytes`.
inline void append(QByteArray* out, bool server, const QByteArray& bytes, double ms)
{
    const int msBits = std::clamp(int(ms), 0, 127) << 1;
    for (int off = 0; off < bytes.size(); off += 0xFFFF) {
        const int n = std::min(bytes.size() - off, 0xFFFF);
        out->append(char(msBits | (server ? 1 : 0)));
        out->append(char(n & 0xFF));
        out->append(char(n >> 8));
        out->append(bytes.constData() + off, n);
    }
}

/// Calls `feed(server, data, size, ms)` for every chunk of `data`.
template <typename Feed>
void forEachChunk(const uint8_t* data, size_t size, Feed feed)
{
    size_t off = 0;
    while (off < size) {
        const uint8_t control = data[off++];
        size_t n = 0;
        for (int i = 0; i < 2 && off < size; ++i)
            n |= size_t(data[off++]) << (8 * i);
        n = std::min(n, size - off);
        feed((control & 1) != 0, reinterpret_cast<const char*>(data + off), qsizetype(n), double(control >> 1));
        off += n;
    }
}

} // namespace fuzzinput
