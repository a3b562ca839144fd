#pragma once
// What the platform's container library does for the copier (containercopy.cpp): the old
// container opened from memory and a new one built beside it, a storage at a time. libgsf
// on Linux (containercopy_gsf.cpp), Windows' structured storage (containercopy_win.cpp).

#include "../error.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

namespace orbelant::containercopy {

// One element of a storage of the old container, as the library lists it.
struct Element {
    QString name;
    bool storage = false;
};

// A storage of the old container beside its copy in the new one. An `index` is the
// element's place in what list() gave.
class StoragePair {
public:
    virtual ~StoragePair() = default;
    // Gives the copy the old storage's class id (and what else the library keeps with it).
    virtual bool copyClass() = 0;
    // The old storage's elements; false when it cannot list them.
    virtual bool list(std::vector<Element> &elements) = 0;
    // A storage element: the old one opened and its copy made. Damaged when the old one
    // cannot be opened, WriteFailed when the copy cannot be made.
    virtual Result<std::unique_ptr<StoragePair>> openStorage(qsizetype index) = 0;
    // Completes the copy made by openStorage() once its elements are copied.
    virtual bool closeStorage(qsizetype index, std::unique_ptr<StoragePair> storage) = 0;
    // Opens a stream element of the old container at its start; its size, -1 when it
    // cannot be opened or the library cannot tell.
    virtual qint64 openStream(qsizetype index) = 0;
    // The next `length` bytes of the stream opened last; false when it has not got them.
    virtual bool readStream(char *out, qsizetype length) = 0;
    // The copy of a stream element, holding `bytes`.
    virtual bool writeStream(qsizetype index, QByteArrayView bytes) = 0;
};

// The old container opened and a new one begun: their roots, and the new one's bytes.
class ContainerPair {
public:
    virtual ~ContainerPair() = default;
    virtual StoragePair &root() = 0;
    // Completes the new container; its bytes stay readable through bytes() while this lives.
    virtual bool finish() = 0;
    virtual QByteArrayView bytes() const = 0;
};

// The old container read from `fileBytes`, which outlive the pair. Damaged when the library
// cannot open it, TooLarge when memory runs short, WriteFailed when no new one can be begun.
Result<std::unique_ptr<ContainerPair>> openContainerPair(const QByteArray &fileBytes, const QString &displayName);

// WriteFailed: "сбой при сборке нового файла".
std::unexpected<Error> buildFailed(const QString &displayName);

} // namespace orbelant::containercopy
