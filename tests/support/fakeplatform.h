#pragma once
// Fakes of the platform services and of the workbook engine for window tests: they record
// what the windows asked of them instead of opening boxes or printing. Text files, the file
// test and the process starter are the real ones: a test that saves works in a folder of its own.
// typeText types into a widget as a keyboard would, Cyrillic included (QTest::keyClicks
// takes Latin-1 only).

#include "filter/criterion.h"
#include "numbertext.h"
#include "realplatform.h"
#include "sheetaccess.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPdfWriter>
#include <QWidget>
#include <functional>
#include <optional>

namespace testsupport {

using namespace orbelant;

inline void typeText(QWidget *widget, const QString &text)
{
    for (const QChar character : text) {
        for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent key(type, Qt::Key_unknown, Qt::NoModifier, QString(character));
            QCoreApplication::sendEvent(widget, &key);
        }
    }
}

struct Box {
    QString text;
    MessageBoxService::Icon icon;
    QString caption;
    bool question;
};

class FakeMessageBox final : public MessageBoxService {
public:
    void show(const QString &text, Icon icon, const QString &caption) override { record({text, icon, caption, false}); }
    bool ask(const QString &text, const QString &caption) override { return record({text, Icon::None, caption, true}); }
    std::vector<Box> boxes;
    QStringList texts;               // of the boxes, in order
    bool answer = false;             // the user's answer to a question
    std::function<void()> whileOpen; // runs while each box is up

private:
    bool record(const Box &box)
    {
        boxes.push_back(box);
        texts.append(box.text);
        if (whileOpen)
            whileOpen();
        return answer;
    }
};

class FakePrinter final : public WindowPrinter {
public:
    ServiceResult print(QWidget &clientArea) override { printed.append(clientArea.objectName()); return {}; }
    // The pages go into `pdf`, A4 as a printer's default.
    ServiceResult printPages(const QString &documentName, const QString &, const PageDrawing &draw) override
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        QPainter painter(&writer);
        draw(painter, writer);
        painter.end();
        printed.append(documentName);
        return {};
    }
    QStringList printed;
    QByteArray pdf;
};

struct FakePlatform {
    FakeMessageBox messages;
    FakePrinter printer;
    Windows1251CodePage codePage;
    AppendingTextFile textFile{codePage};
    LocalFileTest files;
    DetachedProcessStarter processes;

    PlatformServices services() { return {messages, printer, textFile, codePage, files, processes}; }
};

// A sheet from texts: a text that reads as a number becomes a number cell.
inline SheetTable makeTable(const QList<QStringList> &rows,
                            const QStringList &columns = {"Возраст", "Эонотема", "Эратема", "Система", "Отдел",
                                                          "Ярус", "Органический мир"})
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
    Result<SheetTable> read(const QString &, const QString &) override
    {
        ++reads;
        return sheet ? Result<SheetTable>(*sheet) : std::unexpected(readError);
    }
    Result<std::vector<Cell>> store(const QString &, const SheetTable &, qsizetype record,
                                    const std::vector<CellEdit> &edits) override
    {
        QString text = QString::number(record);
        for (const CellEdit &edit : edits)
            text += QStringLiteral("|%1:%2").arg(edit.column).arg(edit.text);
        stores.append(text);
        if (storeError)
            return std::unexpected(*storeError);
        std::vector<Cell> row;
        for (const CellEdit &edit : edits)
            sheet->setCell(record, edit.column, Cell::makeText(edit.text));
        for (qsizetype column = 0; column < sheet->columnCount(); ++column)
            row.push_back(sheet->cell(record, column));
        return row;
    }
    Result<std::optional<qsizetype>> findFirst(const SheetTable &table, const QString &criterion,
                                               qsizetype from) override
    {
        return orbelant::findFirst(table, criterion, from);
    }
    std::unique_ptr<WorkbookLockFile> markOpen(const QString &) override { ++marks; return nullptr; }

    std::optional<SheetTable> sheet; // none: the workbook cannot be opened
    Error readError = Error::make(ErrorCode::FileMissing, QStringLiteral("зендра.xls"));
    std::optional<Error> storeError; // set: every store is refused with it
    QStringList stores;              // "record|column:text|…" of every store
    int reads = 0;                   // workbooks read
    int marks = 0;                   // workbooks marked open for office programs
};

} // namespace testsupport
