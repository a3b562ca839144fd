#!/usr/bin/python3
"""The age search as a person uses it, on a copy of the sample: the dialog opened from the
menu, 140 typed (no interval of the sample starts at 140), the question answered Да, and the
main window showing the Berriasian that contains 140."""

import shutil
import tempfile
import unittest
from pathlib import Path

import pyatspi

import orbelant_e2e as e2e

DIALOG = "Абсолютный возраст"
QUESTION = ("Интервал с возрастом 140 млн. лет не найден.\nВозраст 140 млн. лет приходится на берриасский ярус "
            "(143,1–137,05 млн. лет). Показать этот интервал?")


class SearchTest(unittest.TestCase):
    def test_age_between_two_bases(self):
        scratch = Path(tempfile.mkdtemp(prefix="orbelant-e2e-"))
        self.addCleanup(shutil.rmtree, scratch, ignore_errors=True)
        workdir = e2e.working_folder(scratch)
        rows = e2e.expected_rows(workdir / e2e.WORKBOOK_NAME)
        berriasian = next(row for row in rows if row["Ярус"] == "Берриасский")

        with e2e.RunningProgram(workdir, "e2e-search") as program:
            program.choose("Действие", "Найти относительный возраст")
            dialog = e2e.poll(lambda: program.top_level(DIALOG), e2e.STEP_TIMEOUT, lambda: "no search dialog")
            self.assertEqual(program.text("Возраст", dialog), "")
            program.replace_text("Возраст", "140", dialog)
            program.click("Найти", within=dialog)

            e2e.poll(program.alerts, e2e.STEP_TIMEOUT, lambda: "no question after the search")
            self.assertEqual(program.window_titles(), [DIALOG, e2e.WINDOW_TITLE, e2e.WINDOW_TITLE])
            program.screenshot("e2e-search-question.png")
            self.assertEqual(program.answer_alert("Да"), (e2e.WINDOW_TITLE, QUESTION))
            program.wait_for_row(berriasian, "the Berriasian after Да")
            e2e.poll(lambda: program.top_level(DIALOG) is None, e2e.STEP_TIMEOUT, lambda: "the dialog stays")
            program.press("Выход")
            self.assertEqual(program.wait_for_exit(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
