#!/usr/bin/python3
"""Writes a large time-scale workbook for the benchmarks.

    /usr/bin/python3 make_big_workbook.py OUTPUT.xls [ROWS] [--short-texts]

One sheet "Лист1" with the seven columns of the real workbook and ROWS records
(65,000 by default, near the 65,536 rows a BIFF8 sheet can hold). Ages are numbers
with decimals, strictly increasing. The divisions repeat in long runs, as on a real
scale; every record has its own note of one or two sentences. With --short-texts every
text cell holds a short text of its own instead (a shared-string table of 390,000
strings for 65,000 rows). The same arguments give the same file, byte for byte.

Needs Debian's python3-xlwt (run it with /usr/bin/python3).
"""

import os
import random
import sys

import xlwt

SHEET_NAME = "Лист1"
COLUMNS = ["Возраст", "Эонотема", "Эратема", "Система", "Отдел", "Ярус", "Органический мир"]
DEFAULT_ROWS = 65000
SEED = 20240611

# (эонотема, эратема, система, [(отдел, [ярусы])]) from the youngest upwards.
DIVISIONS = [
    ("Фанерозойская", "Кайнозойская", "Четвертичная", [
        ("Голоцен", ["Мегхалайский", "Нортгриппский", "Гренландский"]),
        ("Плейстоцен", ["Верхний", "Чибанийский", "Калабрийский", "Гелазский"]),
    ]),
    ("Фанерозойская", "Кайнозойская", "Неогеновая", [
        ("Плиоцен", ["Пьяченцский", "Занклский"]),
        ("Миоцен", ["Мессинский", "Тортонский", "Серравальский", "Лангийский", "Бурдигальский", "Аквитанский"]),
    ]),
    ("Фанерозойская", "Кайнозойская", "Палеогеновая", [
        ("Олигоцен", ["Хаттский", "Рюпельский"]),
        ("Эоцен", ["Приабонский", "Бартонский", "Лютетский", "Ипрский"]),
        ("Палеоцен", ["Танетский", "Зеландский", "Датский"]),
    ]),
    ("Фанерозойская", "Мезозойская", "Меловая", [
        ("Верхний", ["Маастрихтский", "Кампанский", "Сантонский", "Коньякский", "Туронский", "Сеноманский"]),
        ("Нижний", ["Альбский", "Аптский", "Барремский", "Готеривский", "Валанжинский", "Берриасский"]),
    ]),
    ("Фанерозойская", "Мезозойская", "Юрская", [
        ("Верхний", ["Титонский", "Кимериджский", "Оксфордский"]),
        ("Средний", ["Келловейский", "Батский", "Байосский", "Ааленский"]),
        ("Нижний", ["Тоарский", "Плинсбахский", "Синемюрский", "Геттангский"]),
    ]),
    ("Фанерозойская", "Мезозойская", "Триасовая", [
        ("Верхний", ["Рэтский", "Норийский", "Карнийский"]),
        ("Средний", ["Ладинский", "Анизийский"]),
        ("Нижний", ["Оленёкский", "Индский"]),
    ]),
    ("Фанерозойская", "Палеозойская", "Пермская", [
        ("Лопинский", ["Чансинский", "Вучапинский"]),
        ("Гваделупский", ["Кэпитенский", "Вордский", "Роудский"]),
        ("Приуральский", ["Кунгурский", "Артинский", "Сакмарский", "Ассельский"]),
    ]),
    ("Фанерозойская", "Палеозойская", "Каменноугольная", [
        ("Верхний", ["Гжельский", "Касимовский"]),
        ("Средний", ["Московский", "Башкирский"]),
        ("Нижний", ["Серпуховский", "Визейский", "Турнейский"]),
    ]),
    ("Фанерозойская", "Палеозойская", "Девонская", [
        ("Верхний", ["Фаменский", "Франский"]),
        ("Средний", ["Живетский", "Эйфельский"]),
        ("Нижний", ["Эмсский", "Пражский", "Лохковский"]),
    ]),
    ("Фанерозойская", "Палеозойская", "Силурийская", [
        ("Пржидольский", ["Пржидольский"]),
        ("Лудловский", ["Лудфордский", "Горстийский"]),
        ("Венлокский", ["Гомерский", "Шейнвудский"]),
        ("Лландоверийский", ["Телихский", "Аэронский", "Рудданский"]),
    ]),
    ("Фанерозойская", "Палеозойская", "Ордовикская", [
        ("Верхний", ["Хирнантский", "Катийский", "Сандбийский"]),
        ("Средний", ["Дарривильский", "Дапинский"]),
        ("Нижний", ["Флоский", "Тремадокский"]),
    ]),
    ("Фанерозойская", "Палеозойская", "Кембрийская", [
        ("Фуронгский", ["Десятый ярус", "Цзяншаньский", "Пайбийский"]),
        ("Мяолинский", ["Гужанский", "Друмский", "Улюньский"]),
        ("Второй отдел", ["Четвёртый ярус", "Третий ярус"]),
        ("Терреньювский", ["Второй ярус", "Фортунский"]),
    ]),
    ("Протерозойская", "Неопротерозойская", "Эдиакарская", [("", [""])]),
    ("Протерозойская", "Неопротерозойская", "Криогеновая", [("", [""])]),
    ("Протерозойская", "Неопротерозойская", "Тонийская", [("", [""])]),
    ("Протерозойская", "Мезопротерозойская", "Стенийская", [("", [""])]),
    ("Протерозойская", "Палеопротерозойская", "Сидерийская", [("", [""])]),
    ("Архейская", "Неоархейская", "", [("", [""])]),
    ("Архейская", "Эоархейская", "", [("", [""])]),
]

