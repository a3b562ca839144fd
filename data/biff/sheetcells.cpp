#include "sheetcells.h"
#include "recordstream.h"
#include "../bytereader.h"

#include <bit>

namespace orbelant::biff {

double decodeRk(quint32 rk)
{
    double value;
    if (rk & 0x02)
        value = static_cast<double>(static_cast<qint32>(rk) >> 2);
    else
        value = std::bit_cast<double>(static_cast<quint64>(rk & 0xFFFFFFFCu) << 32);
    return (rk & 0x01) ? value / 100.0 : value;
}

namespace {

bool isWorksheetBof(QByteArrayView stream, qint64 position)
{
    RecordStream records(stream, position);
    const auto bof = records.next();
    if (!bof || bof->id != Id::Bof)
        return false;
    ByteReader data(bof->data);
    data.skip(2);
    return data.u16() == BofWorksheet && data.ok();
}

std::unexpected<Error> damaged(const Record &record, const QString &what)
{
    return fail(ErrorCode::Damaged, describeRecord(record.id, record.position) + QLatin1Char(' ') + what, record.position);
}

// Walks one worksheet's cell records in order and finds the cells that hold a value.
// Values are checked here but not decoded: decodeCell() does that when one is needed.
class CellScanner {
public:
    CellScanner(const WorkbookGlobals &globals, const CellVisitor &visit) : m_globals(globals), m_visit(visit) {}

    Result<void> scan(const Record &record)
    {
        if (record.id == Id::String) {
            if (m_formulaPending) {
                const auto length = unicodeStringLength(record.data, 0);
                if (!length)
                    return damaged(record, QStringLiteral("с неверной строкой результата формулы"));
                m_formulaPending = false;
                report(m_formulaRow, m_formulaColumn, *length > 0, record.position);
            }
            return {};
        }
        if (!isCellRecord(record.id))
            return {};
        m_formulaPending = false; // a string result without its STRING record shows as empty

        ByteReader data(record.data);
        const int row = data.u16();
        const int column = data.u16();
        if (!data.ok())
            return damaged(record, QStringLiteral("слишком короткая"));

        switch (record.id) {
        case Id::LabelSst: {
            data.skip(2);
            const quint32 index = data.u32();
            if (!data.ok())
                return damaged(record, QStringLiteral("слишком короткая"));
            if (index >= static_cast<quint32>(m_globals.strings.size()))
                return damaged(record, QStringLiteral("ссылается на строку %1, которой нет в таблице строк").arg(index));
            report(row, column, !m_globals.strings.isEmptyText(index), record.position);
            break;
        }
        case Id::Label:
        case Id::RString: {
            const auto length = unicodeStringLength(record.data, 6);
            if (!length)
                return damaged(record, QStringLiteral("с неверной строкой"));
            report(row, column, *length > 0, record.position);
            break;
        }
        case Id::Number:
        case Id::Rk:
        case Id::BoolErr:
            data.skip(record.id == Id::Number ? 10 : record.id == Id::Rk ? 6 : 4);
            if (!data.ok())
                return damaged(record, QStringLiteral("слишком короткая"));
            report(row, column, true, record.position);
            break;
        case Id::MulRk: {
            // The count follows from the length; the stored last column is only a cross-check.
            const qsizetype count = (record.data.size() - 6) / 6;
            if (count < 1)
                return damaged(record, QStringLiteral("слишком короткая"));
            for (qsizetype i = 0; i < count; ++i)
                report(row, column + static_cast<int>(i), true, record.position);
            break;
        }
        case Id::Formula: {
            data.skip(2);
            const QByteArrayView result = data.bytes(8);
            if (!data.ok())
                return damaged(record, QStringLiteral("слишком короткая"));
            if (static_cast<quint8>(result[6]) == 0xFF && static_cast<quint8>(result[7]) == 0xFF) {
                const quint8 type = static_cast<quint8>(result[0]);
                if (type == 0) { // the text follows in a STRING record
                    m_formulaPending = true;
                    m_formulaRow = row;
                    m_formulaColumn = column;
                } else if (type == 1 || type == 2) { // a boolean or an error
                    report(row, column, true, record.position);
                } // type 3: an empty string
            } else {
                report(row, column, true, record.position);
            }
            break;
        }
        default: // BLANK, MULBLANK: no value
            break;
        }
        return m_fault ? Result<void>(std::unexpected(*m_fault)) : Result<void>();
    }

private:
    void report(int row, int column, bool hasValue, qint64 position)
    {
        if (row >= MaxRows || column >= MaxColumns) {
            if (!m_fault)
                m_fault = Error::make(ErrorCode::Damaged, QStringLiteral("ячейка за пределами листа (строка %1, столбец %2)").arg(row + 1).arg(column + 1));
            return;
        }
        if (hasValue)
            m_visit(row, column, position);
    }

