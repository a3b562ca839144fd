#!/usr/bin/python3
"""The main window's commands as a person uses them, each from its picture button and from
the menu Действие: Сохранить appends the shown row to info.dat, Обновить reads the workbook
again and shows its first row, Распечатать prints the window on a CUPS-PDF printer of a
private cupsd, and Выход closes the main window while the About box stays open.

What reaches info.dat and the workbook is checked against xlrd's reading of the workbook;
the printed page against a screenshot of the window on the row it shows."""

import filecmp
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
from contextlib import contextmanager
from pathlib import Path

import pyatspi
import xlrd

import orbelant_e2e as e2e
import make_xls  # found through the folder orbelant_e2e puts on the path

MENU = "Действие"
EXPORT_FILE = "info.dat"
ABOUT_CAPTION = "About Орбелант"
CLIENT_AREA = (407, 602)   # width × height below the menu bar, in pixels
SCREEN_DOTS_PER_INCH = 96  # the window's pixels: 6105 × 9030 twips are 407 × 602 of them
PAGE_DOTS_PER_INCH = 300   # what the printed PDF is turned into an image at
PRINT_TIMEOUT = 60.0       # from the press until CUPS-PDF has written the file
CUPS_HELPER = e2e.SOURCE_DIR / "tests" / "print" / "private_cups.sh"
QUEUE_NAME = "OrbelantE2E"

# The labels of info.dat, one before each field's text, in the order of the fields.
EXPORT_LABELS = [" возраст ", " эон ", " эра ", " период ", " эпоха ", " век  ", " орг.мир  "]

HEADER = ["Возраст", "Эонотема", "Эратема", "Система", "Отдел", "Ярус", "Органический мир"]
FIXTURE = {"sheets": [{"name": "Лист1", "rows": [
    HEADER,
    [0.0042, "Фанерозойская", "Кайнозойская", "Четвертичная", "Голоцен", "Мегхалайский",
     "Люди создают государства; на смену бронзе приходит железо."],
    [66.0, "Фанерозойская", "Мезозойская", "Меловая", "Верхний", "Маастрихтский",
     "Последний век мезозоя:\nтираннозавры, трицератопсы,\nаммониты."],
    # "≈" has no place in Windows-1251 and is written as "?"; «», — and № have one.
    [251.902, "Фанерозойская", "Палеозойская", "Пермская", "Лопинский", "Чансинский",
     "Вымирает ≈ 95 % морских видов — «великое» вымирание №3."],
    [252.17, "Фанерозойская", "Палеозойская", "Пермская", "Лопинский", "Вучапинский",
     "Сибирские траппы."],
]}]}


def export_line(shown):
    """The bytes one save appends for a row shown as {column: text}: each label followed by
    its field's text, the note's line breaks as CR LF, CR LF at the end, Windows-1251 with
    "?" for what it cannot hold."""
    line = ""
    for label, column in zip(EXPORT_LABELS, HEADER):
        text = shown[column].replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\r\n")
        line += label + text
    return (line + "\r\n").encode("cp1251", errors="replace")


