#!/usr/bin/python3
"""The program's windows as a person uses them, one road a window, in one session on a copy of
the sample:
- the main window: the first row as xlrd reads it, a step with the navigation bar, typing
  that reaches the workbook when the row is left, the window printed through a private CUPS;
- the age search: the dialog opened with its button, a text that is no number answered in the
  dialog's own words, then 140 typed (no interval of the sample starts at 140), the question
  answered Да, and the main window showing the Berriasian that contains 140;
- the chart: opened from the menu on the row the search found, its mark following the navigation
  bar, a click on a stage storing the main window's typing and showing that stage's row, the
  stored name in the chart, the chart saved as PDF, SVG and PNG (read back with pdftotext, an XML
  parser and the PNG's pixels) and printed over several pages;
- the About box: opened with the main window's button, "System Info..." starting the viewer
  found on PATH (a stand-in that leaves a note), and the program running on after the main
  window's Выход until the box is closed too.
Then the signals that end the program from outside (SIGTERM, SIGHUP, SIGINT), each sent while a
field holds typing: it ends as after Выход, with the typing in the workbook and its lock file gone."""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pyatspi
import xlrd

import orbelant_e2e as e2e

CLIENT_AREA = (407, 602)  # pixels below the menu bar; 96 of them to the inch on paper
DOTS_PER_INCH = 300       # what the printed page is looked at with
QUEUE = "OrbelantE2E"
SEARCH = "Абсолютный возраст"
CHART = "Геохронологическая шкала"
BERRIASIAN = "8CCD60"  # the Berriasian's colour on the International Chronostratigraphic Chart
ABOUT = "About Орбелант"