    const WorkbookGlobals &m_globals;
    const CellVisitor &m_visit;
    bool m_formulaPending = false;
    int m_formulaRow = 0;
    int m_formulaColumn = 0;
    std::optional<Error> m_fault;
};

} // namespace

Result<qint64> locateWorksheet(QByteArrayView stream, const WorkbookGlobals &globals, size_t sheetIndex)
{
    const SheetEntry &entry = globals.sheets.at(sheetIndex);
    if (entry.type != 0)
        return fail(ErrorCode::NotWorksheet, entry.name);
    if (entry.bofPosition < stream.size() && isWorksheetBof(stream, entry.bofPosition))
        return entry.bofPosition;

    // The stored position is wrong: take the sheet's substream by order.
    RecordStream records(stream, globals.end);
    size_t substream = 0;
    int depth = 0;
    while (const auto record = records.next()) {
        if (record->id == Id::Bof) {
            if (depth == 0) {
                if (substream == sheetIndex)
                    return isWorksheetBof(stream, record->position)
                               ? Result<qint64>(record->position)
                               : Result<qint64>(fail(ErrorCode::NotWorksheet, entry.name));
                ++substream;
            }
            ++depth;
        } else if (record->id == Id::Eof && depth > 0) {
            --depth;
        }
    }
    if (records.error())
        return std::unexpected(*records.error());
    return fail(ErrorCode::Damaged, QStringLiteral("не найдено начало листа «%1»").arg(entry.name));
}

Result<void> forEachCell(QByteArrayView stream, qint64 bofPosition, const WorkbookGlobals &globals,
                         const CellVisitor &visit)
{
    RecordStream records(stream, bofPosition);
    records.next(); // the sheet's BOF, checked by locateWorksheet
    CellScanner scanner(globals, visit);
    int nested = 0; // embedded chart substreams
    while (const auto record = records.next()) {
        if (record->id == Id::Bof) {
            ++nested;
        } else if (record->id == Id::Eof) {
            if (nested == 0)
                return {};
            --nested;
        } else if (nested == 0) {
            if (auto scanned = scanner.scan(*record); !scanned)
                return scanned;
        }
    }
    if (records.error())
        return std::unexpected(*records.error());
    return {}; // the stream ended without the sheet's EOF: take what was there
}

Cell decodeCell(QByteArrayView stream, const WorkbookGlobals &globals, qint64 position, int column)
{
    RecordStream records(stream, position);
    const auto record = records.next();
    if (!record)
        return {};
    ByteReader data(record->data);
    if (record->id == Id::String)
        return Cell::makeText(readUnicodeString(record->data, 0).value_or(QString()));
    data.skip(2); // the row
    const int first = data.u16();
    switch (record->id) {
    case Id::LabelSst: {
        data.skip(2);
        const quint32 index = data.u32();
        return index < static_cast<quint32>(globals.strings.size()) ? Cell::makeText(globals.strings.text(index)) : Cell();
    }
    case Id::Label:
    case Id::RString:
        return Cell::makeText(readUnicodeString(record->data, 6).value_or(QString()));
    case Id::Number: {
        const quint16 xf = data.u16();
        return Cell::makeNumber(data.f64(), globals.isDateXf(xf));
    }
    case Id::Rk:
    case Id::MulRk: {
        data.skip(record->id == Id::MulRk ? 6 * (column - first) : 0);
        const quint16 xf = data.u16();
        const quint32 rk = data.u32();
        return data.ok() ? Cell::makeNumber(decodeRk(rk), globals.isDateXf(xf)) : Cell();
    }
    case Id::BoolErr: {
        data.skip(2);
        const quint8 value = data.u8();
        return data.u8() ? Cell::makeError(value) : Cell::makeBoolean(value != 0);
    }
    case Id::Formula: {
        const quint16 xf = data.u16();
        const QByteArrayView result = data.bytes(8);
        if (!data.ok())
            return {};
        if (static_cast<quint8>(result[6]) != 0xFF || static_cast<quint8>(result[7]) != 0xFF)
            return Cell::makeNumber(ByteReader(result).f64(), globals.isDateXf(xf));
        const quint8 type = static_cast<quint8>(result[0]);
        const quint8 payload = static_cast<quint8>(result[2]);
        return type == 1 ? Cell::makeBoolean(payload != 0) : type == 2 ? Cell::makeError(payload) : Cell();
    }
    default:
        return {};
    }
}

} // namespace orbelant::biff
