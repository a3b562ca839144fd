#include "numbertext.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <string>

namespace orbelant {

std::optional<double> parseNumberText(QStringView text)
{
    const QStringView trimmed = text.trimmed();
    // Accept: [+-] digits [ (,|.) digits ] [ (e|E) [+-] digits ], with at least one digit
    // in the mantissa. Build a plain ASCII copy for from_chars on the way.
    std::string ascii;
    ascii.reserve(static_cast<size_t>(trimmed.size()));
    qsizetype i = 0;
    const qsizetype n = trimmed.size();
    auto isDigit = [&](qsizetype at) { return at < n && trimmed[at] >= u'0' && trimmed[at] <= u'9'; };

    if (i < n && (trimmed[i] == u'+' || trimmed[i] == u'-')) {
        if (trimmed[i] == u'-')
            ascii.push_back('-');
        ++i;
    }
    int mantissaDigits = 0;
    while (isDigit(i)) {
        ascii.push_back(static_cast<char>(trimmed[i].unicode()));
        ++i;
        ++mantissaDigits;
    }
    if (i < n && (trimmed[i] == u',' || trimmed[i] == u'.')) {
        ascii.push_back('.');
        ++i;
        while (isDigit(i)) {
            ascii.push_back(static_cast<char>(trimmed[i].unicode()));
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < n && (trimmed[i] == u'e' || trimmed[i] == u'E')) {
        ascii.push_back('e');
        ++i;
        if (i < n && (trimmed[i] == u'+' || trimmed[i] == u'-')) {
            ascii.push_back(static_cast<char>(trimmed[i].unicode()));
            ++i;
        }
        if (!isDigit(i))
            return std::nullopt;
        while (isDigit(i)) {
            ascii.push_back(static_cast<char>(trimmed[i].unicode()));
            ++i;
        }
    }
    if (i != n)
        return std::nullopt;

    double value = 0;
    const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(value))
        return std::nullopt;
    return value == 0 ? 0.0 : value; // no negative zero
}

QString formatNumber(double value)
{
    if (std::isnan(value))
        return QStringLiteral("#ЧИСЛО!");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("#ЧИСЛО!") : QStringLiteral("-#ЧИСЛО!");
    if (value == 0)
        return QStringLiteral("0");

    // Shortest round-trip digits in scientific form: d.ddde±x.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string sci(buffer, result.ptr);
    const bool negative = sci.front() == '-';
    if (negative)
        sci.erase(0, 1);
    const size_t ePos = sci.find('e');
    std::string digits = sci.substr(0, ePos);
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    const int exponent = std::stoi(sci.substr(ePos + 1));

    std::string out;
    if (exponent < -4 || exponent >= 16) {
        out = digits.substr(0, 1);
        if (digits.size() > 1)
            out += ',' + digits.substr(1);
        char expText[16];
        std::snprintf(expText, sizeof expText, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        out += expText;
    } else if (exponent < 0) {
        out = "0," + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        const size_t intDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out = digits + std::string(intDigits - digits.size(), '0');
        } else {
            out = digits.substr(0, intDigits) + ',' + digits.substr(intDigits);
        }
    }
    if (negative)
        out.insert(out.begin(), '-');
    return QString::fromLatin1(out.data(), static_cast<qsizetype>(out.size()));
}

QString groupDigits(QString number)
{
    qsizetype wholeDigits = 0;
    while (wholeDigits < number.size() && number[wholeDigits] >= u'0' && number[wholeDigits] <= u'9')
        ++wholeDigits;
    if (wholeDigits < 5)
        return number;
    for (qsizetype at = wholeDigits - 3; at > 0; at -= 3)
        number.insert(at, u' ');
    return number;
}

QString formatCount(qint64 value)
{
    return groupDigits(QString::number(value));
}

} // namespace orbelant
