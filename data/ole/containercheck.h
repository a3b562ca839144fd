#pragma once
// The check of a parsed compound file before the platform's container library (libgsf,
// Windows' structured storage) rewrites it. libgsf trusts the header's table size for its
// first allocation, recurses once per directory link (a long chain in a hostile file
// overflows its stack), reads only whole sectors and silently leaves out entries it cannot
// use, together with everything linked from them.

#include "../error.h"

#include <QString>

namespace orbelant {

namespace compound {
class CompoundFile;
}

// The largest compound file the engine reads.
constexpr qint64 MaxContainerBytes = qint64(512) << 20;
// The largest Workbook stream it takes.
constexpr qint64 MaxWorkbookStreamBytes = qint64(256) << 20;

// Refuses what the library must not see; otherwise tells whether a rewrite would carry
// every entry the directory links (false: some would be lost if the file were rewritten).
Result<bool> checkContainer(const compound::CompoundFile &container, const QString &displayName);

// Damaged, with the detail "файл «name»: what".
std::unexpected<Error> damagedContainer(const QString &displayName, const QString &what);

} // namespace orbelant
