#!/usr/bin/python3
"""An independent look at workbooks for the engine tests: xlwt makes them, xlrd reads them,
and a checker of our own (it shares no code with the engine) checks every record of a
Workbook stream that holds a position or a count.

Run with Debian's /usr/bin/python3 (it has xlwt and xlrd).

  xls_oracle.py make                   writes workbooks with xlwt from JSON on stdin:
      {"OUT.xls": {"date1904": false, "blocks": false, "sheets": [{"name": "Лист1", "rows":
       [["Эра", 66.0, null, true, {"date": "1990-01-02"}, {"number": 2.5, "format": "0.00"},
       {"formula": "B1*2"}]],
       "styled": [3]}]}, ...}  ("blocks": rows in blocks with INDEX and DBCELL records, as
       Excel writes them, or a number: blocks of that many rows, each DBCELL and INDEX cut to
       what its record holds; "styled": rows with a ROW record of their own, without cells)
  xls_oracle.py report FILE...         prints JSON, by file: "xlrd" (strict, lenient, encrypted
      or refused), "tables" (every worksheet as `orbelant-xls dump` prints it), "entries"
      (the container's streams and storages with a hash of each), "problems" (what the
      checker finds wrong in the stream) and "counts" (LABELSST cells, SST totals)

Tables: the used range is the first to last row and column holding a value (empty texts
are no value); its first row names the columns (blank: F + position); numbers in the
fewest digits with a decimal comma, dates dd.mm.yyyy [hh:mm:ss], ИСТИНА/ЛОЖЬ, errors in
Russian; tab, line breaks and backslash escaped.
"""

import datetime
import hashlib
import itertools
import json
import os
import struct
import sys

import xlrd
import xlrd.book
import xlrd.compdoc
import xlwt
import xlwt.CompoundDoc

QUIET = open(os.devnull, "w")

# ---- Making workbooks ------------------------------------------------------------------


def make(description, out_path):
    book = xlwt.Workbook(encoding="utf-8")
    book.dates_1904 = bool(description.get("date1904"))
    for sheet_description in description["sheets"]:
        sheet = book.add_sheet(sheet_description["name"], cell_overwrite_ok=True)
        for r, row in enumerate(sheet_description.get("rows", [])):
            for c, cell in enumerate(row):
                if isinstance(cell, dict) and "formula" in cell:
                    sheet.write(r, c, xlwt.Formula(cell["formula"]))
                elif isinstance(cell, dict) and "blank" in cell:
                    sheet.write(r, c, None, xlwt.easyxf(num_format_str=cell["blank"]))
                elif isinstance(cell, dict):
                    value = datetime.datetime.strptime(cell["date"], "%Y-%m-%d") if "date" in cell else float(cell["number"])
                    number_format = cell.get("format", "DD.MM.YYYY" if "date" in cell else "General")
                    sheet.write(r, c, value, xlwt.easyxf(num_format_str=number_format))
                elif cell is not None:
                    sheet.write(r, c, cell)
        for r in sheet_description.get("styled", []):
            sheet.row(r).height, sheet.row(r).height_mismatch = 500, True
    if description.get("blocks"):
        rows_per_block = ROWS_PER_BLOCK if description["blocks"] is True else description["blocks"]
        xlwt.CompoundDoc.XlsDoc().save(out_path, in_blocks(book.get_biff_data(), rows_per_block))
    else:
        book.save(out_path)


def record(rid, data):
    return struct.pack("<HH", rid, len(data)) + data


def in_blocks(stream, rows_per_block):
    """The stream as Excel lays out a workbook: an EXTSST after the shared strings, and in
    each worksheet an INDEX after the BOF, then blocks of the ROW records of up to 32 rows
    (row // 32 alike), their cells and a DBCELL (xlwt writes neither INDEX nor DBCELL).
    BOUNDSHEET positions are filled in place."""
    recs = [(rid, data) for _, rid, data in records(stream)]
    ends = [i for i, (rid, _) in enumerate(recs) if rid == EOF]
    book, laid = with_extsst(recs[:ends[0] + 1]), []
    position = sum(4 + len(data) for _, data in book)
    for a, b in zip(ends, ends[1:]):  # a sheet's length does not depend on where it starts
        laid.append((position, lay_out(recs[a + 1:b + 1], position, rows_per_block)))
        position += len(laid[-1][1])
    starts = iter(start for start, _ in laid)
    return b"".join(record(rid, struct.pack("<I", next(starts)) + data[4:] if rid == BOUNDSHEET else data) for rid, data in book) + \
        b"".join(sheet for _, sheet in laid)


