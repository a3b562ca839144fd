#!/usr/bin/python3
# Writes the small workbooks of fuzz/corpus/workbook/ that we make ourselves (xlwt):
# the record kinds the reader meets in a real scale workbook, each in a few hundred bytes
# of cells. Run with Debian's Python, which has python3-xlwt.
import datetime
import os
import sys

import xlwt

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "workbook")
HEADER = ["Возраст", "Ярус", "Органический мир", "Дата", "Примечание"]


def save(book, name):
    book.save(os.path.join(OUT, name))


def stages():
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Лист1")
    for column, name in enumerate(HEADER):
        sheet.write(0, column, name)
    dates = xlwt.easyxf(num_format_str="DD.MM.YYYY")
    rows = [
        (201.3, "Геттангский", "Аммониты", datetime.date(2023, 3, 15), None),
        (0.01, "Голоцен", "Человек", None, "граница"),
        (174.1, "Тоарский", "Белемниты", None, True),
        (66, "Маастрихтский", "Динозавры", datetime.datetime(1900, 2, 28, 12, 30), False),
        (-3, "д'Орбиньи", "", None, xlwt.Formula("A2*2")),
    ]
    for row, values in enumerate(rows, start=1):
        for column, value in enumerate(values):
            if value is None:
                sheet.write(row, column, None, dates)  # a BLANK record with a format
            elif isinstance(value, (datetime.date, datetime.datetime)):
                sheet.write(row, column, value, dates)
            else:
                sheet.write(row, column, value)
    save(book, "xlwt_stages.xls")


def two_sheets():
    book = xlwt.Workbook(encoding="utf-8")
    book.add_sheet("Данные").write(0, 0, "не тот лист")
    sheet = book.add_sheet("Лист1")
    sheet.write(0, 0, "Возраст")
    sheet.write(1, 0, 145)
    sheet.write(3, 2, "далеко")
    save(book, "xlwt_two_sheets.xls")


def empty_sheet():
    book = xlwt.Workbook(encoding="utf-8")
    book.add_sheet("Лист1")
    save(book, "xlwt_empty.xls")


def long_strings():
    # A string longer than one record and many distinct strings: the shared-string table
    # continues over CONTINUE records.
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Лист1")
    sheet.write(0, 0, "Ярус")
    sheet.write(1, 0, "Ю" * 5000)
    for row in range(2, 300):
        sheet.write(row, 0, "ярус %d" % row)
    save(book, "xlwt_long_strings.xls")


def dates_1904():
    book = xlwt.Workbook(encoding="utf-8")
    book.dates_1904 = True
    sheet = book.add_sheet("Лист1")
    sheet.write(0, 0, "Дата")
    sheet.write(1, 0, datetime.date(2000, 1, 1), xlwt.easyxf(num_format_str="DD.MM.YYYY"))
    save(book, "xlwt_dates_1904.xls")


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    stages()
    two_sheets()
    empty_sheet()
    long_strings()
    dates_1904()
