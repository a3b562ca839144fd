#!/usr/bin/python3
"""Workbook fixtures for the engine tests, and an independent look at what we wrote.

Run with Debian's /usr/bin/python3 (it has xlwt and xlrd).

  make_xls.py make OUT.xls [JSON]   writes a workbook with xlwt; JSON from the argument or stdin
  make_xls.py describe FILE.xls     prints, as JSON, the compound file's entries (read by
                                    xlrd's container reader) and the cells xlrd reads

The description for `make`:
  {"date1904": false,
   "sheets": [{"name": "Лист1",
               "rows": [["Эра", "Начало, млн лет", "Утверждено"],
                        ["Кайнозой", 66.0, {"date": "1990-01-02"}],
                        [null, true, {"number": 2.5, "format": "0.00"}]]}]}
A cell is a string, a number, true/false, null (left empty), {"date": "YYYY-MM-DD"} with an
optional "format" (default DD.MM.YYYY), or {"number": x, "format": "..."}.

`describe` prints {"entries": [{"path", "type", "size", "sha1", "clsid"}...],
"datemode": 0|1, "sheets": [{"name", "rows"}]} with cells as above (dates read back as
{"date": "YYYY-MM-DD"} or {"date": "YYYY-MM-DDTHH:MM:SS"} when the time is not midnight,
errors as {"error": code}); "xlrd_error" replaces "sheets" when xlrd refuses the workbook.
"""

import datetime
import hashlib
import json
import struct
import sys

import xlrd
import xlwt
from xlrd import compdoc

DEFAULT_DATE_FORMAT = "DD.MM.YYYY"


def make_workbook(description, out_path):
    book = xlwt.Workbook(encoding="utf-8")
    if description.get("date1904"):
        book.dates_1904 = True
    styles = {}

    def style_for(number_format):
        if number_format not in styles:
            styles[number_format] = xlwt.easyxf(num_format_str=number_format)
        return styles[number_format]

    for sheet_description in description.get("sheets", []):
        sheet = book.add_sheet(sheet_description["name"], cell_overwrite_ok=True)
        for row_index, row in enumerate(sheet_description.get("rows", [])):
            for column_index, cell in enumerate(row):
                write_cell(sheet, row_index, column_index, cell, style_for)
    book.save(out_path)


def write_cell(sheet, row, column, cell, style_for):
    if cell is None:
        return
    if isinstance(cell, dict):
        if "date" in cell:
            value = datetime.datetime.strptime(cell["date"], "%Y-%m-%d")
            sheet.write(row, column, value, style_for(cell.get("format", DEFAULT_DATE_FORMAT)))
        elif "number" in cell:
            sheet.write(row, column, float(cell["number"]), style_for(cell.get("format", "General")))
        else:
            raise ValueError("unknown cell description: %r" % (cell,))
        return
    sheet.write(row, column, cell)


def container_entries(data):
    """Every storage and stream below the root, depth first, read by xlrd's own reader."""
    doc = compdoc.CompDoc(data, logfile=open("/dev/null", "w"))
    sector_size = 1 << struct.unpack("<H", data[30:32])[0]
    directory_start = struct.unpack("<i", data[48:52])[0]
    directory = doc._get_stream(data, 512, doc.SAT, sector_size, directory_start, name="directory")

    entries = []

    def visit(did, prefix):
        node = doc.dirlist[did]
        path = prefix + node.name
        clsid = directory[did * 128 + 80:did * 128 + 96].hex()
        if node.etype == 1:
            entries.append({"path": path, "type": "storage", "size": 0, "sha1": "", "clsid": clsid})
            for child in node.children:
                visit(child, path + "/")
        elif node.etype == 2:
            content = doc.get_named_stream(path)
            entries.append({"path": path, "type": "stream", "size": node.tot_size,
                            "sha1": hashlib.sha1(content or b"").hexdigest(), "clsid": clsid})

    root = doc.dirlist[0]
    entries.append({"path": "", "type": "root", "size": 0, "sha1": "",
                    "clsid": directory[80:96].hex()})
    for child in root.children:
        visit(child, "")
    return entries


def cell_value(book, cell):
    if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
        return None
    if cell.ctype == xlrd.XL_CELL_BOOLEAN:
        return bool(cell.value)
    if cell.ctype == xlrd.XL_CELL_ERROR:
        return {"error": cell.value}
    if cell.ctype == xlrd.XL_CELL_DATE:
        moment = xlrd.xldate_as_datetime(cell.value, book.datemode)
        if moment.time() == datetime.time(0, 0):
            return {"date": moment.date().isoformat()}
        return {"date": moment.isoformat()}
    return cell.value


def describe(path):
    with open(path, "rb") as f:
        data = f.read()
    result = {"entries": container_entries(data)}
    try:
        book = xlrd.open_workbook(file_contents=data, logfile=open("/dev/null", "w"))
    except Exception as error:  # xlrd's refusal is a result here, not a failure
        result["xlrd_error"] = "%s: %s" % (type(error).__name__, error)
        return result
    result["datemode"] = book.datemode
    result["sheets"] = [{"name": sheet.name,
                         "rows": [[cell_value(book, cell) for cell in sheet.row(r)]
                                  for r in range(sheet.nrows)]}
                        for sheet in book.sheets()]
    return result


def main(argv):
    if len(argv) >= 3 and argv[1] == "make":
        text = argv[3] if len(argv) >= 4 else sys.stdin.read()
        make_workbook(json.loads(text), argv[2])
        return 0
    if len(argv) == 3 and argv[1] == "describe":
        json.dump(describe(argv[2]), sys.stdout, ensure_ascii=False)
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