def click(accessible):
    """A left click in the middle of the control, through the registry (XTest under Xvfb)."""
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(box.x + box.width // 2, box.y + box.height // 2, "b1c")


def choose_from_menu(program, item_name):
    """Opens the menu Действие with the mouse and clicks `item_name` in it."""
    menu = program.find(MENU, pyatspi.ROLE_MENU_ITEM)
    click(menu)
    item = program.find(item_name, pyatspi.ROLE_MENU_ITEM, within=menu)
    e2e.poll(lambda: item.getState().contains(pyatspi.STATE_SHOWING), e2e.STEP_TIMEOUT,
             lambda: "the menu %s did not open" % MENU)
    click(item)


@contextmanager
def acting_in(program, window):
    """press() and find() look in program.window; this points them at another window of the
    program for the length of the block."""
    main_window = program.window
    program.window = window
    try:
        yield
    finally:
        program.window = main_window


def top_level(program, name):
    """The program's window called `name`, or None while there is none."""
    for child in program.app:
        if child is not None and child.name == name:
            return child
    return None


def windows_of(program):
    """The program's windows as "role 'name'", for failure messages."""
    return ", ".join("%s %r" % (child.getRoleName(), child.name) for child in program.app if child is not None)


class ProgramWithEnvironment(e2e.RunningProgram):
    """The program started with some variables set (a value) or removed (None); the test's
    own environment is left as it was."""

    def __init__(self, workdir, name, changes):
        super().__init__(workdir, name)
        self.changes = changes

    def start(self):
        saved = dict(os.environ)
        for key, value in self.changes.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value
        try:
            super().start()
        finally:
            os.environ.clear()
            os.environ.update(saved)


# Printing: a private cupsd and the page CUPS-PDF writes.

class CupsUnavailable(Exception):
    pass


class PrivateCups:
    """A cupsd of our own (tests/print/private_cups.sh) with a CUPS-PDF queue as its default
    printer. stop() ends it and removes its folder and the PDFs this run left."""

    def __init__(self):
        # Straight in the temporary folder: cupsd runs as lp and must reach its spool.
        self.top = Path(tempfile.mkdtemp(prefix="orbelant-cups-"))
        self.socket = None
        self.marker = None
        self.folders = []          # where CUPS-PDF writes
        self.created_folders = []  # those of them that this run made
        self.pdfs = []

    def start(self):
        """Raises CupsUnavailable with the reason when cupsd cannot run here."""
        # Installing missing packages on the first run takes a while.
        started = subprocess.run([str(CUPS_HELPER), "start", str(self.top)], capture_output=True,
                                 text=True, timeout=600)
        if started.returncode == 77:
            raise CupsUnavailable(started.stderr.strip())
        if started.returncode != 0:
            raise e2e.E2EFailure("the private cupsd did not start: %s" % started.stderr.strip())
        self.socket = started.stdout.strip()
        self._run("add-pdf-queue", str(self.top), QUEUE_NAME)
        self.folders = [Path(line) for line in self._run("pdf-folders").splitlines() if line]
        self.created_folders = [folder for folder in self.folders if not folder.exists()]
        # CUPS-PDF names a file after the job; only files newer than this are ours.
        self.marker = self.top / "marker"
        self.marker.touch()
        time.sleep(1.1)  # a whole second apart, for file systems with coarse times

    def _run(self, *arguments):
        done = subprocess.run([str(CUPS_HELPER), *arguments], capture_output=True, text=True, timeout=60)
        if done.returncode != 0:
            raise e2e.E2EFailure("private_cups.sh %s failed: %s" % (arguments[0], done.stderr.strip()))
        return done.stdout

    def stop(self):
        subprocess.run([str(CUPS_HELPER), "stop", str(self.top)], capture_output=True, timeout=60)
        for pdf in self.pdfs:
            pdf.unlink(missing_ok=True)
        for folder in self.created_folders:
            shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(self.top, ignore_errors=True)

    def environment(self):
        """What the program needs to find this cupsd and its default printer only."""
        home = self.top / "home"
        home.mkdir(exist_ok=True)
        return {"CUPS_SERVER": self.socket, "HOME": str(home), "PRINTER": None, "LPDEST": None}

    def jobs_pending(self):
        done = subprocess.run(["lpstat", "-h", self.socket, "-o"], capture_output=True, text=True, timeout=10)
        return done.stdout.strip()

    def wait_for_pdf(self, program):
        """The PDF of the one job printed since the queue was set up, once CUPS has ended it."""
        def finished_pdf():
            program.fail_on_message_box("while printing")
            found = [path for folder in self.folders if folder.is_dir()
                     for path in folder.glob("*.pdf")
                     if path.stat().st_mtime > self.marker.stat().st_mtime]
            self.pdfs = found
            return found[0] if len(found) == 1 and not self.jobs_pending() else None

        return e2e.poll(finished_pdf, PRINT_TIMEOUT,
                        lambda: "CUPS-PDF wrote %d files in %s; jobs: %r; log: %s"
                        % (len(self.pdfs), ", ".join(map(str, self.folders)), self.jobs_pending(),
                           self._log_tail()))

    def _log_tail(self):
        try:
            return " | ".join((self.top / "log" / "error_log").read_text(errors="replace").splitlines()[-5:])
        except OSError:
            return "none"


def magick(*arguments):
    """Runs ImageMagick's convert or compare; returns (exit code, stdout + stderr)."""
    done = subprocess.run(list(arguments), capture_output=True, text=True, timeout=120)
    return done.returncode, (done.stdout + done.stderr).strip()


def ink_box(page):
    """(x, y, width, height) of everything on the page that is not white paper."""
    code, text = magick("convert", str(page), "-fuzz", "2%", "-format", "%@", "info:")
    if code != 0:
        raise e2e.E2EFailure("ImageMagick could not look at %s: %s" % (page, text))
    size, x, y = text.split("+")
    width, height = size.split("x")
    return int(x), int(y), int(width), int(height)


def unlike_share(first, second, areas):
    """The share of pixels within `areas` ((x, y, width, height) in both images) whose colour
    differs by more than a third between the two images: letters in another place, not the
    softening of their edges."""
    different = pixels = 0
    for x, y, width, height in areas:
        crop = "[%dx%d+%d+%d]" % (width, height, x, y)
        code, text = magick("compare", "-metric", "AE", "-fuzz", "33%", str(first) + crop, str(second) + crop,
                            "null:")
        if code not in (0, 1):
            raise e2e.E2EFailure("ImageMagick could not compare %s with %s: %s" % (first, second, text))
        different += float(text.split()[0])
        pixels += width * height
    return different / pixels


class CommandsTest(unittest.TestCase):
    def setUp(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="orbelant-e2e-"))
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        self.workdir = e2e.working_folder_with_fixture(self.scratch, FIXTURE)
        self.workbook = self.workdir / e2e.WORKBOOK_NAME
        self.rows = e2e.expected_rows(self.workbook)

    # info.dat

    def test_each_save_appends_the_shown_row(self):
        export = self.workdir / EXPORT_FILE
        typed = "Чансинский (правка)"
        edited = dict(self.rows[2], Ярус=typed)
        # (what is saved, the step before it, where the save is given, the row shown then)
        saves = [
            ("the first row", None, "button", self.rows[0]),
            ("a note of three lines", "next", "menu", self.rows[1]),
            ("characters outside Windows-1251", "next", "button", self.rows[2]),
            ("typing not yet stored", "type", "menu", edited),
            ("the same row once more", None, "button", edited),
        ]
        with e2e.RunningProgram(self.workdir, "e2e-save") as program:
            program.wait_for_row(self.rows[0], "the first row at start-up")
            self.assertFalse(export.exists(), "info.dat before the first save")
            expected = b""
            for what, step, how, shown in saves:
                with self.subTest("%s, from the %s" % (what, how)):
                    if step == "next":
                        program.press("Следующая запись")
                    elif step == "type":
                        program.replace_text("Ярус", typed)
                    program.wait_for_row(shown, what)
                    if how == "button":
                        program.press("Сохранить")
                    else:
                        choose_from_menu(program, "Сохранить информацию в файл info.dat")
                    expected += export_line(shown)

                    def saved():
                        program.fail_on_message_box("after saving %s" % what)
                        return export.exists() and export.read_bytes() == expected

                    e2e.poll(saved, e2e.STEP_TIMEOUT, lambda: "info.dat holds %r, expected %r"
                             % (export.read_bytes() if export.exists() else None, expected))
            self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the window")
        self.assertEqual(export.read_bytes(), expected, "info.dat after the program ended")

    # Обновить

    def test_refresh_reads_the_workbook_again_and_shows_its_first_row(self):
        changed_rows = [list(row) for row in FIXTURE["sheets"][0]["rows"]]
        changed_rows[1][HEADER.index("Ярус")] = "Мегхалайский (изменён на диске)"
        replacement = self.scratch / "changed.xls"
        make_xls.make_workbook({"sheets": [{"name": "Лист1", "rows": changed_rows}]}, str(replacement))
        new_rows = e2e.expected_rows(replacement)

        with e2e.RunningProgram(self.workdir, "e2e-refresh") as program:
            program.wait_for_row(self.rows[0], "the first row at start-up")
            program.press("Следующая запись")
            program.press("Следующая запись")
            program.wait_for_row(self.rows[2], "the third row after pressing next twice")

            program.press("Обновить")
            program.wait_for_row(self.rows[0], "the first row after Обновить")

            # Someone else changes the workbook meanwhile: the next refresh shows the change.
            program.press("Следующая запись")
            program.wait_for_row(self.rows[1], "the second row")
            os.replace(replacement, self.workbook)
            choose_from_menu(program, "Обновить базу данных")
            program.wait_for_row(new_rows[0], "the changed first row after Обновить базы данных")
            program.fail_on_message_box("after refreshing")
            self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the window")

    def test_refresh_stores_typing_first(self):
        before = e2e.read_sheet(self.workbook)
        stage = HEADER.index("Ярус")
        typed = "Чансинский (правка)"
        pristine = self.scratch / "pristine.xls"
        shutil.copyfile(self.workbook, pristine)

        with e2e.RunningProgram(self.workdir, "e2e-refresh-edit") as program:
            program.wait_for_row(self.rows[0], "the first row at start-up")
            program.press("Следующая запись")
            program.press("Следующая запись")
            program.wait_for_row(self.rows[2], "the third row after pressing next twice")
            program.replace_text("Ярус", typed)
            self.assertTrue(filecmp.cmp(pristine, self.workbook, shallow=False),
                            "typing alone must not reach the workbook")

            program.press("Обновить")
            program.wait_for_row(self.rows[0], "the first row after Обновить")
            e2e.poll(lambda: e2e.read_sheet(self.workbook)[3][stage] == (xlrd.XL_CELL_TEXT, typed),
                     e2e.STEP_TIMEOUT, lambda: "the typing is not in the workbook after Обновить")

            program.press("Следующая запись")
            program.press("Следующая запись")
            program.wait_for_row(dict(self.rows[2], Ярус=typed), "the stored edit read back from the workbook")
            self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the window")

        expected = [list(row) for row in before]
        expected[3][stage] = (xlrd.XL_CELL_TEXT, typed)
        self.assertEqual(e2e.read_sheet(self.workbook), expected, "the sheet: only the typed cell changed")

    # Распечатать

    def test_print_puts_the_window_on_one_page(self):
        cups = PrivateCups()
        self.addCleanup(cups.stop)
        try:
            cups.start()
        except CupsUnavailable as reason:
            self.skipTest("no private cupsd with a CUPS-PDF printer here: %s" % reason)

        with ProgramWithEnvironment(self.workdir, "e2e-print", cups.environment()) as program:
            program.wait_for_row(self.rows[0], "the first row at start-up")
            other_row = self.client_area_shot(program, "e2e-print-first-row.png")
            program.press("Следующая запись")
            program.wait_for_row(self.rows[1], "the second row")
            shown = self.client_area_shot(program, "e2e-print-window.png")
            fields = self.field_areas(program)

            program.press("Распечатать")
            pdf = cups.wait_for_pdf(program)
            program.wait_for_row(self.rows[1], "the same row after printing")
            self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the window")

        info = subprocess.run(["pdfinfo", str(pdf)], capture_output=True, text=True, timeout=30).stdout
        pages = re.search(r"^Pages:\s*(\d+)$", info, re.MULTILINE)
        self.assertEqual(pages and pages.group(1), "1", "the printed PDF must hold one page:\n%s" % info)
        page = self.scratch / "page"
        subprocess.run(["pdftoppm", "-r", str(PAGE_DOTS_PER_INCH), "-png", "-singlefile", str(pdf), str(page)],
                       check=True, timeout=120)
        page = page.with_suffix(".png")
        shutil.copyfile(page, e2e.artefact_dir() / "e2e-print-page.png")

        # The window at its own size, 4.24 × 6.27 inches, from the top left of the printable
        # area: the page margins CUPS-PDF and Qt agree on are the same on both sides and
        # a small part of an inch.
        x, y, width, height = ink_box(page)
        scale = PAGE_DOTS_PER_INCH / SCREEN_DOTS_PER_INCH
        expected_size = (round(CLIENT_AREA[0] * scale), round(CLIENT_AREA[1] * scale))
        self.assertLessEqual(abs(width - expected_size[0]), 3, "printed width %d dots" % width)
        self.assertLessEqual(abs(height - expected_size[1]), 3, "printed height %d dots" % height)
        self.assertLessEqual(abs(x - y), 2, "left and top margins %d and %d dots" % (x, y))
        self.assertLessEqual(x, PAGE_DOTS_PER_INCH // 4, "the picture at the top left, not at %d,%d" % (x, y))

        # The picture is the window on the row it showed, not on another row.
        printed = self.scratch / "printed.png"
        code, text = magick("convert", str(page), "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                            "-resize", "%dx%d!" % CLIENT_AREA, str(printed))
        self.assertEqual(code, 0, text)
        whole = [(0, 0) + CLIENT_AREA]
        to_window = unlike_share(printed, shown, whole)
        fields_to_window = unlike_share(printed, shown, fields)
        fields_to_other_row = unlike_share(printed, other_row, fields)
        print("printed at %d,%d, %d×%d dots; pixels unlike the window %.4f, in the fields %.4f, "
              "unlike the first row in the fields %.4f"
              % (x, y, width, height, to_window, fields_to_window, fields_to_other_row))
        self.assertLess(to_window, 0.01, "the printed picture is not the window's")
        self.assertLess(fields_to_window, 0.01, "the printed fields are not the window's")
        self.assertGreater(fields_to_other_row, 0.015, "the printed fields do not show the second row")

    def field_areas(self, program):
        """Where the seven fields are in the client area: (x, y, width, height)."""
        (window_x, window_y, _, _), menu_bar_height = program.window_geometry()
        areas = []
        for name in e2e.FIELD_NAMES:
            box = program.field(name).queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            areas.append((box.x - window_x, box.y - window_y - menu_bar_height, box.width, box.height))
        return areas

    def client_area_shot(self, program, name):
        """The window below its menu bar as a PNG, kept next to the other artefacts."""
        (_, _, width, height), menu_bar_height = program.window_geometry()
        self.assertEqual((width, height - menu_bar_height), CLIENT_AREA, "client area below the menu bar")
        whole = program.screenshot(self.scratch / ("whole-" + name))
        path = e2e.artefact_dir() / name
        code, text = magick("convert", str(whole), "-crop", "%dx%d+0+%d" % (width, height - menu_bar_height,
                                                                            menu_bar_height),
                            "+repage", str(path))
        self.assertEqual(code, 0, text)
        return path

    # Выход

    def test_exit_leaves_the_about_box_open_until_it_is_closed(self):
        for how in ("button", "menu"):
            with self.subTest(how), e2e.RunningProgram(self.workdir, "e2e-exit-" + how) as program:
                program.wait_for_row(self.rows[0], "the first row at start-up")
                program.press("О программе")
                about = e2e.poll(lambda: top_level(program, ABOUT_CAPTION), e2e.STEP_TIMEOUT,
                                 lambda: "no window %r after О программе; the program has: %s"
                                 % (ABOUT_CAPTION, windows_of(program)))

                if how == "button":
                    program.press("Выход")
                else:
                    choose_from_menu(program, "Выход")
                e2e.poll(lambda: top_level(program, e2e.WINDOW_TITLE) is None, e2e.EXIT_TIMEOUT,
                         lambda: "the main window is still there after Выход; the program has: %s"
                         % windows_of(program))
                time.sleep(0.5)  # long enough for a wrongly ending program to be gone
                self.assertIsNone(program.process.poll(), "the program ended with the About box open")
                self.assertIsNotNone(top_level(program, ABOUT_CAPTION),
                                     "the About box closed with the main window")

                try:
                    with acting_in(program, about):
                        program.press("OK")
                except Exception:
                    if program.process.poll() is None:
                        raise  # the program may end before it answers the press; else a fault
                e2e.poll(lambda: program.process.poll() is not None or top_level(program, ABOUT_CAPTION) is None,
                         e2e.STEP_TIMEOUT, lambda: "the About box is still open after OK")
                self.assertEqual(program.wait_for_exit(), 0, "exit code once the About box is closed")


if __name__ == "__main__":
    unittest.main(verbosity=2)
