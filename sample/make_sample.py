#!/usr/bin/python3
"""Builds the sample workbook зендра.xls from its reviewable source зендра.tsv.

    /usr/bin/python3 sample/make_sample.py [TSV] [OUT.xls] [--check]

Without arguments it reads зендра.tsv and writes зендра.xls beside this script.
--check reads the written workbook back with xlrd and compares it cell by cell
with the source.

The source is UTF-8 text, one row per line, fields separated by a tab, the
first line holds the column names. An empty field becomes an empty cell (no
cell is written at all). Inside a field "\\n" stands for a line break and "\\\\"
for a backslash. The age is a number with a decimal point, rows go from the
youngest to the oldest, so the ages strictly increase down the file.

Needs Debian's python3-xlwt (and python3-xlrd for --check). The output depends
only on the source: building twice gives the same bytes.
"""

import argparse
import io
import math
import os
import re
import sys
import tempfile
from pathlib import Path

import xlwt

HERE = Path(__file__).resolve().parent
DEFAULT_SOURCE = HERE / "зендра.tsv"
DEFAULT_OUTPUT = HERE / "зендра.xls"

SHEET_NAME = "Лист1"
COLUMNS = ["Возраст", "Эонотема", "Эратема", "Система", "Отдел", "Ярус", "Органический мир"]
COLUMN_WIDTHS_IN_CHARS = [10, 16, 21, 17, 17, 16, 100]
AGE_COLUMN = 0
NOTE_COLUMN = len(COLUMNS) - 1

AGE_PATTERN = re.compile(r"[0-9]+(\.[0-9]+)?")
MAX_CELL_TEXT = 32767      # longest string a BIFF8 cell can hold
MAX_SHEET_ROWS = 65536     # rows in a BIFF8 sheet, header included


class SourceError(Exception):
    """A fault in the source file, with a message ready for the user."""


def grouped(number):
    """A number as a message shows it: from five digits up, in groups of three parted by a space."""
    return f"{number:,}".replace(",", " ") if number >= 10000 else str(number)


class Row:
    """One interval of the scale: its base age and the six text columns."""

    def __init__(self, line_number, age, texts):
        self.line_number = line_number
        self.age = age
        self.texts = texts          # five rank names and the note; "" = no cell


def unescape(field, where):
    """Turns the source's \\n and \\\\ into a line break and a backslash."""
    result = []
    chars = iter(field)
    for char in chars:
        if char != "\\":
            result.append(char)
            continue
        following = next(chars, "")
        if following == "n":
            result.append("\n")
        elif following == "\\":
            result.append("\\")
        else:
            raise SourceError(f"{where}: неизвестная последовательность «\\{following}»; "
                              "допустимы только \\n (перевод строки) и \\\\ (обратная косая черта)")
    return "".join(result)


def parse_age(field, where):
    if not AGE_PATTERN.fullmatch(field):
        raise SourceError(f"{where}: возраст «{field}» — не число; пишите число с десятичной "
                          "точкой, например 2.58")
    age = float(field)
    if not math.isfinite(age):
        raise SourceError(f"{where}: возраст «{field}» слишком велик")
    return age


def parse_text(field, where):
    if field != field.strip():
        raise SourceError(f"{where}: пробелы в начале или в конце текста")
    text = unescape(field, where)
    if len(text) > MAX_CELL_TEXT:
        raise SourceError(f"{where}: текст длиннее {grouped(MAX_CELL_TEXT)} знаков не поместится в ячейку")
    return text


def parse_line(line, line_number):
    fields = line.split("\t")
    if len(fields) != len(COLUMNS):
        raise SourceError(f"строка {line_number}: полей: {len(fields)}, а должно быть "
                          f"{len(COLUMNS)} (поля разделяются табуляцией)")
    age = parse_age(fields[AGE_COLUMN], f"строка {line_number}, столбец «{COLUMNS[AGE_COLUMN]}»")
    texts = [parse_text(field, f"строка {line_number}, столбец «{COLUMNS[column]}»")
             for column, field in enumerate(fields) if column != AGE_COLUMN]
    return Row(line_number, age, texts)


def read_lines(path):
    try:
        data = Path(path).read_bytes()
    except OSError as error:
        raise SourceError(f"не удалось прочитать {path}: {error.strerror}") from error
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise SourceError(f"{path}: файл не в кодировке UTF-8 (байт {error.start})") from error
    if not text:
        raise SourceError(f"{path}: файл пуст")
    if text.endswith("\n"):
        text = text[:-1]
    # A checkout with Windows line ends is read the same as one with LF.
    return [line[:-1] if line.endswith("\r") else line for line in text.split("\n")]


