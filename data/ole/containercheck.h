#pragma once
// Checks of a compound file's header and directory before libgsf reads it. libgsf trusts
// the header's sector and table sizes for its first allocations, recurses once per
// directory link (a long chain in a hostile file overflows its stack) and silently leaves
// out entries it cannot use, together with everything linked from them.

#include "../error.h"
#include "filebytes.h"

#include <QByteArrayView>
#include <QString>

namespace orbelant {

// The largest compound file the engine reads.
constexpr qint64 MaxContainerBytes = qint64(512) << 20;
// The largest Workbook stream it takes.
constexpr qint64 MaxWorkbookStreamBytes = qint64(256) << 20;

// Refuses what libgsf must not see; otherwise tells whether libgsf will see every entry
// the directory links (false: some entries would be lost if the file were rewritten).
Result<bool> checkContainer(const FileBytes &file, const QString &displayName);

// "в файле «name» what", the detail of a damaged-container message.
QString damagedDetail(const QString &displayName, const QString &what);

} // namespace orbelant
