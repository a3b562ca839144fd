// Any bytes as a whole .xls file: read the Workbook stream as the program does, read the
// sheet as a table and format every cell; open the container as a save would; rewrite one
// cell as a save would. Every refusal is an error value; nothing may crash, hang or read
// outside its buffers; and a rewrite of a workbook that opened never fails the writer's own
// check of what it wrote.

#include "biff/streameditor.h"
#include "cell.h"
#include "ole/compounddocument.h"
#include "ole/workbookstream.h"
#include "workbook.h"

#include <glib.h>

#include <cstdint>
#include <cstdlib>

using namespace orbelant;

namespace {

void dropMessage(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // libgsf writes a warning to stderr for every damaged directory entry it meets, which
    // is most inputs here: millions of lines a minute that hide the fuzzer's own report.
    g_log_set_handler("libgsf:msole",
                      static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO),
                      dropMessage, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    (void)CompoundDocument::fromBytes(bytes, QStringLiteral("fuzz"));
    const auto stream = readWorkbookStream(FileBytes::fromMemory(bytes), QStringLiteral("fuzz"));
    if (!stream)
        return 0;

    // Our own seeds name the sheet Лист1; the workbooks from other writers mostly Sheet1.
    auto sheet = readSheetFromStream(stream->bytes, QStringLiteral("Лист1"), QStringLiteral("fuzz"));
    if (!sheet && sheet.error().code == ErrorCode::SheetMissing)
        sheet = readSheetFromStream(stream->bytes, QStringLiteral("Sheet1"), QStringLiteral("fuzz"));
    if (!sheet)
        return 0;

    for (qsizetype record = 0; record < sheet->recordCount(); ++record)
        for (qsizetype column = 0; column < sheet->columnCount(); ++column)
            if (sheet->text(record, column).size() > 1'000'000)
                std::abort(); // no cell text is that long: something read past its record
    if (sheet->recordCount() == 0)
        return 0;

    // One cell, picked and given a kind of value by the input's size, rewritten.
    auto globals = biff::readWorkbookGlobals(stream->bytes, QStringLiteral("fuzz"));
    if (!globals)
        std::abort(); // it was read a moment ago
    size_t index = 0;
    while (index < globals->sheets.size() && globals->sheets[index].name.compare(sheet->sheetName, Qt::CaseInsensitive) != 0)
        ++index;
    biff::CellWrite write;
    write.row = sheet->sheetRow(static_cast<qsizetype>(size) % sheet->recordCount());
    write.column = sheet->firstColumn + static_cast<int>(size % static_cast<size_t>(sheet->columnCount()));
    write.kind = static_cast<biff::CellWrite::Kind>(size % 3);
    write.number = 1.5;
    write.text = QStringLiteral("Правка");
    const auto rewritten = biff::rewriteCells(stream->bytes, std::move(*globals), index, {write}, QStringLiteral("fuzz.xls"));
    if (!rewritten && rewritten.error().code == ErrorCode::WriteCheckFailed)
        std::abort(); // the writer wrote what it did not mean to
    return 0;
}
