/* bench_freexl: the same workbook read by FreeXL, as a yardstick for bench_engine.
 *
 *   bench_freexl time WORKBOOK [REPETITIONS]   open, read every cell of the first
 *                                              worksheet, close; repeated
 *   bench_freexl peak WORKBOOK                 that once in this fresh process, then
 *                                              its peak resident memory
 *
 * Output is one "name value" pair a line, like bench_engine's: milliseconds, KiB. */

#include <freexl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

enum { DefaultRepetitions = 7, MaxRepetitions = 1000 };

struct ReadSummary {
    unsigned long cells;
    unsigned long texts;
    unsigned long textBytes; /* every text is walked, as a reader that uses it would */
    double numberSum;
};

static double nowMilliseconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1e3 + (double)now.tv_nsec / 1e6;
}

static int isTextType(unsigned char type)
{
    return type == FREEXL_CELL_TEXT || type == FREEXL_CELL_SST_TEXT || type == FREEXL_CELL_DATE
        || type == FREEXL_CELL_DATETIME || type == FREEXL_CELL_TIME;
}

/* Opens the workbook, reads every cell of its first worksheet and closes it.
 * Returns 0 on success. */
static int readWorkbook(const char *path, struct ReadSummary *summary)
{
    const void *handle = NULL;
    unsigned int rows = 0;
    unsigned short columns = 0;
    memset(summary, 0, sizeof *summary);
    if (freexl_open(path, &handle) != FREEXL_OK) {
        fprintf(stderr, "bench_freexl: cannot open %s\n", path);
        freexl_close(handle);
        return 1;
    }
    if (freexl_select_active_worksheet(handle, 0) != FREEXL_OK
        || freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK) {
        fprintf(stderr, "bench_freexl: no first worksheet in %s\n", path);
        freexl_close(handle);
        return 1;
    }
    for (unsigned int row = 0; row < rows; ++row) {
        for (unsigned short column = 0; column < columns; ++column) {
            FreeXL_CellValue value;
            if (freexl_get_cell_value(handle, row, column, &value) != FREEXL_OK) {
                fprintf(stderr, "bench_freexl: cannot read cell %u,%u\n", row, (unsigned)column);
                freexl_close(handle);
                return 1;
            }
            ++summary->cells;
            if (isTextType(value.type)) {
                ++summary->texts;
                summary->textBytes += strlen(value.value.text_value);
            } else if (value.type == FREEXL_CELL_DOUBLE) {
                summary->numberSum += value.value.double_value;
            } else if (value.type == FREEXL_CELL_INT) {
                summary->numberSum += value.value.int_value;
            }
        }
    }
    freexl_close(handle);
    return 0;
}

static int compareDoubles(const void *left, const void *right)
{
    const double a = *(const double *)left, b = *(const double *)right;
    return (a > b) - (a < b);
}

static int timeReads(const char *path, int repetitions)
{
    double milliseconds[MaxRepetitions];
    struct ReadSummary summary;
    for (int i = 0; i < repetitions; ++i) {
        const double start = nowMilliseconds();
        if (readWorkbook(path, &summary) != 0)
            return 2;
        milliseconds[i] = nowMilliseconds() - start;
    }
    qsort(milliseconds, (size_t)repetitions, sizeof milliseconds[0], compareDoubles);
    const int middle = repetitions / 2;
    const double median = repetitions % 2 ? milliseconds[middle] : (milliseconds[middle - 1] + milliseconds[middle]) / 2;
    printf("cells %lu\ntexts %lu\ntext_bytes %lu\n", summary.cells, summary.texts, summary.textBytes);
    printf("read_min_ms %.3f\nread_median_ms %.3f\n", milliseconds[0], median);
    return 0;
}

static int peakOfRead(const char *path)
{
    struct ReadSummary summary;
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("baseline_kib %ld\n", usage.ru_maxrss);
    if (readWorkbook(path, &summary) != 0)
        return 2;
    getrusage(RUSAGE_SELF, &usage);
    printf("peak_kib %ld\n", usage.ru_maxrss);
    return 0;
}

static int usage(void)
{
    fprintf(stderr, "usage: bench_freexl time WORKBOOK [REPETITIONS] | bench_freexl peak WORKBOOK\n");
    return 2;
}

int main(int argc, char *argv[])
{
    if ((argc == 3 || argc == 4) && strcmp(argv[1], "time") == 0) {
        const int repetitions = argc == 4 ? atoi(argv[3]) : DefaultRepetitions;
        if (repetitions < 1 || repetitions > MaxRepetitions)
            return usage();
        return timeReads(argv[2], repetitions);
    }
    if (argc == 3 && strcmp(argv[1], "peak") == 0)
        return peakOfRead(argv[2]);
    return usage();
}
