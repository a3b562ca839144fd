#pragma once
// A bounds-checked little-endian cursor. A read past the end makes the reader fail and
// stay failed, returning zeros, so a parser reads a whole structure and checks ok() once.

#include <QByteArray>
#include <QByteArrayView>
#include <cstring>
#include <bit>
#include <cstdint>

namespace orbelant {

class ByteReader {
public:
    explicit ByteReader(QByteArrayView bytes) : m_bytes(bytes) {}

    bool ok() const { return m_ok; }
    qsizetype position() const { return m_pos; }
    qsizetype remaining() const { return m_ok ? m_bytes.size() - m_pos : 0; }
    bool atEnd() const { return remaining() == 0; }

    quint8 u8() { return static_cast<quint8>(little(1)); }
    quint16 u16() { return static_cast<quint16>(little(2)); }
    quint32 u32() { return static_cast<quint32>(little(4)); }
    qint32 i32() { return static_cast<qint32>(u32()); }
    double f64()
    {
        const quint64 raw = little(8);
        return std::bit_cast<double>(raw);
    }
    // The next n bytes; an empty view (and a failed reader) when fewer remain.
    QByteArrayView bytes(qsizetype n)
    {
        if (!take(n))
            return {};
        return m_bytes.sliced(m_pos - n, n);
    }
    void skip(qsizetype n) { take(n); }

private:
    bool take(qsizetype n)
    {
        if (!m_ok || n < 0 || n > m_bytes.size() - m_pos) {
            m_ok = false;
            return false;
        }
        m_pos += n;
        return true;
    }
    quint64 little(int n)
    {
        if (!take(n))
            return 0;
        quint64 value = 0;
        for (int i = n - 1; i >= 0; --i)
            value = (value << 8) | static_cast<quint8>(m_bytes[m_pos - n + i]);
        return value;
    }

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

// Little-endian writers for building records.
inline void putU16(QByteArray &out, quint16 v)
{
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>(v >> 8));
}
inline void putU32(QByteArray &out, quint32 v)
{
    putU16(out, static_cast<quint16>(v & 0xFFFF));
    putU16(out, static_cast<quint16>(v >> 16));
}
inline void putF64(QByteArray &out, double d)
{
    const quint64 raw = std::bit_cast<quint64>(d);
    putU32(out, static_cast<quint32>(raw & 0xFFFFFFFFu));
    putU32(out, static_cast<quint32>(raw >> 32));
}
// Overwrites bytes at `at`; the caller guarantees the range exists.
inline void setU16(QByteArray &out, qsizetype at, quint16 v)
{
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>(v >> 8);
}
inline void setU32(QByteArray &out, qsizetype at, quint32 v)
{
    setU16(out, at, static_cast<quint16>(v & 0xFFFF));
    setU16(out, at + 2, static_cast<quint16>(v >> 16));
}

} // namespace orbelant
