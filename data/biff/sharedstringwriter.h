#pragma once
// Adds strings to a workbook's shared-string table: finds a text already stored, appends
// new ones after the last string (split over CONTINUE records as BIFF8 requires), keeps
// the table's counts, and rebuilds the EXTSST index that points into it.

#include "recordlist.h"
#include "sharedstrings.h"

#include <QStringList>
#include <optional>

namespace orbelant::biff {

class SharedStringWriter {
public:
    explicit SharedStringWriter(SharedStrings table);

    // The index of `text` for a new LABELSST cell: the first plain string with that text,
    // else a string to be appended. Counts the reference.
    quint32 reference(const QString &text);
    // A LABELSST cell went away.
    void dropReference() { --m_referencesAdded; }

    // Writes the counts and the new strings into the globals of `records`, creating the
    // table when the workbook has none.
    Result<void> write(RecordList &records);
    // EXTSST: sized before the records are laid out (refused when its bucket size would
    // not fit its field), filled after.
    Result<void> sizeExtSst(RecordList &records);
    void fillExtSst(RecordList &records) const;

private:
    SharedStrings m_table;
    qsizetype m_existing;          // strings in the table as read
    QStringList m_new;
    qint64 m_referencesAdded = 0;
    std::vector<SharedStrings::Location> m_newLocations;
    std::optional<size_t> m_sstIndex; // the SST record, once written
    qsizetype m_perBucket = 0;        // strings to an EXTSST bucket, once sized
};

} // namespace orbelant::biff
