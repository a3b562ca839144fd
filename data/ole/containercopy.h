#pragma once
// A new compound file built from an old one by the platform's own container library
// (libgsf, or Windows' structured storage): every storage and stream copied with its class
// id, only the root's workbook stream given new content.

#include "../error.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace orbelant {

using ContainerConsumer = std::function<Result<void>(QByteArrayView)>;

// `fileBytes` passed rewriteRefusal(). The root's stream named exactly `workbookName` gets
// `stream`; the new file's bytes go to `consume`, which must not keep them.
Result<void> copyContainer(const QByteArray &fileBytes, const QString &displayName, const QString &workbookName,
                           const QByteArray &stream, const ContainerConsumer &consume);

} // namespace orbelant
