#pragma once
// The OLE2 compound-file container of an .xls file. It hands out the
// Workbook stream and builds a new container in which only that stream is replaced and
// every other stream and storage (summary information, VBA, …) is copied unchanged.

#include "../error.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace orbelant {

class CompoundDocument {
public:
    // Reads the whole file into memory and opens the container from that snapshot.
    // Refuses: FileMissing, FileUnreadable, NotCompoundFile, NoWorkbookStream,
    // TooLarge, Damaged. The stream is "Workbook" in any case, else "Book".
    static Result<CompoundDocument> open(const QString &path);
    // The same from bytes already in memory; `displayName` names the file in messages.
    static Result<CompoundDocument> fromBytes(QByteArray fileBytes, const QString &displayName);

    CompoundDocument(CompoundDocument &&) noexcept;
    CompoundDocument &operator=(CompoundDocument &&) noexcept;
    ~CompoundDocument();

    const QByteArray &workbookStream() const;
    // Hands the Workbook stream over and forgets it, so a caller that rewrites it does not
    // keep two copies.
    QByteArray takeWorkbookStream();
    QString displayName() const;

    // A complete new compound file: this one with the Workbook stream replaced by
    // `stream` (under its original name), everything else copied, CLSIDs kept.
    Result<QByteArray> withWorkbookStream(const QByteArray &stream) const;
    // The same, saved straight over `path` with replaceFileAtomically() without a copy of
    // the new file in memory.
    Result<void> saveWithWorkbookStream(const QString &path, const QByteArray &stream) const;

private:
    Result<void> buildWithWorkbookStream(const QByteArray &stream,
                                         const std::function<Result<void>(QByteArrayView)> &consume) const;
    struct Private;
    explicit CompoundDocument(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

} // namespace orbelant
