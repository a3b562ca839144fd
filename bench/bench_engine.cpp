// bench_engine: times the workbook engine on a large workbook.
//
//   bench_engine time WORKBOOK [REPETITIONS]   open, FindFirst and store, each repeated
//   bench_engine peak open|find|store WORKBOOK one operation in this fresh process, then
//                                              its peak resident memory
//
// Output is one "name value" pair a line, for bench/run.sh: times in milliseconds
// (min and median over the repetitions), memory in KiB. `store` works on a copy of the
// workbook next to it ("WORKBOOK.store-copy.xls"), never on the workbook itself.

#include "filter/criterion.h"
#include "workbook.h"
#include "writeback.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

using namespace orbelant;

namespace {

const QString SheetName = QStringLiteral("Лист1");
const QString EditedColumn = QStringLiteral("Ярус");
const QString EditedText = QStringLiteral("Изменённый ярус");
constexpr int DefaultRepetitions = 7;

int failWith(const QString &message)
{
    std::fprintf(stderr, "bench_engine: %s\n", message.toUtf8().constData());
    return 2;
}

struct Timings {
    std::vector<double> milliseconds;

    double min() const { return *std::min_element(milliseconds.begin(), milliseconds.end()); }
    double median() const
    {
        std::vector<double> sorted = milliseconds;
        std::sort(sorted.begin(), sorted.end());
        const size_t middle = sorted.size() / 2;
        return sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    }
};

void report(const char *name, const Timings &timings)
{
    std::printf("%s_min_ms %.3f\n%s_median_ms %.3f\n", name, timings.min(), name, timings.median());
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss; // KiB on Linux
}

// What FindFirst is asked: the last record's age as the user types it (decimal comma).
QString lastAgeCriterion(const SheetTable &table)
{
    return QStringLiteral("[Возраст] = %1").arg(table.text(table.recordCount() - 1, 0));
}

QString storeCopyPath(const QString &workbook)
{
    return workbook + QStringLiteral(".store-copy.xls");
}

// Copies the workbook over the store copy, so every store starts from the same file.
bool restoreCopy(const QString &workbook)
{
    const QString copy = storeCopyPath(workbook);
    QFile::remove(copy);
    return QFile::copy(workbook, copy);
}

std::optional<QString> checkFound(const SheetTable &table, const Result<std::optional<qsizetype>> &found)
{
    if (!found)
        return found.error().message;
    if (!*found || **found != table.recordCount() - 1)
        return QStringLiteral("FindFirst нашёл не последнюю запись");
    return std::nullopt;
}

Result<std::vector<Cell>> storeMiddleRecord(const QString &path, const SheetTable &table)
{
    const qsizetype column = table.columnIndex(EditedColumn);
    if (column < 0)
        return fail(ErrorCode::UnknownColumn, EditedColumn);
    return storeRecord(path, table, table.recordCount() / 2, {CellEdit{column, EditedText}});
}

int timeAll(const QString &workbook, int repetitions)
{
    Timings open, find, store;
    std::optional<SheetTable> table;
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        auto read = readSheet(workbook, SheetName);
        open.milliseconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (!read)
            return failWith(read.error().message);
        table = std::move(*read);
    }
    if (table->recordCount() < 2)
        return failWith(QStringLiteral("в книге меньше двух записей"));
    std::printf("records %lld\n", static_cast<long long>(table->recordCount()));

    const QString criterion = lastAgeCriterion(*table);
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto found = findFirst(*table, criterion);
        find.milliseconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (const auto problem = checkFound(*table, found))
            return failWith(*problem);
    }

    // The table read from the workbook describes every fresh copy of it too.
    for (int i = 0; i < repetitions; ++i) {
        if (!restoreCopy(workbook))
            return failWith(QStringLiteral("не удалось скопировать книгу"));
        QElapsedTimer timer;
        timer.start();
        const auto stored = storeMiddleRecord(storeCopyPath(workbook), *table);
        store.milliseconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (!stored)
            return failWith(stored.error().message);
    }
    QFile::remove(storeCopyPath(workbook));

    report("open", open);
    report("find", find);
    report("store", store);
    return 0;
}

// One operation in this process; prints the peak before it (what loading took) and after.
int peakOf(const QString &operation, const QString &workbook)
{
    const QString path = operation == QLatin1String("store") ? storeCopyPath(workbook) : workbook;
    if (operation == QLatin1String("store") && !restoreCopy(workbook))
        return failWith(QStringLiteral("не удалось скопировать книгу"));
    std::printf("baseline_kib %ld\n", peakKiB());
    const auto table = readSheet(path, SheetName);
    if (!table)
        return failWith(table.error().message);
    std::printf("loaded_kib %ld\n", peakKiB());
    if (operation == QLatin1String("find")) {
        if (const auto problem = checkFound(*table, findFirst(*table, lastAgeCriterion(*table))))
            return failWith(*problem);
    } else if (operation == QLatin1String("store")) {
        const auto stored = storeMiddleRecord(path, *table);
        QFile::remove(path);
        if (!stored)
            return failWith(stored.error().message);
    }
    std::printf("peak_kib %ld\n", peakKiB());
    return 0;
}

int usage()
{
    return failWith(QStringLiteral("использование: bench_engine time КНИГА [ПОВТОРЫ] | "
                                   "bench_engine peak open|find|store КНИГА"));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if ((args.size() == 2 || args.size() == 3) && args[0] == QLatin1String("time")) {
        bool isNumber = true;
        const int repetitions = args.size() == 3 ? args[2].toInt(&isNumber) : DefaultRepetitions;
        if (!isNumber || repetitions < 1)
            return usage();
        return timeAll(args[1], repetitions);
    }
    const QStringList operations = {QStringLiteral("open"), QStringLiteral("find"), QStringLiteral("store")};
    if (args.size() == 3 && args[0] == QLatin1String("peak") && operations.contains(args[1]))
        return peakOf(args[1], args[2]);
    return usage();
}
