#!/usr/bin/python3
"""The Windows build under wine, checked from the Linux side.

  wine_tests.py BUILD_FOLDER WORK_FOLDER

BUILD_FOLDER is the build-windows/ folder of scripts/build-windows.sh. In a wine prefix and
on an X display of its own (Xvfb) it runs:
  - orbelant-xls.exe over the shared workbook corpus (../shared/xls-corpus; skipped when
    absent): each sheet reads as xlrd reads it, one stored cell per workbook is read back by
    xlrd with every other stream and storage unchanged, and what is not an Excel 97 workbook
    is read or refused with a message, never a crash; a workbook it may not write is refused
    with its cause;
  - orbelant-xls.exe drawing the sample's chart as PDF, SVG and PNG;
  - Орбелант.exe on a copy of the sample workbook, worked with xdotool's clicks and keys at
    the places the window's fixed layout gives, the chart window opened from its menu.
Screenshots and the program's output are left in WORK_FOLDER.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import time
import unittest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tests" / "support"))
import xls_oracle  # noqa: E402  (xlrd's tables and container entries)

BUILD, WORK = (pathlib.Path(folder).resolve() for folder in sys.argv[1:3])
CORPUS = SOURCE.parent / "shared" / "xls-corpus"

# The window's fixed layout, in pixels of its client area below the menu bar.
CLIENT_AREA = (407, 602)
FIELD_AGE = (147, 136, 225, 19)       # Text1 (Возраст): x, y, width, height
FIELD_STAGE = (259, 345)              # Text6 (Ярус), its middle
NEXT_RECORD = (334, 108)              # the navigation bar's "next" button
ABOUT_BUTTON = (199, 36)              # Command5
CLOSE_BUTTON = (367, 36)              # Command6
ABOUT_OK = (437, 194)                 # the About box's cmdOK, in its client area
SYSINFO_BUTTON = (437, 224)           # and its cmdSysInfo
ACTION_MENU = (25, -10)               # "Действие" on the menu bar, above the client area
PHANEROZOIC = b"\x9a\xd9\xdd"          # the Phanerozoic's colour on the chart
VIEWER_KEY = r"HKLM\SOFTWARE\Microsoft\Shared Tools\MSINFO"
STEP_TIMEOUT = 60.0


def wine(*arguments, cwd=None, timeout=120):
    return subprocess.run(["wine", *map(str, arguments)], cwd=cwd, capture_output=True, timeout=timeout)


def console_text(output):
    return output.replace(b"\r\n", b"\n").decode("utf-8")


def xlrd_table(path, sheet=None):
    """The sheet (else the first) as xlrd reads it, its name and the BIFF version; None when xlrd refuses."""
    _, book = xls_oracle.open_book(pathlib.Path(path).read_bytes())
    if book is None:
        return None, None, None
    sheet = sheet or book.sheet_names()[0]
    table = xls_oracle.table_text(book.sheet_by_name(sheet), book.datemode) if book.biff_version == 80 else None
    return table, sheet, book.biff_version


def entries_beside_the_workbook(path):
    """Every entry but the Workbook stream, with each storage's class id and a hash of each stream."""
    entries, _ = xls_oracle.entries(path.read_bytes())
    return [entry for entry in entries if entry["path"].lower() != "workbook"]


def poll(probe, describe, timeout=STEP_TIMEOUT):
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out: " + describe())
        time.sleep(0.2)


def opened_by_a_process(path):
    """Whether any process has the file open (wine's server does while a program has a handle to it)."""
    target = str(path.resolve())
    for link in pathlib.Path("/proc").glob("[0-9]*/fd/*"):
        try:
            if os.readlink(link) == target:
                return True
        except OSError:
            pass
    return False


def xdotool(*arguments):
    return subprocess.run(["xdotool", *map(str, arguments)], capture_output=True, text=True).stdout.split()


def windows_named(title):
    return xdotool("search", "--onlyvisible", "--name", "^%s$" % re.escape(title))


def geometry(window):
    values = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", window))
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def click(x, y):
    xdotool("mousemove", "--sync", x, y, "click", 1)


def pixels_of(colour, x, y, width, height):
    shot = subprocess.run(["import", "-silent", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                           "-depth", "8", "rgb:-"], capture_output=True).stdout
    return sum(1 for at in range(0, len(shot) - 2, 3) if shot[at:at + 3] == colour)


def dark_pixels(x, y, width, height):
    shot = subprocess.run(["import", "-silent", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                           "-depth", "8", "gray:-"], capture_output=True).stdout
    return sum(1 for value in shot if value < 128)


