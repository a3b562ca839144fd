#!/usr/bin/python3
"""The main window as a person uses it: the real program on a copy of the sample workbook,
stepping through the rows with the navigation bar and typing into a field. What the window
shows and what reaches the file are checked against xlrd's reading of the workbook."""

import filecmp
import shutil
import tempfile
import unittest

import pyatspi
import xlrd

import orbelant_e2e as e2e

SCREENSHOT_NAME = "e2e-main-window.png"
CLIENT_AREA = (407, 602)  # width × height below the menu bar, in pixels


class MainWindowTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="orbelant-e2e-")
        self.workdir = e2e.working_folder_with_sample(self.scratch)
        self.workbook = self.workdir / e2e.WORKBOOK_NAME
        self.rows = e2e.expected_rows(self.workbook)
        self.assertGreaterEqual(len(self.rows), 3, "the sample must have rows to step through")

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def test_navigation_bar_steps_through_the_rows(self):
        with e2e.RunningProgram(self.workdir, "e2e-navigation") as program:
            program.wait_for_row(self.rows[0], "the first row at start-up")
            print("first row shown %.2f s after start" % program.first_row_after)

            steps = [
                ("Следующая запись", 1, "the second row"),
                ("Последняя запись", len(self.rows) - 1, "the last row"),
                ("Предыдущая запись", len(self.rows) - 2, "the row before the last"),
                ("Первая запись", 0, "the first row again"),
            ]
            for button, row, what in steps:
                with self.subTest(button=button):
                    program.press(button)
                    program.wait_for_row(self.rows[row], "%s after %r" % (what, button))

            (_, _, width, height), menu_bar_height = program.window_geometry()
            self.assertEqual((width, height - menu_bar_height), CLIENT_AREA,
                             "client area below the menu bar (menu bar %d px high)" % menu_bar_height)
            self.assertEqual(program.window_titles(), [e2e.WINDOW_TITLE], "the title a window manager shows")
            # The README shows this picture (scripts/update-screenshot.sh). With the focus on
            # a button no text cursor blinks in it, so every run draws the same pixels.
            self.move_focus_off_the_fields(program, "Найти относительный возраст")
            shot = program.screenshot(e2e.artefact_dir() / SCREENSHOT_NAME)
            print("screenshot of the main window: %s" % shot)

            self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the window")

        self.assertTrue(filecmp.cmp(e2e.SAMPLE_WORKBOOK, self.workbook, shallow=False),
                        "only looking at rows must leave the workbook byte-identical")

    def move_focus_off_the_fields(self, program, button_name):
        button = program.find(button_name, pyatspi.ROLE_PUSH_BUTTON)
        self.assertTrue(button.queryComponent().grabFocus(), "the button %r took no focus" % button_name)
        e2e.poll(lambda: button.getState().contains(pyatspi.STATE_FOCUSED), e2e.STEP_TIMEOUT,
                 lambda: "the button %r never became focused" % button_name)

    def test_typed_text_is_stored_when_the_row_is_left(self):
        before = e2e.read_sheet(self.workbook)
        stage_column = [value for _, value in before[0]].index("Ярус")
        typed = "Мегхалайский (правка)"

        with e2e.RunningProgram(self.workdir, "e2e-edit") as program:
            program.wait_for_row(self.rows[0], "the first row at start-up")
            program.replace_text("Ярус", typed)
            self.assertEqual(program.text("Ярус"), typed)

            program.press("Следующая запись")
            program.wait_for_row(self.rows[1], "the second row after leaving the edited one")
            e2e.poll(lambda: e2e.read_sheet(self.workbook)[1][stage_column] == (xlrd.XL_CELL_TEXT, typed),
                     e2e.STEP_TIMEOUT,
                     lambda: "the edit is not in the workbook after leaving the row (before closing)")

            self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the window")

        after = e2e.read_sheet(self.workbook)
        self.assertEqual(after[1][stage_column], (xlrd.XL_CELL_TEXT, typed),
                         "the typed text must be in column Ярус of the first data row")
        expected = [list(row) for row in before]
        expected[1][stage_column] = (xlrd.XL_CELL_TEXT, typed)
        self.assertEqual(len(after), len(expected), "number of rows in the sheet")
        for index, (row_after, row_expected) in enumerate(zip(after, expected)):
            self.assertEqual(row_after, row_expected, "sheet row %d (0 = header)" % index)


if __name__ == "__main__":
    unittest.main(verbosity=2)