def with_extsst(book):
    """The globals with an EXTSST after the shared strings, as Excel writes it (xlwt does not):
    a bucket for every max(n // 128 + 1, 8) strings, each where its first string starts."""
    positions = list(itertools.accumulate([0] + [4 + len(data) for _, data in book]))
    sst = next(i for i, (rid, _) in enumerate(book) if rid == SST)
    end = sst + 1
    while book[end][0] == CONTINUE:
        end += 1
    starts = string_starts([(positions[i], book[i][1]) for i in range(sst, end)])
    per_bucket = max(len(starts) // 128 + 1, 8)
    buckets = [struct.pack("<IHH", at, at - max(p for p in positions[sst:end] if p < at), 0) for at in starts[::per_bucket]]
    return book[:end] + [(EXTSST, struct.pack("<H", per_bucket) + b"".join(buckets))] + book[end:]


def lay_out(sheet, start, rows_per_block):
    """The sheet's records in blocks, for a sheet that starts at stream position `start`."""
    bof, eof = sheet[0], sheet[-1]
    rows, cells, prefix, suffix = [], [], [], []
    for rid, data in sheet[1:-1]:
        if (rid == ROW or rid in CELLS or (rid in ATTACHED and cells)) and not suffix:
            (rows if rid == ROW else cells).append((rid, data))
        else:
            (suffix if rows or cells else prefix).append((rid, data))
    row_of = lambda data: struct.unpack_from("<H", data, 0)[0]  # noqa: E731
    with_cells = {row_of(data) for rid, data in cells if rid in CELLS}
    groups, owner = {}, []
    for _, data in rows:
        if row_of(data) not in with_cells:  # Excel gives a row without cells no columns
            data = data[:2] + bytes(4) + data[6:]
        groups.setdefault(row_of(data) // rows_per_block, []).append(data)
    for rid, data in cells:  # the row of each cell; a record attached to a cell goes with it
        owner.append(row_of(data) if rid in CELLS else owner[-1])
    listed = min(len(groups), (8224 - 16) // 4)  # DBCELL positions an INDEX holds
    position = start + 4 + len(bof[1]) + 20 + 4 * listed
    head, body, dbcells, defcolwidth = [], [], [], 0
    for rid, data in prefix:
        defcolwidth = position if rid == DEFCOLWIDTH else defcolwidth
        head.append(record(rid, data))
        position += 4 + len(data)
    for block in sorted(groups):
        first_row = position
        chunk = [record(ROW, data) for data in groups[block]]
        position += sum(map(len, chunk))
        offsets, previous = [], first_row + len(chunk[0])
        for number in map(row_of, groups[block]):
            here = position
            for k in (k for k, row in enumerate(owner) if row == number):
                chunk.append(record(*cells[k]))
                position += 4 + len(cells[k][1])
            offsets.append(here - previous)
            previous = here
        dbcells.append(position)
        offsets = [min(offset, 0xFFFF) for offset in offsets[:(8224 - 4) // 2]]
        dbcell = struct.pack("<I%dH" % len(offsets), position - first_row, *offsets)
        body += chunk + [record(DBCELL, dbcell)]
        position += 4 + len(dbcell)
    used = [row_of(data) for _, data in rows]
    first, end = (min(used), max(used) + 1) if used else (0, 0)
    index = struct.pack("<4I%dI" % listed, 0, first, end, defcolwidth, *dbcells[:listed])
    return b"".join([record(*bof), record(INDEX, index)] + head + body + [record(*r) for r in suffix] + [record(*eof)])


# ---- Tables as the engine shows them -----------------------------------------------------

ERRORS = {0x00: "#ПУСТО!", 0x07: "#ДЕЛ/0!", 0x0F: "#ЗНАЧ!", 0x17: "#ССЫЛКА!", 0x1D: "#ИМЯ?", 0x24: "#ЧИСЛО!",
          0x2A: "#Н/Д"}


def number_text(value):
    if value == 0:
        return "0"
    text = repr(float(value))
    if "e" in text:
        mantissa, exponent = text.split("e")
        mantissa = mantissa[:-2] if mantissa.endswith(".0") else mantissa
        exponent = int(exponent)
        return "%sE%s%02d" % (mantissa.replace(".", ","), "-" if exponent < 0 else "+", abs(exponent))
    return (text[:-2] if text.endswith(".0") else text).replace(".", ",")


def date_text(serial, datemode):
    if serial < 0 or serial >= 2958466:
        return number_text(serial)
    day, second = divmod(round(serial * 86400), 86400)
    time = "%02d:%02d:%02d" % (second // 3600, second // 60 % 60, second % 60)
    if day == 0 and datemode == 0:
        return time
    if datemode == 1:
        date = datetime.date(1904, 1, 1) + datetime.timedelta(days=day)
    elif day == 60:
        return "29.02.1900" + ("" if second == 0 else " " + time)
    else:
        date = datetime.date(1899, 12, 31 if day < 60 else 30) + datetime.timedelta(days=day)
    text = date.strftime("%d.%m.") + "%04d" % date.year
    return text if second == 0 else text + " " + time


def cell_text(cell, datemode):
    return {xlrd.XL_CELL_NUMBER: number_text, xlrd.XL_CELL_DATE: lambda v: date_text(v, datemode), xlrd.XL_CELL_TEXT: str,
            xlrd.XL_CELL_BOOLEAN: lambda v: "ИСТИНА" if v else "ЛОЖЬ", xlrd.XL_CELL_ERROR: lambda v: ERRORS.get(v, "#Н/Д"),
            }.get(cell.ctype, lambda v: "")(cell.value)


def escaped(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def used_range(sheet, datemode):
    """The cells' texts, the used range's top and bottom rows and its columns."""
    cells = {(r, c): text for r in range(sheet.nrows) for c, cell in enumerate(sheet.row(r)) if (text := cell_text(cell, datemode))}
    if not cells:
        return cells, 0, -1, range(0)
    columns = range(min(c for _, c in cells), max(c for _, c in cells) + 1)
    return cells, min(r for r, _ in cells), max(r for r, _ in cells), columns


def table_text(sheet, datemode):
    cells, top, bottom, columns = used_range(sheet, datemode)
    if not cells:
        return "\n"
    lines = ["\t".join(escaped(cells.get((top, c), "").strip()) or "F%d" % (n + 1) for n, c in enumerate(columns))]
    lines += ["\t".join(escaped(cells.get((r, c), "")) for c in columns) for r in range(top + 1, bottom + 1)]
    return "\n".join(lines) + "\n"


def open_book(data):
    """xlrd as it is, else without its check for sectors claimed twice and without defined
    names (some writers' small-block chain runs on into the Workbook stream; xlrd 1.2
    stumbles over some NAME formulas)."""
    try:
        return "strict", xlrd.open_workbook(file_contents=data, logfile=QUIET)
    except Exception as error:
        if "encrypted" in str(error).lower():
            return "encrypted", None
    locate = xlrd.compdoc.CompDoc._locate_stream
    epilogue = xlrd.book.Book.names_epilogue

    def locate_fresh(self, *args, **kwargs):
        self.seen = [0] * len(self.seen)
        return locate(self, *args, **kwargs)
    xlrd.compdoc.CompDoc._locate_stream = locate_fresh
    xlrd.book.Book.names_epilogue = lambda self: None
    try:
        return "lenient", xlrd.open_workbook(file_contents=data, logfile=QUIET)
    except Exception:
        return "refused", None
    finally:
        xlrd.compdoc.CompDoc._locate_stream = locate
        xlrd.book.Book.names_epilogue = epilogue


# ---- The container -----------------------------------------------------------------------

def entries(data):
    """The root and every storage and stream below it, depth first, with the class id of each
    storage and a hash of each stream's content; and the root's Workbook (else Book) stream."""
    doc = xlrd.compdoc.CompDoc(data, logfile=QUIET)
    directory = doc._get_stream(data, 512, doc.SAT, doc.sec_size, struct.unpack_from("<i", data, 48)[0], name="directory")
    found, workbook = [{"path": "", "clsid": directory[80:96].hex(), "sha1": ""}], {}

    def visit(did, prefix):
        node = doc.dirlist[did]
        path = prefix + node.name
        entry = {"path": path, "sha1": ""}
        found.append(entry)
        if node.etype == 1:  # a stream's class id means nothing (it should be zero)
            entry["clsid"] = directory[did * 128 + 80:did * 128 + 96].hex()
            for child in node.children:
                visit(child, path + "/")
        elif node.etype == 2:
            content = doc.get_named_stream(path) or b""
            entry["sha1"] = hashlib.sha1(content).hexdigest()
            if not prefix:
                workbook[path.lower()] = content

    for child in doc.dirlist[0].children:
        visit(child, "")
    return found, workbook.get("workbook", workbook.get("book"))


# ---- The Workbook stream's bookkeeping ---------------------------------------------------

BOF, EOF, BOUNDSHEET, SST, CONTINUE, EXTSST = 0x0809, 0x000A, 0x0085, 0x00FC, 0x003C, 0x00FF
INDEX, DIMENSIONS, ROW, DBCELL, DEFCOLWIDTH, LABELSST = 0x020B, 0x0200, 0x0208, 0x00D7, 0x0055, 0x00FD
CELLS = {0x00FD, 0x0204, 0x00D6, 0x0203, 0x027E, 0x00BD, 0x0205, 0x0201, 0x00BE, 0x0006}
ATTACHED = {0x0207, 0x04BC, 0x0221, 0x0236}  # STRING, SHRFMLA, ARRAY, TABLE follow their FORMULA
MULTIPLE = {0x00BD: 6, 0x00BE: 2}
ROWS_PER_BLOCK = 32


def records(stream):
    pos, found = 0, []
    while pos + 4 <= len(stream) and stream[pos:pos + 4] != bytes(4):  # zeros: padding after the last EOF
        rid, length = struct.unpack_from("<HH", stream, pos)
        found.append((pos, rid, stream[pos + 4:pos + 4 + length]))
        pos += 4 + length
    return found


def span(rid, data):
    row, first = struct.unpack_from("<HH", data, 0)
    last = first + (len(data) - 6) // MULTIPLE[rid] - 1 if rid in MULTIPLE else first
    return row, first, last


def string_starts(chain):
    """The stream position where each shared string's header starts."""
    data = [d for _, d in chain]
    seg, off, starts = 0, 8, []

    def raw(n):
        nonlocal seg, off
        out = b""
        while len(out) < n:
            if off >= len(data[seg]):
                seg, off = seg + 1, 0
            take = min(n - len(out), len(data[seg]) - off)
            out, off = out + data[seg][off:off + take], off + take
        return out

    for _ in range(struct.unpack_from("<I", data[0], 4)[0]):
        if off >= len(data[seg]):
            seg, off = seg + 1, 0
        starts.append(chain[seg][0] + 4 + off)
        count, flags = struct.unpack("<HB", raw(3))
        runs = struct.unpack("<H", raw(2))[0] if flags & 8 else 0
        extra = struct.unpack("<I", raw(4))[0] if flags & 4 else 0
        high, left = flags & 1, count
        while left:
            if off >= len(data[seg]):
                seg, off = seg + 1, 1
                high = data[seg][0] & 1
            take = min(left, (len(data[seg]) - off) // (2 if high else 1))
            off, left = off + take * (2 if high else 1), left - take
        raw(4 * runs + extra)
    return starts


def check_strings(recs, globals_end, problems, counts):
    chain = []
    for i in range(globals_end):
        if recs[i][1] == SST:
            chain = [(recs[i][0], recs[i][2])]
            for pos, rid, data in recs[i + 1:]:
                if rid != CONTINUE:
                    break
                chain.append((pos, data))
    if not chain:
        return
    starts = string_starts(chain)
    total, unique = struct.unpack_from("<II", chain[0][1], 0)
    counts.update(sst_total=total, sst_unique=unique)
    if unique != len(starts):
        problems.append("SST says %d strings, holds %d" % (unique, len(starts)))
    for pos, rid, data in recs[:globals_end]:
        if rid != EXTSST:
            continue
        per_bucket = struct.unpack_from("<H", data, 0)[0]
        buckets = (len(data) - 2) // 8
        if per_bucket == 0 or (len(data) - 2) % 8 or buckets < (len(starts) + per_bucket - 1) // per_bucket:
            problems.append("EXTSST of %d bytes has %d buckets of %d for %d strings" % (len(data), buckets, per_bucket, len(starts)))
            continue
        for b in range(buckets):
            at, within = struct.unpack_from("<IH", data, 2 + 8 * b)
            k = b * per_bucket
            if k >= len(starts):
                break  # Excel leaves unused buckets as they were
            home = max(p for p, _ in chain if p < starts[k])
            if (at, within) != (starts[k], starts[k] - home):
                problems.append("EXTSST bucket %d does not point at string %d" % (b, k))


def check_sheet(sheet, by_pos, problems, name):
    """One worksheet's top-level records: cells in order, one record per cell, and inside their ROW, DIMENSIONS and
    INDEX over the used range, ROW records in blocks of at most 32, each block closed by a
    DBCELL that finds its first ROW and each row's first cell, INDEX naming every DBCELL.
    No message names a stream position, so that an edit elsewhere leaves them as they were."""
    def fault(text):
        problems.append("%s: %s" % (name, text))

    def compare(what, stored, actual):
        """A range (first, end) must be the cells' own; Excel's may be wider than the cells
        (formatted empty cells count for it), which is told apart."""
        if stored != actual:
            wider = stored[0] <= actual[0] and actual[1] <= stored[1]
            fault("%s wider than its cells" % what if wider else "%s %r does not hold %r" % (what, stored, actual))

    cells = [span(rid, data) for _, rid, data in sheet if rid in CELLS]
    row_order = [struct.unpack_from("<H", data, 0)[0] for _, rid, data in sheet if rid == ROW]
    rows = {row: struct.unpack_from("<HH", data, 2) for row, data in zip(row_order, (d for _, rid, d in sheet if rid == ROW))}
    for what, keys in (("cells", [(row, first) for row, first, _ in cells]), ("ROW records", row_order)):
        if keys != sorted(set(keys)):
            fault("%s out of order" % what)
    if any(a[0] == b[0] and b[1] <= a[2] for a, b in zip(cells, cells[1:])):
        fault("cells overlap")
    used_rows = {row for row, _, _ in cells}
    for row in sorted(used_rows):
        if rows and row not in rows:
            fault("row %d has cells but no ROW record" % row)
        elif row in rows:
            compare("ROW %d" % row, rows[row], (min(f for r, f, _ in cells if r == row), max(l for r, _, l in cells if r == row) + 1))
    if cells:
        row_range = (min(used_rows), max(used_rows) + 1)
        column_range = (min(f for _, f, _ in cells), max(l for _, _, l in cells) + 1)
        for _, rid, data in sheet:
            if rid == DIMENSIONS and len(data) >= 12:
                first_row, end_row, first_column, end_column = struct.unpack_from("<IIHH", data, 0)
                compare("DIMENSIONS rows", (first_row, end_row), row_range)
                compare("DIMENSIONS columns", (first_column, end_column), column_range)
            elif rid == INDEX and len(data) >= 16:
                compare("INDEX rows", struct.unpack_from("<II", data, 4), row_range)

    # Blocks: ROW records, then their rows' cells, then a DBCELL.
    dbcells = [pos for pos, rid, _ in sheet if rid == DBCELL]
    if dbcells:
        block_rows, block_start = [], None
        for pos, rid, data in sheet:
            if rid == ROW:
                if not block_rows:
                    block_start = pos
                block_rows.append(struct.unpack_from("<H", data, 0)[0])
            elif rid in CELLS and span(rid, data)[0] not in block_rows:
                fault("cell of row %d outside its row's block" % span(rid, data)[0])
            elif rid == DBCELL:
                if len(block_rows) > ROWS_PER_BLOCK:
                    fault("block of %d rows" % len(block_rows))
                if block_rows:
                    check_dbcell(pos, data, block_start, block_rows, used_rows, by_pos, fault)
                block_rows = []
        if block_rows:
            fault("rows from %d without a DBCELL" % block_rows[0])
    for _, rid, data in sheet:
        if rid != INDEX or len(data) < 16:
            continue
        defcolwidth = struct.unpack_from("<I", data, 12)[0]
        if defcolwidth and by_pos.get(defcolwidth, (None,))[0] != DEFCOLWIDTH:
            fault("INDEX does not point at DEFCOLWIDTH")
        targets = list(struct.unpack_from("<%dI" % ((len(data) - 16) // 4), data, 16))
        if targets != dbcells:
            fault("INDEX names %d places, %d of them DBCELLs, the sheet has %d" %
                  (len(targets), len(set(targets) & set(dbcells)), len(dbcells)))


def check_dbcell(pos, data, block_start, block_rows, rows_with_cells, by_pos, fault):
    """DBCELL: how far back its block's first ROW is, then for each row how far on its
    first cell is: from the second ROW record, then from the previous row's first cell."""
    first_row = block_rows[0]
    if pos - struct.unpack_from("<I", data, 0)[0] != block_start:
        fault("DBCELL of the block from row %d does not point back at its first ROW" % first_row)
        return
    offsets = struct.unpack_from("<%dH" % ((len(data) - 4) // 2), data, 4)
    if len(offsets) != len(block_rows):
        fault("DBCELL of the block from row %d has %d offsets for %d rows" % (first_row, len(offsets), len(block_rows)))
        return
    cursor = block_start + 4 + len(by_pos[block_start][1])
    for offset, row in zip(offsets, block_rows):
        cursor += offset  # a row without cells points where they would start
        target = by_pos.get(cursor)
        if row in rows_with_cells and not (target and target[0] in CELLS and span(*target)[0] == row):
            fault("DBCELL of the block from row %d does not reach row %d's first cell" % (first_row, row))
            return


def check(stream):
    problems, counts = [], {"labelsst": 0, "workbook_bytes": len(stream)}
    recs = records(stream)
    if any(rid == 0x002F for _, rid, _ in recs):
        return ["encrypted"], counts
    if not recs or recs[0][1] != BOF or struct.unpack_from("<H", recs[0][2], 0)[0] != 0x0600:
        return ["not BIFF8"], counts
    by_pos = {pos: (rid, data) for pos, rid, data in recs}
    for pos, rid, data in recs:
        if len(data) > 8224:
            problems.append("record 0x%04X longer than 8224 bytes" % rid)
    globals_end = next(i for i, (_, rid, _) in enumerate(recs) if rid == EOF)
    check_strings(recs, globals_end, problems, counts)

    substreams, depth = [], 0  # (position, BOF data, top-level records) of each sheet
    for rec in recs[globals_end + 1:]:
        if depth == 0 and rec[1] != BOF:
            break
        if depth == 0:
            substreams.append((rec[0], rec[2], []))
        depth += (rec[1] == BOF) - (rec[1] == EOF)
        if depth == 1 and rec[1] not in (BOF, EOF):
            substreams[-1][2].append(rec)
    sheets = [struct.unpack_from("<I", data, 0)[0] for _, rid, data in recs[:globals_end] if rid == BOUNDSHEET]
    if sheets != [pos for pos, _, _ in substreams][:len(sheets)]:
        problems.append("BOUNDSHEET positions are not where the sheets begin")
    for n, (pos, bof, top) in enumerate(substreams):
        if len(bof) >= 4 and struct.unpack_from("<H", bof, 2)[0] == 0x0010:
            check_sheet(top, by_pos, problems, "sheet %d" % n)
            counts["labelsst"] += sum(rid == LABELSST for _, rid, _ in top)
    if counts.get("sst_total", counts["labelsst"]) < counts["labelsst"]:
        problems.append("SST counts %d references, the sheets hold %d" % (counts["sst_total"], counts["labelsst"]))
    return problems, counts


def report(path):
    data, result = open(path, "rb").read(), {}
    try:
        result["entries"], stream = entries(data)
        result["problems"], result["counts"] = check(stream)
    except Exception as error:
        result["problems"] = ["unreadable: %s" % error]
    result["xlrd"], book = open_book(data)
    if book is not None:
        result["biff"], result["sheets"] = book.biff_version, book.sheet_names()
        if book.biff_version >= 80:
            result["tables"] = {sheet.name: table_text(sheet, book.datemode) for sheet in book.sheets()}
    if result["xlrd"] == "strict" and result.get("tables"):
        result["formats"] = formats(data)
    return result


def formats(data):
    """Each sheet's cells, blank ones included, with their XF index, keyed by "record,column"
    of the table (the record -1 is the header)."""
    try:
        book = xlrd.open_workbook(file_contents=data, formatting_info=True, logfile=QUIET)
    except Exception as error:
        return {"unreadable": str(error)}
    found = {}
    for sheet in book.sheets():
        _, top, _, columns = used_range(sheet, book.datemode)
        left = columns.start if columns else 0
        found[sheet.name] = {"%d,%d" % (r - top - 1, c - left): sheet.cell_xf_index(r, c)
                             for r in range(sheet.nrows) for c in range(sheet.row_len(r)) if sheet.cell_type(r, c) != xlrd.XL_CELL_EMPTY}
    return found


def main(argv):
    if len(argv) == 2 and argv[1] == "make":
        for path, description in json.load(sys.stdin).items():
            make(description, path)
        return 0
    if len(argv) >= 2 and argv[1] == "report":
        json.dump({path: report(path) for path in argv[2:]}, sys.stdout, ensure_ascii=False)
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