class WorkbookTool(unittest.TestCase):
    """orbelant-xls.exe reads and stores through Windows' structured storage."""

    def test_corpus_reads_and_stores_as_xlrd_sees_them(self):
        if not CORPUS.is_dir():
            self.skipTest("no workbook corpus beside this checkout")
        folder = WORK / "corpus"
        folder.mkdir(exist_ok=True)
        stored = 0
        for book in sorted(CORPUS.glob("*.xls")) + sorted(CORPUS.glob("bad/*.xls")):
            with self.subTest(book.name):
                stored += self.check_workbook(book, folder / book.name)
        self.assertGreater(stored, 30, "workbooks stored into")

    def check_workbook(self, book, copy):
        expected, sheet, version = xlrd_table(book)
        dumped = wine(BUILD / "bin" / "orbelant-xls.exe", "dump", book, sheet or "Лист1")
        if version != 80 or book.parent.name == "bad":
            # Older than Excel 97, encrypted, damaged or refused by xlrd: read, or refused with a message.
            self.assertIn(dumped.returncode, (0, 2), dumped.stderr.decode("utf-8", "replace"))
            self.assertTrue(dumped.returncode == 0 or dumped.stderr.strip())
            return 0
        self.assertEqual(dumped.returncode, 0, console_text(dumped.stderr))
        self.assertEqual(console_text(dumped.stdout), expected)

        lines = expected.split("\n")
        if len(lines) < 3:
            return 0  # no record to store into
        header, record = lines[0].split("\t"), lines[1].split("\t")
        # A number text stores as a number into a number cell and as text into any other,
        # and xlrd shows both alike; a date cell would show it as a date.
        dated = re.compile(r"^\d\d\.\d\d\.\d{4}( |$)|^\d\d:\d\d:\d\d$")
        column = next((i for i, name in enumerate(header) if header.index(name) == i and not dated.match(record[i])), None)
        if column is None:
            return 0
        shutil.copyfile(book, copy)
        copy.chmod(0o644)
        result = wine(BUILD / "bin" / "orbelant-xls.exe", "set", copy, sheet, 1, header[column], "1234,5")
        if result.returncode != 0:  # a cell the engine does not rewrite, such as a shared formula
            self.assertEqual(result.returncode, 2)
            self.assertTrue(result.stderr.strip())
            self.assertEqual(copy.read_bytes(), book.read_bytes())
            return 0
        record[column] = "1234,5"
        lines[1] = "\t".join(record)
        self.assertEqual(xlrd_table(copy, sheet)[0], "\n".join(lines))
        self.assertEqual(entries_beside_the_workbook(copy), entries_beside_the_workbook(book))
        return 1

    def test_refusals_name_their_cause(self):
        """A workbook the tool may not write: the reason, and the workbook and its folder as they were."""
        causes = {
            "read-only attribute": "защищён от записи",
            "held open by another program": "заблокирована другой программой",
            "folder missing": "не найден",
            "a folder in the file's place": "Не удаётся прочитать файл",
        }
        for number, (cause, words) in enumerate(causes.items()):
            with self.subTest(cause):
                folder = WORK / "refusal-{}".format(number)
                folder.mkdir()
                workbook = folder / "зендра.xls"
                shutil.copyfile(SOURCE / "sample" / "зендра.xls", workbook)
                holder = None
                if cause == "read-only attribute":
                    workbook.chmod(0o444)  # wine shows a file without write permission so
                elif cause == "held open by another program":
                    # cmd's input redirection shares the file for reading only, as Excel does.
                    holder = subprocess.Popen(["wine", "cmd", "/c", "ping -n 30 127.0.0.1 >nul <зендра.xls"], cwd=folder)
                    poll(lambda: opened_by_a_process(workbook), lambda: "the workbook is not held open")
                elif cause == "folder missing":
                    workbook = folder / "нет" / "зендра.xls"
                else:
                    workbook.unlink()
                    workbook.mkdir()
                before = sorted((entry.name, entry.is_file() and entry.read_bytes()) for entry in folder.iterdir())
                result = wine(BUILD / "bin" / "orbelant-xls.exe", "set", workbook, "Лист1", 1, "Ярус", "нельзя")
                if holder:
                    holder.kill()
                    holder.wait()
                self.assertEqual(result.returncode, 2)
                self.assertIn(words, console_text(result.stderr))
                self.assertIn("зендра.xls", console_text(result.stderr))
                self.assertEqual(sorted((entry.name, entry.is_file() and entry.read_bytes()) for entry in folder.iterdir()), before)

    def test_chart_files(self):
        for kind, start in (("pdf", b"%PDF-"), ("svg", b"<?xml"), ("png", b"\x89PNG")):
            path = WORK / ("chart." + kind)
            drawn = wine(BUILD / "bin" / "orbelant-xls.exe", "chart", SOURCE / "sample" / "зендра.xls", "Лист1", path)
            self.assertEqual(drawn.returncode, 0, console_text(drawn.stderr))
            self.assertTrue(path.read_bytes().startswith(start), kind)


