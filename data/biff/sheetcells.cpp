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

// Decodes one worksheet's cell records in order.
class CellDecoder {
public:
    CellDecoder(const WorkbookGlobals &globals, const CellVisitor &visit) : m_globals(globals), m_visit(visit) {}

    Result<void> decode(const Record &record)
    {
        if (record.id == Id::String) {
            if (m_formulaPending) {
                const auto text = readUnicodeString(record.data, 0);
                if (!text)
                    return damaged(record, QStringLiteral("с неверной строкой результата формулы"));
                m_formulaPending = false;
                report(m_formulaRow, m_formulaColumn, Cell::makeText(*text));
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
            if (index >= static_cast<quint32>(m_globals.strings.strings.size()))
                return damaged(record, QStringLiteral("ссылается на строку %1, которой нет в таблице строк").arg(index));
            report(row, column, Cell::makeText(m_globals.strings.strings[static_cast<qsizetype>(index)]));
            break;
        }
        case Id::Label:
        case Id::RString: {
            const auto text = readUnicodeString(record.data, 6);
            if (!text)
                return damaged(record, QStringLiteral("с неверной строкой"));
            report(row, column, Cell::makeText(*text));
            break;
        }
        case Id::Number: {
            const quint16 xf = data.u16();
            const double value = data.f64();
            if (!data.ok())
                return damaged(record, QStringLiteral("слишком короткая"));
            report(row, column, Cell::makeNumber(value, m_globals.isDateXf(xf)));
            break;
        }
        case Id::Rk: {
            const quint16 xf = data.u16();
            const quint32 rk = data.u32();
            if (!data.ok())
                return damaged(record, QStringLiteral("слишком короткая"));
            report(row, column, Cell::makeNumber(decodeRk(rk), m_globals.isDateXf(xf)));
            break;
        }
        case Id::MulRk: {
            // The count follows from the length; the stored last column is only a cross-check.
            const qsizetype count = (record.data.size() - 6) / 6;
            if (count < 1)
                return damaged(record, QStringLiteral("слишком короткая"));
            for (qsizetype i = 0; i < count; ++i) {
                const quint16 xf = data.u16();
                const quint32 rk = data.u32();
                report(row, column + static_cast<int>(i), Cell::makeNumber(decodeRk(rk), m_globals.isDateXf(xf)));
            }
            if (!data.ok())
                return damaged(record, QStringLiteral("слишком короткая"));
            break;
        }
        case Id::BoolErr: {
            data.skip(2);
            const quint8 value = data.u8();
            const quint8 isError = data.u8();
            if (!data.ok())
                return damaged(record, QStringLiteral("слишком короткая"));
            report(row, column, isError ? Cell::makeError(value) : Cell::makeBoolean(value != 0));
            break;
        }
        case Id::Formula: {
            const quint16 xf = data.u16();
            const QByteArrayView result = data.bytes(8);
            if (!data.ok())
                return damaged(record, QStringLiteral("слишком короткая"));
            ByteReader value(result);
            if (static_cast<quint8>(result[6]) == 0xFF && static_cast<quint8>(result[7]) == 0xFF) {
                const quint8 type = static_cast<quint8>(result[0]);
                const quint8 payload = static_cast<quint8>(result[2]);
                if (type == 0) {
                    m_formulaPending = true;
                    m_formulaRow = row;
                    m_formulaColumn = column;
                } else if (type == 1) {
                    report(row, column, Cell::makeBoolean(payload != 0));
                } else if (type == 2) {
                    report(row, column, Cell::makeError(payload));
                } // type 3: an empty string
            } else {
                report(row, column, Cell::makeNumber(value.f64(), m_globals.isDateXf(xf)));
            }
            break;
        }
        default: // BLANK, MULBLANK: no value
            break;
        }
        return m_fault ? Result<void>(std::unexpected(*m_fault)) : Result<void>();
    }

private:
    void report(int row, int column, Cell &&cell)
    {
        if (row >= MaxRows || column >= MaxColumns) {
            if (!m_fault)
                m_fault = Error::make(ErrorCode::Damaged, QStringLiteral("ячейка за пределами листа (строка %1, столбец %2)").arg(row + 1).arg(column + 1));
            return;
        }
        if (!cell.isEmpty())
            m_visit(row, column, std::move(cell));
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
    CellDecoder decoder(globals, visit);
    int nested = 0; // embedded chart substreams
    while (const auto record = records.next()) {
        if (record->id == Id::Bof) {
            ++nested;
        } else if (record->id == Id::Eof) {
            if (nested == 0)
                return {};
            --nested;
        } else if (nested == 0) {
            if (auto decoded = decoder.decode(*record); !decoded)
                return decoded;
        }
    }
    if (records.error())
        return std::unexpected(*records.error());
    return {}; // the stream ended without the sheet's EOF: take what was there
}

} // namespace orbelant::biff
