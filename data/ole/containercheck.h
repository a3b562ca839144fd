#pragma once
// The check of a parsed compound file before the platform's container library (libgsf,
// Windows' structured storage) rewrites it. libgsf trusts the header's table size for its
// first allocation, recurses once per directory link (a long chain in a hostile file
// overflows its stack), reads only whole sectors and silently leaves out entries it cannot
// use, together with everything linked from them.

#include "../error.h"

#include <QString>
#include <optional>

namespace orbelant {

namespace compound {
class CompoundFile;
}

// The largest compound file the engine reads.
constexpr qint64 MaxContainerBytes = qint64(512) << 20;
// The largest Workbook stream it takes.
constexpr qint64 MaxWorkbookStreamBytes = qint64(256) << 20;

// Why the container must not be rewritten, or nothing: the library must not see it
// (Damaged, TooLarge), or a rewrite would lose entries the directory links (Damaged).
std::optional<Error> rewriteRefusal(const compound::CompoundFile &container, const QString &displayName);

// Damaged, with the detail "в файле «name» what".
std::unexpected<Error> damagedContainer(const QString &displayName, const QString &what);

} // namespace orbelant
