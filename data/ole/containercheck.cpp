#include "containercheck.h"
#include "compoundfile.h"
#include "../numbertext.h"

#include <vector>

namespace orbelant {

namespace {

using namespace compound;

// An allocation table may describe at most twice the sectors of the largest file we read.
constexpr qint64 MaxDescribedSectors = 2 * MaxContainerBytes / 512;
// libgsf recurses once per directory link (about 250 bytes of stack each) and inserts
// every entry into a sorted list; real workbooks have a few dozen entries.
constexpr int MaxDirectoryDepth = 2048;
constexpr qsizetype MaxDirectoryEntries = 10000;

// Walks the directory the way libgsf will, before it does: the first result is refused,
// the second noted, so that such a file is never rewritten without those entries.
Result<bool> everyLinkedEntryUsable(const CompoundFile &container, qint64 fileSize, const QString &displayName)
{
    struct Link {
        quint32 index;
        int depth;
    };
    const std::vector<Entry> &entries = container.entries();
    std::vector<Link> pending{{0, 1}};
    std::vector<bool> seen(entries.size());
    bool complete = true;
    qsizetype visited = 0;
    while (!pending.empty()) {
        const Link link = pending.back();
        pending.pop_back();
        if (link.index == NoEntry)
            continue;
        if (link.depth > MaxDirectoryDepth)
            return damagedContainer(displayName, QStringLiteral("каталог контейнера слишком глубок"));
        if (++visited > MaxDirectoryEntries)
            return fail(ErrorCode::TooLarge, QStringLiteral("в файле «%1» больше %2 элементов контейнера")
                                                 .arg(displayName, formatCount(MaxDirectoryEntries)));
        if (link.index >= entries.size() || seen[link.index]) {
            complete = false;
            continue;
        }
        const Entry &entry = entries[link.index];
        const bool usable = (link.index == 0 ? entry.type == RootEntry : entry.type == StorageEntry || entry.type == StreamEntry)
            && (entry.type != StreamEntry || entry.size <= fileSize);
        if (!usable) {
            complete = false;
            continue;
        }
        seen[link.index] = true;
        // The root has no siblings; libgsf would read them and then drop them.
        if (link.index == 0 && (entry.left != NoEntry || entry.right != NoEntry))
            complete = false;
        pending.push_back({entry.left, link.depth + 1});
        pending.push_back({entry.right, link.depth + 1});
        if (entry.type != StreamEntry)
            pending.push_back({entry.child, link.depth + 1});
    }
    return complete;
}

} // namespace

std::unexpected<Error> damagedContainer(const QString &displayName, const QString &what)
{
    return fail(ErrorCode::Damaged, QStringLiteral("в файле «%1» %2").arg(displayName, what));
}

std::optional<Error> rewriteRefusal(const CompoundFile &container, const QString &displayName)
{
    if (qint64(container.declaredTableSectors()) * (container.sectorBytes() / 4) > MaxDescribedSectors)
        return damagedContainer(displayName, QStringLiteral("таблица размещения несоразмерно велика")).error();
    const auto linked = everyLinkedEntryUsable(container, container.fileSize(), displayName);
    if (!linked)
        return linked.error();
    // libgsf reads only whole sectors, and fails on a table sector it cannot read.
    if (!*linked || !container.tableListComplete() || container.structureCutShort())
        return damagedContainer(displayName, QStringLiteral("часть элементов контейнера не читается, "
                                                            "и при сохранении они были бы потеряны")).error();
    return std::nullopt;
}

} // namespace orbelant