class PrivateCups:
    """A cupsd of our own under `top`: its own configuration, spool and socket, no network port,
    and a printer that writes what it prints into a file there. Needs root (cupsd runs as lp)."""

    def __init__(self, top):
        self.top, self.socket, self.output = top, top / "cups.sock", top / "out" / "page.ps"
        os.chmod(top.parent, 0o755)  # the filters run as lp
        for folder, mode in (("out", 0o777), ("spool", 0o710), ("spool/tmp", 0o1770), ("cache", 0o755),
                             ("state", 0o755), ("log", 0o755)):
            (top / folder).mkdir(parents=True)
            os.chmod(top / folder, mode)
        subprocess.run(["chgrp", "-R", "lp", str(top / "spool")], check=True)
        (top / "cupsd.conf").write_text("Listen %s\nLogLevel info\nWebInterface No\nBrowsing No\n"
                                        "DefaultAuthType None\n<Location />\n Order allow,deny\n Allow all\n"
                                        "</Location>\n" % self.socket)
        (top / "cups-files.conf").write_text(
            "ServerRoot {0}\nRequestRoot {0}/spool\nTempDir {0}/spool/tmp\nCacheDir {0}/cache\nStateDir {0}/state\n"
            "AccessLog {0}/log/access_log\nErrorLog {0}/log/error_log\nPageLog {0}/log/page_log\n"
            "User lp\nGroup lp\nSystemGroup root\nFileDevice Yes\nPrintcap {0}/printcap\n".format(top))
        self.cupsd = subprocess.Popen(["cupsd", "-f", "-c", str(top / "cupsd.conf"), "-s", str(top / "cups-files.conf")],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        e2e.poll(lambda: self.run("lpstat", "-r").returncode == 0, 10, lambda: "cupsd does not answer")

    def run(self, command, *arguments):
        return subprocess.run([command, "-h", str(self.socket), *arguments], capture_output=True, text=True)

    def printed(self, program):
        """The page once the job is done: PostScript as the printer's driver makes it."""
        def done():
            program.fail_on_alert("while printing")
            return self.output.exists() and not self.run("lpstat", "-o").stdout.strip() and self.output
        return e2e.poll(done, 60, lambda: "nothing printed: %s" % [line for line in (
            self.top / "log/error_log").read_text().splitlines() if line.startswith("E ") or "PID" in line])


def ink_box(page):
    """(x, y, width, height) of what is not white paper on a picture of the page."""
    size, x, y = subprocess.run(["convert", str(page), "-fuzz", "2%", "-format", "%@", "info:"], check=True,
                                capture_output=True, text=True).stdout.split("+")
    return (int(x), int(y)) + tuple(int(side) for side in size.split("x"))


class WindowsTest(unittest.TestCase):
    def test_one_session_through_the_three_windows(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="orbelant-e2e-"))
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        workdir = self.scratch / "work"
        workdir.mkdir()
        workbook = workdir / e2e.WORKBOOK_NAME
        shutil.copyfile(e2e.SAMPLE_WORKBOOK, workbook)
        note = self.scratch / "viewer-started"
        viewer = self.scratch / "bin" / "hardinfo"
        viewer.parent.mkdir()
        viewer.write_text('#!/bin/sh\nprintf "%%s" "$0" > "%s"\n' % note)
        viewer.chmod(0o755)
        environment = {"PATH": str(viewer.parent)}
        self.cups = None
        if os.geteuid() == 0 and shutil.which("cupsd") and Path("/usr/share/ppd/cups-pdf").is_dir():
            self.cups = PrivateCups(self.scratch / "cups")
            self.addCleanup(self.cups.cupsd.wait)
            self.addCleanup(self.cups.cupsd.terminate)  # cleanups run last first
            environment.update(CUPS_SERVER=str(self.cups.socket), HOME=str(self.scratch), PRINTER=None, LPDEST=None)
        rows = e2e.expected_rows(workbook)
        stage = [value for _, value in e2e.read_sheet(workbook)[0]].index("Ярус")
        typed = "Stage (edited)"

        with e2e.RunningProgram(workdir, "e2e-windows", environment=environment) as program:
            # The main window.
            program.wait_for_row(rows[0], "the first row at start-up")
            # The README's picture: with the focus on a button no text cursor blinks in it.
            program.find("Найти относительный возраст", pyatspi.ROLE_PUSH_BUTTON).queryComponent().grabFocus()
            program.screenshot("e2e-main-window.png", program.window)
            program.press("Следующая запись")
            program.wait_for_row(rows[1], "the second row")
            program.replace_text("Ярус", typed)
            program.press("Предыдущая запись")
            program.wait_for_row(rows[0], "the first row again")
            e2e.poll(lambda: e2e.read_sheet(workbook)[2][stage] == (xlrd.XL_CELL_TEXT, typed), e2e.STEP_TIMEOUT,
                     lambda: "the typing is not in the workbook after the row was left")
            rows[1]["Ярус"] = typed
            if self.cups:
                self.print_window(program)

            # The age search.
            program.click("Найти относительный возраст")
            dialog = e2e.poll(lambda: program.top_level(SEARCH), e2e.STEP_TIMEOUT, lambda: "no search dialog")
            program.replace_text("Возраст", "sto", dialog)
            program.click("Найти", within=dialog)
            self.assertEqual(program.answer_alert("OK")[1], "Возраст вводится числом в млн. лет, например 140 или 2,58.")
            program.replace_text("Возраст", "140", dialog)
            program.click("Найти", within=dialog)
            question = e2e.poll(program.alerts, e2e.STEP_TIMEOUT, lambda: "no question after the search")[0][2]
            program.screenshot("e2e-search-question.png")
            # Нет is the default answer, as for every question the program asks.
            defaults = pyatspi.findAllDescendants(question, lambda node: node.getState().contains(pyatspi.STATE_IS_DEFAULT))
            self.assertEqual([button.name for button in defaults], ["Нет"])
            program.answer_alert("Да")
            berriasian = next(number for number, row in enumerate(rows) if row["Ярус"] == "Берриасский")
            program.wait_for_row(rows[berriasian], "the Berriasian after Да")
            e2e.poll(lambda: program.top_level(SEARCH) is None, e2e.STEP_TIMEOUT, lambda: "the dialog stays")

            self.chart_in_step(program, workbook, rows, stage, berriasian)

            # The About box.
            program.press("О программе")
            about = e2e.poll(lambda: program.top_level(ABOUT), e2e.STEP_TIMEOUT, lambda: "no About box")
            program.find("Version 1.0.0", pyatspi.ROLE_LABEL, about)
            program.screenshot("e2e-about.png")
            program.press("System Info...", within=about)
            e2e.poll(lambda: note.exists() and note.read_text(), e2e.STEP_TIMEOUT, lambda: "no viewer started")
            self.assertEqual(note.read_text(), str(viewer))
            self.assertEqual(program.alerts(), [])

            program.press("Выход")
            e2e.poll(lambda: program.top_level(e2e.WINDOW_TITLE) is None, e2e.STEP_TIMEOUT, lambda: "no exit")
            time.sleep(0.3)  # long enough for a program that wrongly ends to be gone
            self.assertIsNone(program.process.poll(), "the program ended with the About box open")
            program.click("OK", within=about)
            self.assertEqual(program.process.wait(15), 0)

    def test_signals_end_the_program_like_exit(self):
        workdir = Path(tempfile.mkdtemp(prefix="orbelant-e2e-"))
        self.addCleanup(shutil.rmtree, workdir, ignore_errors=True)
        workbook, lock = workdir / e2e.WORKBOOK_NAME, workdir / (".~lock.%s#" % e2e.WORKBOOK_NAME)
        shutil.copyfile(e2e.SAMPLE_WORKBOOK, workbook)
        stage = [value for _, value in e2e.read_sheet(workbook)[0]].index("Ярус")
        for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            # The program keeps a signal ignored that it was started with (nohup, a background
            # job of a script); a handler of ours is the default again in the program.
            signal.signal(number, signal.default_int_handler)
            with e2e.RunningProgram(workdir, "e2e-%s" % number.name) as program:
                self.assertTrue(lock.exists(), "no lock file while the workbook is open")
                program.replace_text("Ярус", "Stage %s" % number.name)
                program.process.send_signal(number)
                self.assertEqual(program.process.wait(15), 0)
            self.assertEqual(e2e.read_sheet(workbook)[1][stage], (xlrd.XL_CELL_TEXT, "Stage %s" % number.name))
            self.assertFalse(lock.exists(), "the lock file stays after %s" % number.name)

    def chart_in_step(self, program, workbook, rows, stage, current):
        program.click("Действие", pyatspi.ROLE_MENU_ITEM)
        program.click("Показать шкалу", pyatspi.ROLE_MENU_ITEM)
        window = e2e.poll(lambda: program.top_level(CHART), e2e.STEP_TIMEOUT, lambda: "no chart window")
        chart = program.find(CHART, pyatspi.ROLE_CHART, window)
        ages = range(chart.childCount - len(rows), chart.childCount)  # the last column's cells, a row each

        def marks(row):
            return [chart[age].name for age in ages if chart[age].getState().contains(pyatspi.STATE_SELECTED)] == [
                rows[row]["Возраст"]]

        e2e.poll(lambda: marks(current), e2e.STEP_TIMEOUT, lambda: "the chart does not mark the current row")
        program.screenshot("e2e-chart-window.png", window)
        program.press("Следующая запись")
        e2e.poll(lambda: marks(current + 1), e2e.STEP_TIMEOUT, lambda: "the mark does not follow the navigation bar")
        # Typing left in the main window is stored before the clicked stage's row is shown.
        program.find("Ярус", pyatspi.ROLE_TEXT).queryEditableText().setTextContents("Stage (chart)")
        program.click(rows[current + 3]["Ярус"], pyatspi.ROLE_TABLE_CELL, within=chart)
        program.wait_for_row(rows[current + 3], "the stage clicked in the chart")
        e2e.poll(lambda: marks(current + 3), e2e.STEP_TIMEOUT, lambda: "the mark is not on the clicked stage")
        program.find("Stage (chart)", pyatspi.ROLE_TABLE_CELL, chart)
        self.assertEqual(e2e.read_sheet(workbook)[current + 2][stage], (xlrd.XL_CELL_TEXT, "Stage (chart)"))
        rows[current + 1]["Ярус"] = "Stage (chart)"

        stages = {row["Ярус"] for row in rows} - {""}
        pdf, svg, png = (self.save_chart(program, window, "chart." + kind) for kind in ("pdf", "svg", "png"))
        text = subprocess.run(["pdftotext", "-layout", str(pdf), "-"], check=True, capture_output=True, text=True).stdout
        self.assertEqual({stage for stage in stages if stage not in text}, set())
        texts = {node.text: node for node in ElementTree.parse(svg).iter("{http://www.w3.org/2000/svg}text")}
        self.assertEqual(stages - set(texts), set())
        berriasian = texts["Берриасский"]
        x, y = int(float(berriasian.get("x"))) - 3, int(float(berriasian.get("y"))) - 4  # just left of the name
        pixel = subprocess.run(["convert", str(png), "-crop", "1x1+%d+%d" % (x, y), "-format", "%[hex:p{0,0}]", "info:"],
                               check=True, capture_output=True, text=True).stdout
        self.assertEqual(pixel[:6], BERRIASIAN)
        if self.cups:  # the queue print_window set up
            self.cups.output.unlink()
            program.click("Распечатать", pyatspi.ROLE_MENU_ITEM, within=window)
            self.assertGreater(len(re.findall(rb"^%%Page: ", self.cups.printed(program).read_bytes(), re.M)), 1)
        program.click("Закрыть", pyatspi.ROLE_MENU_ITEM, within=window)
        e2e.poll(lambda: program.top_level(CHART) is None, e2e.STEP_TIMEOUT, lambda: "the chart stays")

    def save_chart(self, program, window, name):
        """Saves the chart through its file dialog into the scratch folder; gives the file once it is there."""
        path = self.scratch / name
        program.click("Сохранить как…", pyatspi.ROLE_MENU_ITEM, within=window)
        dialog = e2e.poll(lambda: program.top_level("Сохранить шкалу"), e2e.STEP_TIMEOUT, lambda: "no file dialog")
        program.find("Имя файла:", pyatspi.ROLE_TEXT, dialog).queryEditableText().setTextContents(str(path))
        program.click("Сохранить", within=dialog)
        return e2e.poll(lambda: program.top_level("Сохранить шкалу") is None and path.exists() and path, e2e.STEP_TIMEOUT,
                        lambda: "%s not saved: %s" % (name, program.alerts()))

    def print_window(self, program):
        # No printer, and one that refuses jobs: the user is told, nothing is printed.
        program.click("Распечатать")
        self.assertEqual(program.answer_alert("OK"),
                         (e2e.WINDOW_TITLE, "Принтер по умолчанию не установлен. Форма не напечатана.", True))
        self.cups.run("lpadmin", "-p", QUEUE, "-E", "-v", "file://%s" % self.cups.output,
                      "-P", "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd").check_returncode()
        self.cups.run("lpadmin", "-d", QUEUE).check_returncode()
        self.cups.run("cupsreject", QUEUE).check_returncode()
        program.click("Распечатать")
        _, refusal, _ = program.answer_alert("OK")
        self.assertRegex(refusal, r"^Принтер «%s» отказался принять задание \(.*[^.]\)\. Форма не напечатана\.$" % QUEUE)
        self.cups.run("cupsaccept", QUEUE).check_returncode()

        shown = program.screenshot("e2e-print-window.png")
        program.press("Распечатать")
        page = self.cups.printed(program)
        self.assertEqual(len(re.findall(rb"^%%Page: ", page.read_bytes(), re.M)), 1, "one page")
        picture = e2e.ARTEFACTS / "e2e-print-page.png"
        subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m", "-r%d" % DOTS_PER_INCH,
                        "-sOutputFile=%s" % picture, str(page)], check=True)

        # The client area at its own size, from the top left of the printable area.
        x, y, width, height = ink_box(picture)
        scale = DOTS_PER_INCH / 96
        self.assertLessEqual(abs(width - CLIENT_AREA[0] * scale), 3, "printed width")
        self.assertLessEqual(abs(height - CLIENT_AREA[1] * scale), 3, "printed height")
        self.assertLessEqual(max(x, y), DOTS_PER_INCH // 4, "at the top left, not at %d,%d" % (x, y))
        # … and its picture is the window's: few pixels differ by more than a third.
        window = program.window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        area = "%dx%d+%d+%d" % (CLIENT_AREA + (window.x, window.y + window.height - CLIENT_AREA[1]))
        printed = self.scratch / "printed.png"
        subprocess.run(["convert", str(picture), "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                        "-resize", "%dx%d!" % CLIENT_AREA, str(printed)], check=True)
        different = subprocess.run(["compare", "-metric", "AE", "-fuzz", "33%", "%s[%s]" % (shown, area), str(printed),
                                    "null:"], capture_output=True, text=True).stderr
        self.assertLess(float(different.split()[0]) / (CLIENT_AREA[0] * CLIENT_AREA[1]), 0.01, "unlike the window")


if __name__ == "__main__":
    unittest.main(verbosity=2)