class Program(unittest.TestCase):
    """Орбелант.exe on a copy of the sample, worked as a person would work it."""

    def setUp(self):
        self.folder = WORK / "program"
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir()
        self.workbook = self.folder / "зендра.xls"
        shutil.copyfile(SOURCE / "sample" / "зендра.xls", self.workbook)
        self.log = open(WORK / "program.log", "wb")
        self.process = None

    def tearDown(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
        self.log.close()

    def stored_stage(self):
        """Ярус of record 1, or None while the workbook is being replaced: wine's ReplaceFileW
        moves the old file aside before the new one takes its name."""
        try:
            return xlrd_table(self.workbook)[0].split("\n")[1].split("\t")[5]
        except Exception:
            return None

    def at(self, point):
        return self.origin[0] + point[0], self.origin[1] + point[1]

    def screenshot(self, name):
        subprocess.run(["import", "-silent", "-window", "root", WORK / name], check=False)

    def test_shows_stores_and_starts_the_viewer(self):
        self.process = subprocess.Popen(["wine", BUILD / "bin" / "Орбелант.exe"], cwd=self.folder,
                                        stdout=self.log, stderr=self.log)
        window = poll(lambda: windows_named("Орбелант"), lambda: "no window «Орбелант»")[0]
        x, y, width, height = geometry(window)
        # Without a window manager the X window is the client area: menu bar, then the form.
        self.assertEqual(width, CLIENT_AREA[0])
        self.assertGreater(height, CLIENT_AREA[1])
        self.origin = (x, y + height - CLIENT_AREA[1])
        x, y, width, height = FIELD_AGE  # inside its frame
        poll(lambda: dark_pixels(*self.at((x + 3, y + 3)), width - 6, height - 6) > 10,
             lambda: "no text in the field Возраст")
        self.screenshot("wine-main-window.png")

        click(*self.at(FIELD_STAGE))
        xdotool("key", "--clearmodifiers", "ctrl+a")
        # Typed in Latin letters: xdotool maps Cyrillic onto spare keys, and wine misses the
        # first key after each new mapping.
        xdotool("type", "--delay", 50, "Stage typed under Wine")
        click(*self.at(NEXT_RECORD))
        poll(lambda: self.stored_stage() == "Stage typed under Wine",
             lambda: "record 1 holds %r in Ярус" % self.stored_stage())

        # The chart from the menu (its fifth item), in the chart's colours; Alt+F4 closes it.
        click(*self.at(ACTION_MENU))
        xdotool("key", "--delay", 100, "Down", "Down", "Down", "Down", "Down", "Return")
        chart = poll(lambda: windows_named("Геохронологическая шкала"), lambda: "no chart window")[0]
        chart_x, chart_y, chart_width, chart_height = geometry(chart)
        poll(lambda: pixels_of(PHANEROZOIC, chart_x, chart_y, chart_width, chart_height) > 1000,
             lambda: "no Phanerozoic on the chart")
        self.screenshot("wine-chart-window.png")
        xdotool("key", "alt+F4")
        poll(lambda: not windows_named("Геохронологическая шкала"), lambda: "the chart window stays")

        # Wine's registry names no viewer: the launcher says so in a box of the program's title.
        click(*self.at(ABOUT_BUTTON))
        about = poll(lambda: windows_named("About Орбелант"), lambda: "no About box")[0]
        about_x, about_y, _, _ = geometry(about)
        click(about_x + SYSINFO_BUTTON[0], about_y + SYSINFO_BUTTON[1])
        poll(lambda: len(windows_named("Орбелант")) == 2, lambda: "no message box")
        self.screenshot("wine-sysinfo-message.png")
        xdotool("key", "Return")
        poll(lambda: len(windows_named("Орбелант")) == 1, lambda: "the message box stays")

        # Named in the registry, Wine's own viewer is started.
        added = wine("reg", "add", VIEWER_KEY, "/v", "PATH", "/t", "REG_SZ", "/d",
                     r"C:\windows\system32\msinfo32.exe", "/f")
        self.assertEqual(added.returncode, 0)
        click(about_x + SYSINFO_BUTTON[0], about_y + SYSINFO_BUTTON[1])
        poll(lambda: windows_named("About System Information"), lambda: "the viewer did not start")

        click(about_x + ABOUT_OK[0], about_y + ABOUT_OK[1])
        poll(lambda: not windows_named("About Орбелант"), lambda: "the About box stays")
        click(*self.at(CLOSE_BUTTON))
        self.assertEqual(self.process.wait(timeout=STEP_TIMEOUT), 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
