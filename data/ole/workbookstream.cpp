#include "workbookstream.h"
#include "compoundfile.h"
#include "containercheck.h"

#include <vector>

namespace orbelant {

namespace {

using namespace compound;

// Among the root's own streams: "Workbook" first, else "Book", in any case. The walk
// over the root's tree of children visits every entry at most once.
Result<std::optional<size_t>> findWorkbookEntry(const std::vector<Entry> &entries, const QString &displayName)
{
    std::optional<size_t> workbook, book;
    std::vector<bool> seen(entries.size());
    std::vector<quint32> pending{entries.front().child};
    while (!pending.empty()) {
        const quint32 index = pending.back();
        pending.pop_back();
        if (index >= entries.size() || seen[index])
            continue;
        seen[index] = true;
        const Entry &entry = entries[index];
        pending.push_back(entry.left);
        pending.push_back(entry.right);
        if (entry.type != StreamEntry)
            continue;
        const bool isWorkbook = entry.name.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) == 0;
        const bool isBook = entry.name.compare(QLatin1String("Book"), Qt::CaseInsensitive) == 0;
        if (!isWorkbook && !isBook)
            continue;
        std::optional<size_t> &slot = isWorkbook ? workbook : book;
        if (slot) // which of the two would the workbook be?
            return damagedContainer(displayName, QStringLiteral("контейнер содержит два потока «%1»").arg(entry.name));
        slot = index;
    }
    return workbook ? workbook : book;
}

} // namespace

Result<WorkbookStream> readWorkbookStream(const CompoundFile &container, const QString &displayName)
{
    const std::vector<Entry> &entries = container.entries();
    if (entries.empty() || entries.front().type != RootEntry)
        return damagedContainer(displayName, QStringLiteral("нет корневого элемента каталога"));
    const auto found = findWorkbookEntry(entries, displayName);
    if (!found)
        return std::unexpected(found.error());
    if (!*found)
        return fail(ErrorCode::NoWorkbookStream, displayName);
    const Entry &entry = entries[**found];
    // One longer than the file is damaged, as streamBytes says.
    if (entry.size > MaxWorkbookStreamBytes && entry.size <= container.fileSize())
        return fail(ErrorCode::TooLarge, QStringLiteral("поток «%1» в файле «%2» длиннее %3 МБ")
                                             .arg(entry.name, displayName).arg(MaxWorkbookStreamBytes >> 20));
    auto bytes = container.streamBytes(entry);
    if (!bytes)
        return std::unexpected(bytes.error());
    return WorkbookStream{std::move(*bytes), entry.name, std::nullopt};
}

Result<WorkbookStream> readWorkbookStream(const FileBytes &file, const QString &displayName)
{
    const auto container = CompoundFile::parse(file, displayName);
    if (!container)
        return std::unexpected(container.error());
    auto stream = readWorkbookStream(*container, displayName);
    if (stream)
        stream->notRewritable = rewriteRefusal(*container, displayName);
    return stream;
}

} // namespace orbelant
