#pragma once
// Fakes of the platform services and of the workbook engine for window tests: they record
// what the windows asked of them instead of opening boxes, printing or starting programs.
// Text files are the real ones: a test that saves works in a folder of its own.

#include "filter/criterion.h"
#include "numbertext.h"
#include "realplatform.h"
#include "sheetaccess.h"

#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

namespace testsupport {

using namespace orbelant;

struct Box {
    QString text;
    MessageBoxService::Icon icon;
    QString caption;
    bool question;
};

class FakeMessageBox final : public MessageBoxService {
public:
    void show(const QString &text, Icon icon, const QString &caption) override { record({text, icon, caption, false}); }
    bool ask(const QString &text, const QString &caption) override
    {
        record({text, Icon::None, caption, true});
        return answer;
    }
    QStringList texts() const
    {
        QStringList all;
        for (const Box &box : boxes)
            all.append(box.text);
        return all;
    }
    std::vector<Box> boxes;
    bool answer = false;          // the user's answer to a question
    std::function<void()> whileOpen; // runs while each box is up

private:
    void record(const Box &box)
    {
        boxes.push_back(box);
        if (whileOpen)
            whileOpen();
    }
};

class FakePrinter final : public WindowPrinter {
public:
    ServiceResult print(QWidget &clientArea) override
    {
        printed.append(clientArea.objectName());
        return refusal ? ServiceResult(std::unexpected(*refusal)) : ServiceResult();
    }
    QStringList printed;
    std::optional<QString> refusal;
};

class FakeFileTest final : public FileTest {
public:
    QString existingFileName(const QString &path) const override { return existing.contains(path) ? path : QString(); }
    QStringList existing;
};

class FakeProcessStarter final : public ProcessStarter {
public:
    ServiceResult start(const QString &path) override
    {
        started.append(path);
        return refuse ? ServiceResult(std::unexpected(QStringLiteral("не запускается"))) : ServiceResult();
    }
    QStringList started;
    bool refuse = false;
};

struct FakePlatform {
    FakeMessageBox messages;
    FakePrinter printer;
    Windows1251CodePage codePage;
    AppendingTextFile textFile{codePage};
    FakeFileTest files;
    FakeProcessStarter processes;

    PlatformServices services() { return {messages, printer, textFile, codePage, files, processes}; }
};

// The columns of the time scale, in the workbook's order.
inline QStringList timeScaleColumns()
{
    return {"Возраст", "Эонотема", "Эратема", "Система", "Отдел", "Ярус", "Органический мир"};
}

// A sheet from texts: a text that reads as a number becomes a number cell.
inline SheetTable makeTable(const QList<QStringList> &rows, const QStringList &columns = timeScaleColumns())
{
    std::vector<Cell> cells;
    for (const QStringList &row : rows) {
        for (qsizetype column = 0; column < columns.size(); ++column) {
            const std::optional<double> number = parseNumberText(row.value(column));
            cells.push_back(number ? Cell::makeNumber(*number) : Cell::makeText(row.value(column)));
        }
    }
    return SheetTable::fromCells(columns, std::move(cells));
}

// A workbook in memory: reads give `sheet`, stores write text cells into it, searches run
// the real criterion engine.
class FakeSheetAccess final : public SheetAccess {
public:
    struct Store {
        qsizetype record;
        std::vector<CellEdit> edits;
    };

    Result<SheetTable> read(const QString &path, const QString &sheetName) override
    {
        reads.append(path + QLatin1Char('|') + sheetName);
        if (!sheet)
            return std::unexpected(readError);
        return *sheet;
    }
    Result<std::vector<Cell>> store(const QString &, const SheetTable &, qsizetype record,
                                    const std::vector<CellEdit> &edits) override
    {
        stores.push_back({record, edits});
        if (storeError)
            return std::unexpected(*storeError);
        for (const CellEdit &edit : edits)
            sheet->setCell(record, edit.column, Cell::makeText(edit.text));
        std::vector<Cell> row;
        for (qsizetype column = 0; column < sheet->columnCount(); ++column)
            row.push_back(sheet->cell(record, column));
        return row;
    }
    Result<std::optional<qsizetype>> findFirst(const SheetTable &table, const QString &criterion,
                                               qsizetype from) override
    {
        return orbelant::findFirst(table, criterion, from);
    }
    std::unique_ptr<WorkbookLockFile> markOpen(const QString &) override
    {
        ++marks;
        return nullptr;
    }

    std::optional<SheetTable> sheet; // none: the workbook cannot be opened
    Error readError = Error::make(ErrorCode::FileMissing, QStringLiteral("зендра.xls"));
    std::optional<Error> storeError; // set: every store is refused with it
    std::vector<Store> stores;
    QStringList reads; // "path|sheet" of every read
    int marks = 0;     // workbooks marked open for office programs
};

} // namespace testsupport
