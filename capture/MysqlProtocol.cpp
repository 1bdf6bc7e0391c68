#include "MysqlProtocol.h"

#include <zlib.h>
#include <zstd.h>

namespace mysql {

quint32 decodedLength(const char* data, qsizetype size)
{
    quint32 v = 0;
    for (int i = 0; i < 3 && i < size; ++i)
        v |= quint32(uchar(data[i])) << (8 * i);
    return v;
}

int readLenenc(const uchar* p, qsizetype n, quint64* value)
{
    if (n < 1)
        return 0;
    const uchar b = p[0];
    if (b < 0xFB) {
        *value = b;
        return 1;
    }
    int width = 0;
    if (b == 0xFC)
        width = 2;
    else if (b == 0xFD)
        width = 3;
    else if (b == 0xFE)
        width = 8;
    else
        return 0;
    if (n < 1 + width)
        return 0;
    quint64 v = 0;
    for (int i = 0; i < width; ++i)
        v |= quint64(p[1 + i]) << (8 * i);
    *value = v;
    return 1 + width;
}

bool inflateFrame(const char* payload, qsizetype size, quint32 expectedSize, QByteArray* out)
{
    out->resize(int(expectedSize));
    if (expectedSize == 0)
        return true;
    static const uchar zstdMagic[4] = {0x28, 0xB5, 0x2F, 0xFD};
    if (size >= 4 && memcmp(payload, zstdMagic, 4) == 0) {
        const size_t got = ZSTD_decompress(out->data(), expectedSize, payload, size_t(size));
        return !ZSTD_isError(got) && got == expectedSize;
    }
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return false;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload));
    zs.avail_in = uInt(size);
    zs.next_out = reinterpret_cast<Bytef*>(out->data());
    zs.avail_out = uInt(expectedSize);
    const int rc = inflate(&zs, Z_FINISH);
    const bool ok = rc == Z_STREAM_END && zs.total_out == expectedSize;
    inflateEnd(&zs);
    return ok;
}

bool uncompressFrames(QByteArray* data)
{
    QByteArray result;
    QByteArray frame;
    const char* p = data->constData();
    const qsizetype size = data->size();
    qsizetype off = 0;
    while (off + 7 <= size) {
        const auto* h = reinterpret_cast<const uchar*>(p + off);
        const quint32 clen = le24(h);
        const quint32 ulen = le24(h + 4);
        const qsizetype avail = qMin<qsizetype>(clen, size - off - 7);
        if (ulen == 0) {
            result.append(p + off + 7, int(avail));
        } else {
            if (!inflateFrame(p + off + 7, avail, ulen, &frame))
                return false;
            result.append(frame);
        }
        off += 7 + avail;
    }
    *data = result;
    return true;
}

} // namespace mysql
