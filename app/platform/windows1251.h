#pragma once
// Windows-1251, the Cyrillic 8-bit code page, by table: Qt's own converters know it only
// when Qt is built with ICU.

#include "services.h"

namespace orbelant {

// Unicode to Windows-1251; a character outside the code page becomes one '?'.
QByteArray encodeWindows1251(QStringView text);
// Windows-1251 to Unicode; every byte has a character.
QString decodeWindows1251(QByteArrayView bytes);

class Windows1251CodePage final : public CodePage {
public:
    QByteArray fromUnicode(QStringView text) const override { return encodeWindows1251(text); }
    QString toUnicode(QByteArrayView bytes) const override { return decodeWindows1251(bytes); }
};

} // namespace orbelant