def read_rows(path):
    lines = read_lines(path)
    header = lines[0].split("\t")
    if header != COLUMNS:
        raise SourceError("строка 1: заголовок должен состоять из столбцов "
                          + ", ".join(COLUMNS) + " через табуляцию")
    rows = []
    for line_number, line in enumerate(lines[1:], start=2):
        if not line:
            raise SourceError(f"строка {line_number}: пустая строка")
        if "\r" in line:
            raise SourceError(f"строка {line_number}: возврат каретки внутри строки")
        row = parse_line(line, line_number)
        if rows and row.age <= rows[-1].age:
            raise SourceError(f"строка {line_number}: возраст {row.age:g} не больше, чем в строке "
                              f"{rows[-1].line_number} ({rows[-1].age:g}); строки идут "
                              "от молодых к древним")
        rows.append(row)
    if not rows:
        raise SourceError(f"{path}: нет ни одной строки, кроме заголовка")
    if len(rows) + 1 > MAX_SHEET_ROWS:
        raise SourceError(f"{path}: строк больше, чем помещается на лист ({grouped(MAX_SHEET_ROWS - 1)})")
    return rows


def build_workbook(rows):
    """Returns the bytes of the .xls file holding the header and the rows."""
    header_style = xlwt.easyxf("font: bold on; align: vert top")
    age_style = xlwt.easyxf("align: vert top", num_format_str="General")
    text_style = xlwt.easyxf("align: vert top")
    note_style = xlwt.easyxf("align: wrap on, vert top")

    workbook = xlwt.Workbook(encoding="utf-8")
    sheet = workbook.add_sheet(SHEET_NAME)
    for column, (name, width) in enumerate(zip(COLUMNS, COLUMN_WIDTHS_IN_CHARS)):
        sheet.col(column).width = width * 256
        sheet.write(0, column, name, header_style)

    for sheet_row, row in enumerate(rows, start=1):
        sheet.write(sheet_row, AGE_COLUMN, row.age, age_style)
        for column, text in enumerate(row.texts, start=1):
            if text:
                sheet.write(sheet_row, column, text,
                            note_style if column == NOTE_COLUMN else text_style)

    buffer = io.BytesIO()
    workbook.save(buffer)
    return buffer.getvalue()


def write_replacing(path, data):
    """Writes beside the target and renames over it, so a failure keeps the old file."""
    path = Path(path)
    handle, temporary = tempfile.mkstemp(prefix=".make_sample-", suffix=".tmp", dir=path.parent)
    try:
        with os.fdopen(handle, "wb") as file:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def check_workbook(path, rows):
    """Reads the workbook back and returns a list of differences from the source."""
    import xlrd

    book = xlrd.open_workbook(str(path), formatting_info=True)
    if book.sheet_names() != [SHEET_NAME]:
        return [f"листы {book.sheet_names()}, ожидался один лист {SHEET_NAME}"]
    sheet = book.sheet_by_index(0)
    if (sheet.nrows, sheet.ncols) != (len(rows) + 1, len(COLUMNS)):
        return [f"размер листа {sheet.nrows}×{sheet.ncols}, ожидался {len(rows) + 1}×{len(COLUMNS)}"]

    problems = []
    if sheet.row_values(0) != COLUMNS:
        problems.append("заголовок не совпадает")
    for sheet_row, row in enumerate(rows, start=1):
        expected = [(xlrd.XL_CELL_NUMBER, row.age)]
        expected += [(xlrd.XL_CELL_TEXT, text) if text else (xlrd.XL_CELL_EMPTY, "")
                     for text in row.texts]
        for column, (kind, value) in enumerate(expected):
            cell = sheet.cell(sheet_row, column)
            if (cell.ctype, cell.value) != (kind, value):
                problems.append(f"ячейка {COLUMNS[column]} строки {sheet_row + 1}: "
                                f"{cell!r}, ожидалось {value!r}")
    return problems


def main(arguments):
    parser = argparse.ArgumentParser(description="Собирает зендра.xls из зендра.tsv.")
    parser.add_argument("source", nargs="?", default=DEFAULT_SOURCE, help="исходный .tsv")
    parser.add_argument("output", nargs="?", default=DEFAULT_OUTPUT, help="записываемый .xls")
    parser.add_argument("--check", action="store_true",
                        help="прочитать записанную книгу через xlrd и сверить с исходником")
    options = parser.parse_args(arguments)

    try:
        rows = read_rows(options.source)
    except SourceError as error:
        print(f"make_sample: ошибка: {error}", file=sys.stderr)
        return 1
    try:
        write_replacing(options.output, build_workbook(rows))
    except OSError as error:
        print(f"make_sample: не удалось записать {options.output}: {error.strerror}", file=sys.stderr)
        return 1
    print(f"make_sample: {options.output} записан, строк: {len(rows)}")

    if options.check:
        problems = check_workbook(options.output, rows)
        for problem in problems:
            print(f"make_sample: расхождение: {problem}", file=sys.stderr)
        if problems:
            return 1
        print("make_sample: проверка xlrd пройдена")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
