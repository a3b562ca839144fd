#!/usr/bin/python3
"""Prints a sheet the way `orbelant-xls dump` does, but read by xlrd: an independent
reader for comparing what our engine sees in a workbook.

  xlrd_table.py WORKBOOK [SHEET]

Used range: first to last row and column holding a value (empty texts are no value);
first row = column names (blank -> F + position); numbers in the fewest digits with a
decimal comma; dates dd.mm.yyyy [hh:mm:ss]; booleans ИСТИНА/ЛОЖЬ; errors in Russian.
Exit 3 when xlrd refuses the workbook.
"""

import datetime
import sys

import xlrd

ERRORS = {0x00: "#ПУСТО!", 0x07: "#ДЕЛ/0!", 0x0F: "#ЗНАЧ!", 0x17: "#ССЫЛКА!",
          0x1D: "#ИМЯ?", 0x24: "#ЧИСЛО!", 0x2A: "#Н/Д"}


def number_text(value):
    value = float(value)
    if value == 0:
        return "0"
    text = repr(value)
    if "e" in text:
        mantissa, exponent = text.split("e")
        if mantissa.endswith(".0"):
            mantissa = mantissa[:-2]
        exponent = int(exponent)
        return "%sE%s%02d" % (mantissa.replace(".", ","), "-" if exponent < 0 else "+", abs(exponent))
    if text.endswith(".0"):
        text = text[:-2]
    return text.replace(".", ",")


def date_text(serial, datemode):
    if serial < 0 or serial >= 2958466:
        return number_text(serial)
    seconds = round(serial * 86400)
    day, second = divmod(seconds, 86400)
    time = "%02d:%02d:%02d" % (second // 3600, second // 60 % 60, second % 60)
    if day == 0 and datemode == 0:
        return time
    if datemode == 1:
        date = datetime.date(1904, 1, 1) + datetime.timedelta(days=day)
    elif day == 60:
        return "29.02.1900" + ("" if second == 0 else " " + time)
    elif day < 60:
        date = datetime.date(1899, 12, 31) + datetime.timedelta(days=day)
    else:
        date = datetime.date(1899, 12, 30) + datetime.timedelta(days=day)
    text = date.strftime("%d.%m.") + "%04d" % date.year
    return text if second == 0 else text + " " + time


def cell_text(cell, datemode):
    if cell.ctype == xlrd.XL_CELL_NUMBER:
        return number_text(cell.value)
    if cell.ctype == xlrd.XL_CELL_DATE:
        return date_text(cell.value, datemode)
    if cell.ctype == xlrd.XL_CELL_TEXT:
        return cell.value
    if cell.ctype == xlrd.XL_CELL_BOOLEAN:
        return "ИСТИНА" if cell.value else "ЛОЖЬ"
    if cell.ctype == xlrd.XL_CELL_ERROR:
        return ERRORS.get(cell.value, "#Н/Д")
    return ""


def escaped(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def main():
    path = sys.argv[1]
    wanted = sys.argv[2] if len(sys.argv) > 2 else "Лист1"
    if wanted.endswith("$"):
        wanted = wanted[:-1]
    try:
        book = xlrd.open_workbook(path, formatting_info=False)
        names = [name.lower() for name in book.sheet_names()]
        sheet = book.sheet_by_index(names.index(wanted.lower()))
    except Exception as error:  # xlrd refuses: the caller expects a refusal from us too
        print("xlrd: %s" % error, file=sys.stderr)
        return 3
    cells = {}
    for r in range(sheet.nrows):
        for c, cell in enumerate(sheet.row(r)):
            if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                continue
            if cell.ctype == xlrd.XL_CELL_TEXT and cell.value == "":
                continue
            cells[(r, c)] = cell_text(cell, book.datemode)
    out = sys.stdout.buffer
    if not cells:
        out.write(b"\n")
        return 0
    rows = [r for r, _ in cells]
    columns = [c for _, c in cells]
    top, bottom, left, right = min(rows), max(rows), min(columns), max(columns)
    header = []
    for c in range(left, right + 1):
        name = cells.get((top, c), "").strip()
        header.append(escaped(name) if name else "F%d" % (c - left + 1))
    out.write(("\t".join(header) + "\n").encode("utf-8"))
    for r in range(top + 1, bottom + 1):
        line = "\t".join(escaped(cells.get((r, c), "")) for c in range(left, right + 1))
        out.write((line + "\n").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
