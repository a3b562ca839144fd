#pragma once
// Putting a new version of a file in place of the old one in a single step.

#include "../error.h"

#include <QByteArrayView>
#include <QString>

namespace orbelant {
// Writes `bytes` to a new file of our own naming in the same folder, flushes it to disk, gives it
// the old file's attributes and replaces `path` with it in one step. On any failure the old
// file is left untouched and the error names the reason in Russian.
Result<void> replaceFileAtomically(const QString &path, QByteArrayView bytes);
}
