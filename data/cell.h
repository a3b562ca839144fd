#pragma once
// One cell's value as the workbook holds it, and the text a bound field shows for it.

#include <QString>
#include <QtGlobal>

namespace orbelant {

enum class DateSystem { From1900, From1904 };

struct Cell {
    enum class Kind : quint8 { Empty, Number, Text, Boolean, Error };

    Cell() = default;
    Cell(const Cell &) = default;
    Cell(Cell &&) = default;
    // Only a named cell can be assigned: a table hands out copies, and a value assigned to
    // a copy would be lost without a word.
    Cell &operator=(const Cell &) & = default;
    Cell &operator=(Cell &&) & = default;
    ~Cell() = default;

    Kind kind = Kind::Empty;
    bool isDate = false;  // a number shown through a date format
    quint8 code = 0;      // Boolean: 0 or 1; Error: the BIFF error code (0x07 #ДЕЛ/0! …)
    double number = 0;
    QString text;

    static Cell makeNumber(double value, bool date = false)
    {
        Cell c;
        c.kind = Kind::Number;
        c.number = value;
        c.isDate = date;
        return c;
    }
    static Cell makeText(const QString &value)
    {
        Cell c;
        if (!value.isEmpty()) {
            c.kind = Kind::Text;
            c.text = value;
        }
        return c;
    }
    static Cell makeBoolean(bool value)
    {
        Cell c;
        c.kind = Kind::Boolean;
        c.code = value ? 1 : 0;
        return c;
    }
    static Cell makeError(quint8 errorCode)
    {
        Cell c;
        c.kind = Kind::Error;
        c.code = errorCode;
        return c;
    }

    bool isEmpty() const { return kind == Kind::Empty; }
    bool operator==(const Cell &other) const = default;
};

// The text a field shows: numbers in the fewest digits that read back as the same value
// with a decimal comma; dates as дд.мм.гггг [чч:мм:сс]; ИСТИНА/ЛОЖЬ; Russian error names.
QString cellText(const Cell &cell, DateSystem dates);

// The Russian name Excel shows for a BIFF error code (#Н/Д, #ДЕЛ/0! …).
QString errorText(quint8 errorCode);

} // namespace orbelant
