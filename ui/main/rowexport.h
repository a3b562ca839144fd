#pragma once
// The line that the save command appends to info.dat for the row the main window shows.

#include <QString>
#include <QStringList>

namespace orbelant {

// The export file, in the current directory.
inline QString exportFileName()
{
    return QStringLiteral("info.dat");
}

// The seven texts of one row as the main window's fields show them, Text1 to Text7.
struct ShownRow {
    QString age;          // Text1, Возраст
    QString eonothem;     // Text2, Эонотема
    QString erathem;      // Text3, Эратема
    QString system;       // Text4, Система
    QString series;       // Text5, Отдел
    QString stage;        // Text6, Ярус
    QString organicWorld; // Text7, Органический мир

    friend bool operator==(const ShownRow &, const ShownRow &) = default;
};

// The fourteen texts of the line: each label, named after the geochronological unit,
// followed by its field's text, unchanged except that every line break of a field is
// written as CR LF, the line end of the file. The text-file service ends the line.
QStringList exportTexts(const ShownRow &row);

} // namespace orbelant
