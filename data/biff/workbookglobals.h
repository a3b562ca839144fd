#pragma once
// The workbook globals substream: version, encryption, date system, number formats,
// cell formats, the shared strings and the list of sheets.

#include "records.h"
#include "sharedstrings.h"
#include "../cell.h"
#include "../error.h"

#include <QHash>
#include <vector>

namespace orbelant::biff {

struct SheetEntry {
    QString name;
    qint64 bofPosition = 0; // lbPlyPos as stored
    quint8 visibility = 0;
    quint8 type = 0;        // 0 worksheet, 1 macro sheet, 2 chart, 6 VBA module
};

struct WorkbookGlobals {
    DateSystem dates = DateSystem::From1900;
    std::vector<bool> dateFormatXf; // per XF index: the format shows a date
    SharedStrings strings;          // views into the stream, which must outlive these globals
    std::vector<SheetEntry> sheets;
    qint64 end = 0;                 // where the globals end: after their EOF, else at the first sheet's BOF

    bool isDateXf(quint16 xf) const { return xf < dateFormatXf.size() && dateFormatXf[xf]; }
};

// Reads the globals from the start of the stream. Refuses streams older than BIFF8,
// encrypted workbooks (nothing after FILEPASS is interpreted) and damaged records.
Result<WorkbookGlobals> readWorkbookGlobals(QByteArrayView stream, const QString &displayName);

// Whether a number format string shows a date or time (the test xlrd uses: date and time
// letters outnumber digit placeholders once quoted text, escapes and [..] are dropped).
bool isDateFormatString(const QString &format);
bool isBuiltInDateFormat(quint16 formatIndex);

} // namespace orbelant::biff
