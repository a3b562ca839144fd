#pragma once
// Fakes of the platform services and of the table-access engine, for window tests. The
// message box records what it was asked to show instead of opening a modal box.

#include "numbertext.h"
#include "services.h"
#include "sheetaccess.h"
#include "windows1251.h"

#include <QImage>
#include <QRegularExpression>
#include <QWidget>
#include <QStringList>
#include <optional>
#include <vector>

namespace testsupport {

using namespace orbelant;

class FakeMessageBox final : public MessageBoxService {
public:
    void show(const QString &text, Icon, const QString &) override { shown.append(text); }
    bool ask(const QString &text, const QString &) override
    {
        asked.append(text);
        return answer;
    }
    QStringList shown;
    QStringList asked;
    bool answer = false; // what the user answers to a question
};

// Keeps the image of every page it is given; a set refusal refuses every job.
class FakePrinter final : public WindowPrinter {
public:
    ServiceResult print(QWidget &clientArea) override
    {
        if (refusal)
            return std::unexpected(*refusal);
        printedWidgets.append(clientArea.objectName());
        pages.append(clientArea.grab().toImage());
        return {};
    }
    QList<QImage> pages;
    QStringList printedWidgets;
    std::optional<QString> refusal;
};

class FakeTextFile final : public TextFileService {
public:
    ServiceResult appendLine(const QString &path, const QStringList &texts) override
    {
        lines.append(path + QLatin1Char('|') + texts.join(QLatin1Char('|')));
        return {};
    }
    QStringList lines;
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
        return {};
    }
    QStringList started;
};

// Records which windows a window asked the shell to show.
class FakeWindowRequests final : public WindowRequests {
public:
    void showForm2() override { shown.append(QStringLiteral("Form2")); }
    void showFrmAbout() override { shown.append(QStringLiteral("frmAbout")); }
    QStringList shown;
};

struct FakePlatform {
    FakeMessageBox messages;
    FakePrinter printer;
    FakeTextFile textFile;
    Windows1251CodePage codePage;
    FakeFileTest files;
    FakeProcessStarter processes;

    PlatformServices services() { return {messages, printer, textFile, codePage, files, processes}; }
};

// A sheet from texts: a text that reads as a number becomes a number cell, an empty
// text an empty cell.
inline SheetTable makeTable(const QStringList &columns, const QList<QStringList> &rows)
{
    std::vector<Cell> cells;
    for (const QStringList &row : rows) {
        for (qsizetype column = 0; column < columns.size(); ++column) {
            const QString text = row.value(column);
            const std::optional<double> number = parseNumberText(text);
            cells.push_back(number ? Cell::makeNumber(*number) : Cell::makeText(text));
        }
    }
    SheetTable table = SheetTable::fromCells(columns, std::move(cells));
    table.sheetName = QStringLiteral("Лист1");
    return table;
}

// The columns of the time scale, in the workbook's order.
inline QStringList timeScaleColumns()
{
    return {QStringLiteral("Возраст"), QStringLiteral("Эонотема"), QStringLiteral("Эратема"),
            QStringLiteral("Система"), QStringLiteral("Отдел"), QStringLiteral("Ярус"),
            QStringLiteral("Органический мир")};
}

// An in-memory workbook: reads give `sheet`, stores write into it.
class FakeSheetAccess final : public SheetAccess {
public:
    struct Store {
        QString path;
        qsizetype record;
        std::vector<CellEdit> edits;
    };

    Result<SheetTable> read(const QString &path, const QString &sheetName) override
    {
        ++reads;
        lastPath = path;
        lastSheet = sheetName;
        if (!sheet)
            return std::unexpected(readError);
        return *sheet;
    }

    Result<std::vector<Cell>> store(const QString &path, const SheetTable &loaded, qsizetype record,
                                    const std::vector<CellEdit> &edits) override
    {
        stores.push_back(Store{path, record, edits});
        if (storeError)
            return std::unexpected(*storeError);
        if (!sheet || record < 0 || record >= sheet->recordCount())
            return std::unexpected(Error::make(ErrorCode::NoSuchRecord, QString::number(record)));
        std::vector<Cell> cells;
        for (const CellEdit &edit : edits) {
            const bool numberColumn = loaded.cell(record, edit.column).kind == Cell::Kind::Number;
            const std::optional<double> number = parseNumberText(edit.text);
            if (numberColumn && !number && !edit.text.isEmpty())
                return std::unexpected(Error::make(ErrorCode::NotANumber, QStringLiteral("«%1» не число.").arg(edit.text)));
            sheet->setCell(record, edit.column, numberColumn && number ? Cell::makeNumber(*number) : Cell::makeText(edit.text));
        }
        for (qsizetype column = 0; column < sheet->columnCount(); ++column)
            cells.push_back(sheet->cell(record, column));
        return cells;
    }

    // Understands "[Column] = value" only; anything else is a bad criterion.
    Result<std::optional<qsizetype>> findFirst(const SheetTable &table, const QString &criterion,
                                               qsizetype from) override
    {
        static const QRegularExpression form(QStringLiteral(R"(^\[(.+)\] = (.+)$)"));
        const QRegularExpressionMatch match = form.match(criterion);
        const qsizetype column = match.hasMatch() ? table.columnIndex(match.captured(1)) : -1;
        if (column < 0)
            return std::unexpected(Error::make(ErrorCode::BadCriterion, criterion));
        for (qsizetype record = from; record < table.recordCount(); ++record) {
            if (table.text(record, column) == match.captured(2))
                return std::optional<qsizetype>(record);
        }
        return std::optional<qsizetype>();
    }

    std::optional<SheetTable> sheet; // nullopt: the workbook cannot be opened
    Error readError = Error::make(ErrorCode::FileMissing, QStringLiteral("зендра.xls"));
    std::optional<Error> storeError; // set: every store is refused with it
    std::vector<Store> stores;
    int reads = 0;
    QString lastPath;
    QString lastSheet;
};

} // namespace testsupport
