#!/usr/bin/python3
"""The age search as a person uses it: the real program on a workbook with two rows of age
140, the dialog opened from the menu and from the binoculars button, 140 typed and the arrow
pressed. The main window must show the first of the two rows and the dialog must close.
On the sample, where no boundary is 140, the program asks whether to show the interval that
contains 140, and Да shows it."""

import filecmp
import shutil
import tempfile
import unittest
from contextlib import contextmanager

import pyatspi

import orbelant_e2e as e2e

DIALOG_TITLE = "Абсолютный возраст"
SEARCH_COMMAND = "Найти относительный возраст"  # the menu item and the binoculars button
HEADER = ["Возраст", "Эонотема", "Эратема", "Система", "Отдел", "Ярус", "Органический мир"]


def interval(age, stage, note):
    return [age, "Фанерозойская", "Мезозойская", "Меловая", "Нижний", stage, note]


FIXTURE = {"sheets": [{"name": "Лист1", "rows": [
    HEADER,
    interval(145.0, "Берриасский", "Первые цветковые растения."),
    interval(140.0, "Первый из 140", "Эта строка должна найтись."),
    interval(140.0, "Второй из 140", "Эта строка стоит второй."),
    interval(137.05, "Валанжинский", "Расцвет аммонитов."),
]}]}
FIRST_OF_140 = 1  # index into the data rows
QUESTION = ("Интервал с возрастом 140 млн. лет не найден.\n"
            "Возраст 140 млн. лет приходится на берриасский ярус (143,1–137,05 млн. лет). "
            "Показать этот интервал?")


def find_dialog(program):
    for child in program.app:
        if child is not None and child.name == DIALOG_TITLE:
            return child
    return None


@contextmanager
def acting_in(program, window):
    """press() and replace_text() look for their controls in program.window; this points
    them at another window of the program for the length of the block."""
    main_window = program.window
    program.window = window
    try:
        yield
    finally:
        program.window = main_window


def alerts(program):
    """The message boxes now open, as (caption, [label texts], accessible)."""
    found = []
    for child in program.app:
        if child is not None and child.getRole() == pyatspi.ROLE_ALERT:
            texts = [node.name for node in program._all_nodes(child)
                     if node.getRole() == pyatspi.ROLE_LABEL and node.name]
            found.append((child.name, texts, child))
    return found


def click(accessible):
    """A left click in the middle of the control, through the registry (XTest under Xvfb)."""
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(box.x + box.width // 2, box.y + box.height // 2, "b1c")


class SearchTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="orbelant-e2e-")
        self.workdir = e2e.working_folder_with_fixture(self.scratch, FIXTURE)
        self.workbook = self.workdir / e2e.WORKBOOK_NAME
        self.pristine = self.workdir.parent / "pristine.xls"
        shutil.copyfile(self.workbook, self.pristine)
        self.rows = e2e.expected_rows(self.workbook)

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def open_from_menu(self, program):
        menu = program.find("Действие", pyatspi.ROLE_MENU_ITEM)
        click(menu)
        item = program.find(SEARCH_COMMAND, pyatspi.ROLE_MENU_ITEM, within=menu)
        e2e.poll(lambda: item.getState().contains(pyatspi.STATE_SHOWING), e2e.STEP_TIMEOUT,
                 lambda: "the menu Действие did not open")
        click(item)

    def open_from_button(self, program):
        program.press(SEARCH_COMMAND)

    def search_for_140(self, open_dialog, name):
        with e2e.RunningProgram(self.workdir, name) as program:
            program.wait_for_row(self.rows[0], "the first row at start-up")
            program.press("Последняя запись")
            program.wait_for_row(self.rows[-1], "the last row before the search")

            open_dialog(program)
            dialog = e2e.poll(lambda: find_dialog(program), e2e.STEP_TIMEOUT,
                              lambda: "the dialog %r did not open" % DIALOG_TITLE)
            with acting_in(program, dialog):
                self.assertEqual(program.text("Возраст"), "", "the age field of a new dialog")
                program.replace_text("Возраст", "140")
                program.press("Найти")

            program.wait_for_row(self.rows[FIRST_OF_140], "the first of the two rows of age 140")
            e2e.poll(lambda: find_dialog(program) is None, e2e.STEP_TIMEOUT,
                     lambda: "the dialog is still open after the search")
            self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the window")

        self.assertTrue(filecmp.cmp(self.pristine, self.workbook, shallow=False),
                        "a search must leave the workbook byte-identical")

    def test_140_on_the_sample_offers_the_interval_that_contains_it(self):
        workdir = e2e.working_folder_with_sample(self.scratch)
        rows = e2e.expected_rows(workdir / e2e.WORKBOOK_NAME)
        berriasian = next(row for row in rows if row["Ярус"] == "Берриасский")
        with e2e.RunningProgram(workdir, "e2e-search-interval") as program:
            program.wait_for_row(rows[0], "the first row at start-up")
            self.open_from_button(program)
            dialog = e2e.poll(lambda: find_dialog(program), e2e.STEP_TIMEOUT,
                              lambda: "the dialog %r did not open" % DIALOG_TITLE)
            with acting_in(program, dialog):
                program.replace_text("Возраст", "140")
                program.press("Найти")

            _, texts, question = e2e.poll(lambda: next(iter(alerts(program)), None), e2e.STEP_TIMEOUT,
                                          lambda: "no question after searching for 140")
            self.assertEqual("\n".join(texts), QUESTION, "the question's text")
            # A window manager shows _NET_WM_NAME in the title bar: each caption, nothing added.
            self.assertEqual(program.window_titles(), [DIALOG_TITLE, e2e.WINDOW_TITLE, e2e.WINDOW_TITLE],
                             "the titles of the dialog, the main window and the question")
            shot = program.screenshot(e2e.artefact_dir() / "e2e-search-question.png", whole_screen=True)
            print("screenshot with the question: %s" % shot)

            with acting_in(program, question):
                program.press("Да")
            e2e.poll(lambda: not alerts(program), e2e.STEP_TIMEOUT, lambda: "the question is still open after Да")
            program.wait_for_row(berriasian, "the Berriasian after Да")
            e2e.poll(lambda: find_dialog(program) is None, e2e.STEP_TIMEOUT,
                     lambda: "the dialog is still open after Да")
            self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the window")

    def test_140_from_the_menu(self):
        self.search_for_140(self.open_from_menu, "e2e-search-menu")

    def test_140_from_the_binoculars_button(self):
        self.search_for_140(self.open_from_button, "e2e-search-button")


if __name__ == "__main__":
    unittest.main(verbosity=2)