ORGANISMS = ["аммониты", "белемниты", "брахиоподы", "трилобиты", "граптолиты", "кораллы",
             "мшанки", "фораминиферы", "радиолярии", "морские лилии", "рыбы", "акулы",
             "земноводные", "рептилии", "динозавры", "птерозавры", "млекопитающие",
             "папоротники", "хвощи", "плауны", "голосеменные", "цветковые растения",
             "строматолиты", "цианобактерии", "акритархи", "губки", "двустворки", "гастроподы"]
EVENTS = ["распространяются", "вымирают", "впервые появляются", "достигают расцвета",
          "сокращаются в числе", "заселяют мелководья", "расселяются по шельфу",
          "уходят в глубоководные бассейны"]
PLACES = ["в Тетисе", "на Русской платформе", "в бассейнах Сибири", "на шельфе Лавруссии",
          "в лагунах Гондваны", "в эпиконтинентальных морях", "на островах Пацифики",
          "в озёрах Центральной Азии"]
CLIMATES = ["Климат тёплый и влажный", "Климат засушливый", "Наступает похолодание",
            "Уровень моря поднимается", "Уровень моря падает", "Идёт активный вулканизм",
            "Накапливаются угленосные толщи", "Формируются рифовые постройки"]


def stage_sequence():
    """Every (эонотема, эратема, система, отдел, ярус) in order."""
    for eon, era, system, series_list in DIVISIONS:
        for series, stages in series_list:
            for stage in stages:
                yield (eon, era, system, series, stage)


def note(rng, row):
    first = "Слой {0}: {1} {2} {3}.".format(row, rng.choice(ORGANISMS), rng.choice(EVENTS), rng.choice(PLACES))
    if rng.random() < 0.6:
        return first + " {0}, {1} и {2} встречаются вместе.".format(
            rng.choice(CLIMATES), rng.choice(ORGANISMS), rng.choice(ORGANISMS))
    return first


def short_texts(record):
    """Six short texts (a few Latin letters and digits), each found in no other cell."""
    texts = []
    for column in range(6):
        number, text = record * 6 + column, ""
        while True:
            number, digit = divmod(number, 36)
            text = "0123456789abcdefghijklmnopqrstuvwxyz"[digit] + text
            if number == 0:
                break
        texts.append(text)
    return texts


def build(rows, short=False):
    rng = random.Random(SEED)
    stages = list(stage_sequence())
    run = -(-rows // len(stages))  # records per stage, rounded up: long runs of repeats

    header_style = xlwt.easyxf("font: bold on; align: vert top")
    age_style = xlwt.easyxf("align: vert top", num_format_str="General")
    text_style = xlwt.easyxf("align: vert top")
    note_style = xlwt.easyxf("align: wrap on, vert top")

    workbook = xlwt.Workbook(encoding="utf-8")
    sheet = workbook.add_sheet(SHEET_NAME)
    for column, name in enumerate(COLUMNS):
        sheet.write(0, column, name, header_style)

    age = 0.0
    for record in range(rows):
        # Steps of 0.0125 to 0.0875 Ma, kept to four decimals: strictly increasing.
        age = round(age + 0.0125 * (1 + rng.randrange(7)), 4)
        row = record + 1
        sheet.write(row, 0, age, age_style)
        if short:
            for column, text in enumerate(short_texts(row), start=1):
                sheet.write(row, column, text, text_style)
            continue
        for column, text in enumerate(stages[min(record // run, len(stages) - 1)], start=1):
            if text:
                sheet.write(row, column, text, text_style)
        sheet.write(row, 6, note(rng, row), note_style)
    return workbook


def main(arguments):
    short = "--short-texts" in arguments
    arguments = [argument for argument in arguments if argument != "--short-texts"]
    if len(arguments) not in (2, 3):
        sys.stderr.write(__doc__)
        return 2
    output = arguments[1]
    rows = int(arguments[2]) if len(arguments) == 3 else DEFAULT_ROWS
    if not 1 <= rows <= 65535:
        sys.stderr.write("ROWS must be from 1 to 65535\n")
        return 2
    temporary = output + ".part"
    build(rows, short).save(temporary)
    os.replace(temporary, output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
