#pragma once
// Reads the stream that holds a workbook straight out of its compound file: only the
// sectors of that stream are read, into one buffer. The reader forgives faults elsewhere in
// the container (a wrong allocation-table count, a damaged entry in another part of the
// directory) as long as the stream itself is whole; such a file is read, and marked so
// that it is never written.

#include "../error.h"
#include "../storage/filebytes.h"

#include <QByteArray>
#include <optional>

namespace orbelant {

namespace compound {
class CompoundFile;
}

struct WorkbookStream {
    QByteArray bytes;
    QString name; // as the directory spells it
    // Why the container must not be rewritten, when it has faults that a rewrite would
    // not carry over safely: the workbook may be shown but must not be saved.
    std::optional<Error> notRewritable;
};

// The root's stream named "Workbook" (in any case), else the one named "Book"; which
// format it holds is for its first record to tell. The container is checked for a
// rewrite on the way. Refuses: NotCompoundFile, NoWorkbookStream, TooLarge, Damaged (the
// stream itself cannot be read whole).
Result<WorkbookStream> readWorkbookStream(const FileBytes &file, const QString &displayName);
// The same from a container already parsed, without the check: a save checks the very
// bytes it gives the container library (rewriteRefusal()).
Result<WorkbookStream> readWorkbookStream(const compound::CompoundFile &container, const QString &displayName);

} // namespace orbelant
