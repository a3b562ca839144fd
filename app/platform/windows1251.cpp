#include "windows1251.h"

#include <array>

namespace orbelant {

namespace {

// Bytes 0x80–0xBF. 0x98 has no character in Windows-1251; Windows maps it to U+0098.
constexpr std::array<char16_t, 64> upperHalfStart = {
    u'\u0402', u'\u0403', u'\u201A', u'\u0453', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u20AC', u'\u2030', u'\u0409', u'\u2039', u'\u040A', u'\u040C', u'\u040B', u'\u040F',
    u'\u0452', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u0098', u'\u2122', u'\u0459', u'\u203A', u'\u045A', u'\u045C', u'\u045B', u'\u045F',
    u'\u00A0', u'\u040E', u'\u045E', u'\u0408', u'\u00A4', u'\u0490', u'\u00A6', u'\u00A7',
    u'\u0401', u'\u00A9', u'\u0404', u'\u00AB', u'\u00AC', u'\u00AD', u'\u00AE', u'\u0407',
    u'\u00B0', u'\u00B1', u'\u0406', u'\u0456', u'\u0491', u'\u00B5', u'\u00B6', u'\u00B7',
    u'\u0451', u'\u2116', u'\u0454', u'\u00BB', u'\u0458', u'\u0405', u'\u0455', u'\u0457',
};

// Bytes 0xC0–0xFF are А…я, U+0410–U+044F, in order.
constexpr char16_t firstCyrillicLetter = u'\u0410';
constexpr int firstLetterByte = 0xC0;

char16_t characterOf(quint8 byte)
{
    if (byte < 0x80)
        return byte;
    if (byte < firstLetterByte)
        return upperHalfStart[static_cast<size_t>(byte - 0x80)];
    return static_cast<char16_t>(firstCyrillicLetter + (byte - firstLetterByte));
}

char byteOf(char16_t character)
{
    if (character < 0x80)
        return static_cast<char>(character);
    if (character >= firstCyrillicLetter && character < firstCyrillicLetter + 64)
        return static_cast<char>(firstLetterByte + (character - firstCyrillicLetter));
    for (size_t i = 0; i < upperHalfStart.size(); ++i) {
        if (upperHalfStart[i] == character)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

QByteArray encodeWindows1251(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar character = text[i];
        if (character.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            bytes.append('?'); // one character outside the BMP, one question mark
            ++i;
            continue;
        }
        bytes.append(character.isSurrogate() ? '?' : byteOf(character.unicode()));
    }
    return bytes;
}

QString decodeWindows1251(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes)
        text.append(QChar(characterOf(static_cast<quint8>(byte))));
    return text;
}

} // namespace orbelant
