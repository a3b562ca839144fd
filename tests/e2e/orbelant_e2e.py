"""Drives the real Орбелант in a real X window through the accessibility tree (AT-SPI).

Run with Debian's /usr/bin/python3 (python3-pyatspi, python3-xlrd, python3-xlwt) inside the
session that run_e2e.sh prepares. What that session needs, found by trying it out on Debian 12
with Qt 6.4 and at-spi2-core 2.46:

  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -noreset 5>display-number &
  DISPLAY=:N XDG_RUNTIME_DIR=<private 0700 folder> dbus-run-session -- /usr/bin/python3 test.py

and the program started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 (QT_ACCESSIBILITY=1 is set as
well; it does no harm). Nothing has to be started by hand: the first client that asks the
session bus for org.a11y.Bus gets at-spi-bus-launcher by D-Bus activation, and the first
question to the desktop brings up at-spi2-registryd. But the order matters: the bus and the
registry must be up BEFORE the program starts. When the program itself is the first to ask for
the bus, it never appears on the desktop (6 of 6 tries), so start() asks the registry first.
Without QT_LINUX_ACCESSIBILITY_ALWAYS_ON Qt only exports its tree when a screen reader is
announced, and the program never shows up either. -noreset keeps Xvfb from resetting the
server between two programs when its last client goes away.

Keyboard input goes through the registry daemon (XTest under Xvfb), one key symbol per
character: Cyrillic keys are not on Xvfb's keymap, and the daemon borrows a spare key code for
each. Sending a whole string at once (KEY_STRING) loses that race and types "Юйййй…", so every
key is sent on its own and the field is polled until it has taken it.
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pyatspi
from gi.repository import Atspi, GLib

SOURCE_DIR = Path(__file__).resolve().parents[2]
SAMPLE_WORKBOOK = SOURCE_DIR / "sample" / "зендра.xls"
WORKBOOK_NAME = "зендра.xls"
WINDOW_TITLE = "Орбелант"

# The bound fields in the order of the workbook's columns: accessible name = column name.
FIELD_NAMES = ["Возраст", "Эонотема", "Эратема", "Система", "Отдел", "Ярус", "Органический мир"]

START_TIMEOUT = 30.0   # from exec to the first row shown; generous for a loaded CI machine
STEP_TIMEOUT = 5.0     # one click or key until the window shows its effect
EXIT_TIMEOUT = 15.0    # from the close command until the process has ended
POLL_INTERVAL = 0.02
PRESS_REPLY_TIMEOUT = 3.0         # a button's click handler runs before the reply comes
ATSPI_DEFAULT_TIMEOUTS = (800, 15000)  # libatspi's own: per call, and for an app just started

CONTROL_MASK = 1 << 2  # X11 ControlMask, for KEY_LOCKMODIFIERS

sys.path.insert(0, str(SOURCE_DIR / "tests" / "support"))


class E2EFailure(AssertionError):
    pass


def poll(probe, timeout, describe_failure):
    """Calls probe() until it returns something true and returns that; raises E2EFailure with
    describe_failure() (called at the end, so it can show the last state) after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except E2EFailure:
            raise
        except Exception as error:  # the tree can change under us while a window is built
            value, last_error = None, error
        else:
            last_error = None
        if value:
            return value
        if time.monotonic() >= deadline:
            detail = describe_failure()
            if last_error is not None:
                detail += " (last AT-SPI error: %s)" % last_error
            raise E2EFailure("%s (waited %.1f s)" % (detail, timeout))
        time.sleep(POLL_INTERVAL)


def artefact_dir():
    """Where screenshots are kept: ORBELANT_E2E_ARTEFACTS (the build folder under CTest)."""
    folder = Path(os.environ.get("ORBELANT_E2E_ARTEFACTS") or tempfile.gettempdir())
    folder.mkdir(parents=True, exist_ok=True)
    return folder


def program_path():
    path = os.environ.get("ORBELANT_PROGRAM")
    if not path or not os.access(path, os.X_OK):
        raise E2EFailure("ORBELANT_PROGRAM must name the built orbelant program, got %r" % path)
    return path


# Working folders.

def working_folder_with_sample(parent):
    """A new folder under `parent` holding a copy of the committed sample workbook."""
    folder = Path(tempfile.mkdtemp(prefix="work-", dir=parent))
    shutil.copyfile(SAMPLE_WORKBOOK, folder / WORKBOOK_NAME)
    return folder


def working_folder_with_fixture(parent, description):
    """A new folder under `parent` holding a workbook written by xlwt from `description`
    (the format of tests/support/make_xls.py)."""
    import make_xls
    folder = Path(tempfile.mkdtemp(prefix="work-", dir=parent))
    make_xls.make_workbook(description, str(folder / WORKBOOK_NAME))
    return folder


# The workbook as xlrd reads it: the independent view to check the window and the saves against.

def read_sheet(path, sheet_name="Лист1"):
    """All rows of the sheet as lists of xlrd cells (ctype, value)."""
    import xlrd
    book = xlrd.open_workbook(str(path))
    sheet = book.sheet_by_name(sheet_name)
    return [[(cell.ctype, cell.value) for cell in sheet.row(row)] for row in range(sheet.nrows)]


def shown_text(cell):
    """The text a bound field shows for an xlrd cell: numbers as the engine formats them
    (fewest digits, decimal comma), an empty or missing cell as an empty field."""
    import xlrd
    from xlrd_table import number_text
    ctype, value = cell
    if ctype == xlrd.XL_CELL_NUMBER:
        return number_text(value)
    if ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
        return ""
    return str(value)


def expected_rows(path):
    """The data rows as the window should show them: {column name: text}, keyed by the
    header row, so a reordered fixture still matches by name."""
    rows = read_sheet(path)
    header = [str(value) for _, value in rows[0]]
    shown = []
    for row in rows[1:]:
        cells = row + [(0, "")] * (len(header) - len(row))
        shown.append({name: shown_text(cells[header.index(name)]) for name in FIELD_NAMES})
    return shown


# The program.

def _wake_accessibility_registry():
    """Asks the registry for the desktop: D-Bus activation starts the accessibility bus and
    the registry now, before the program looks for them."""
    try:
        pyatspi.Registry.getDesktop(0).childCount
    except Exception as error:
        raise E2EFailure("the accessibility registry does not answer (%s); run inside "
                         "dbus-run-session with at-spi2-core installed" % error)


def _is(accessible, name, role):
    return accessible is not None and accessible.getRole() == role and accessible.name == name


def _describe_node(accessible):
    try:
        return "%s %r" % (accessible.getRoleName(), accessible.name)
    except Exception:
        return "<gone>"


class RunningProgram:
    """One run of the program in a working folder. Use as a context manager: leaving the
    block kills the program if it is still running and, after a failure, keeps a screenshot
    of the whole screen and the program's output next to the other artefacts."""

    def __init__(self, workdir, name="e2e"):
        self.workdir = Path(workdir)
        self.name = name
        self.process = None
        self.app = None
        self.window = None
        self.log_path = artefact_dir() / ("%s-program.log" % name)
        self.started_at = None
        self.first_row_after = None  # seconds from exec to the first row in the fields

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, kind, error, traceback):
        if error is not None:
            self._keep_evidence()
        self.kill()
        return False

    def start(self):
        environment = dict(os.environ)
        environment.update({
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            "LANG": environment.get("LANG") or "C.UTF-8",
        })
        _wake_accessibility_registry()
        with open(self.log_path, "wb") as log:
            self.started_at = time.monotonic()
            self.process = subprocess.Popen([program_path()], cwd=self.workdir, env=environment,
                                            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                            start_new_session=True)
        try:
            self.app = poll(self._find_application, START_TIMEOUT,
                            lambda: "the program did not appear on the accessibility bus"
                            + self._exit_note())
            self.window = poll(self._find_main_window, START_TIMEOUT,
                               lambda: "no frame named %r in the program's tree%s"
                               % (WINDOW_TITLE, self._exit_note()))
            poll(lambda: self.text("Возраст") or self.message_boxes(), START_TIMEOUT,
                 lambda: "the first row never appeared in the field Возраст" + self._exit_note())
            self.first_row_after = time.monotonic() - self.started_at
            self.fail_on_message_box("at start-up")
        except BaseException:
            self._keep_evidence()
            self.kill()
            raise

    def _exit_note(self):
        code = self.process.poll()
        if code is None:
            return ""
        return "; the program ended with exit code %s, output in %s" % (code, self.log_path)

    def _find_application(self):
        if self.process.poll() is not None:
            raise E2EFailure("the program ended at start-up with exit code %s; output in %s"
                             % (self.process.returncode, self.log_path))
        desktop = pyatspi.Registry.getDesktop(0)
        for application in desktop:
            if application is not None and application.get_process_id() == self.process.pid:
                return application
        return None

    def _find_main_window(self):
        # A message box at start-up comes before the main window is shown.
        self.fail_on_message_box("at start-up")
        for child in self.app:
            if _is(child, WINDOW_TITLE, pyatspi.ROLE_FRAME):
                return child
        return None

    # Looking things up.

    def find(self, name, role, within=None):
        """The control called `name` with AT-SPI role `role` (pyatspi.ROLE_*)."""
        root = within or self.window
        found = pyatspi.findDescendant(root, lambda node: _is(node, name, role))
        if found is None:
            names = sorted({_describe_node(node) for node in self._all_nodes(root)})
            raise E2EFailure("no %s named %r in the window; it holds: %s"
                             % (Atspi.role_get_name(role), name, ", ".join(names)))
        return found

    @staticmethod
    def _all_nodes(root):
        stack = [root]
        while stack:
            node = stack.pop()
            yield node
            stack.extend(child for child in node if child is not None)

    def field(self, name):
        return self.find(name, pyatspi.ROLE_TEXT)

    def text(self, field_name):
        """What the bound field shows now, read through the AT-SPI Text interface."""
        return self.field(field_name).queryText().getText(0, -1)

    def shown_row(self):
        return {name: self.text(name) for name in FIELD_NAMES}

    def wait_for_row(self, expected, what):
        """Polls until all seven fields show `expected` ({column: text}); `what` says which
        row that is, for the failure message."""
        last = {}

        def shows_expected():
            self.fail_on_message_box("while waiting for %s" % what)
            last.clear()
            last.update(self.shown_row())
            return last == expected

        def difference():
            wrong = ["%s: shows %r, expected %r" % (name, last.get(name), expected[name])
                     for name in FIELD_NAMES if last.get(name) != expected[name]]
            return "the window does not show %s; %s" % (what, "; ".join(wrong))

        poll(shows_expected, STEP_TIMEOUT, difference)

    def message_boxes(self):
        """The texts of the message boxes the program shows now (empty list when none)."""
        boxes = []
        for child in self.app:
            if child is None or child.getRole() not in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG):
                continue
            texts = [node.name for node in self._all_nodes(child)
                     if node.getRole() == pyatspi.ROLE_LABEL and node.name]
            boxes.append("%s: %s" % (child.name, " / ".join(texts)))
        return boxes

    def fail_on_message_box(self, when):
        boxes = self.message_boxes()
        if boxes:
            raise E2EFailure("the program showed a message box %s: %s" % (when, " | ".join(boxes)))

    # Acting as a person would.

    def press(self, button_name):
        """Clicks the push button called `button_name` through its AT-SPI action "Press"."""
        button = self.find(button_name, pyatspi.ROLE_PUSH_BUTTON)
        actions = button.queryAction()
        names = [actions.getName(index) for index in range(actions.nActions)]
        if "Press" not in names:
            raise E2EFailure("the button %r offers no action Press, only %s" % (button_name, names))
        # Qt runs the click inside the D-Bus call, so a click that opens a modal message box
        # answers only once the box is closed. Such a press ends when the box is up.
        Atspi.set_timeout(int(PRESS_REPLY_TIMEOUT * 1000), int(PRESS_REPLY_TIMEOUT * 1000))
        try:
            if not actions.doAction(names.index("Press")):
                raise E2EFailure("the button %r refused the action Press" % button_name)
        except GLib.Error as error:
            if not self.message_boxes():
                raise E2EFailure("the program gave no answer to pressing %r within %.0f s (%s)"
                                 % (button_name, PRESS_REPLY_TIMEOUT, error.message))
        finally:
            Atspi.set_timeout(*ATSPI_DEFAULT_TIMEOUTS)

    def replace_text(self, field_name, new_text):
        """Puts the keyboard focus into the field, selects all (Ctrl+A) and types `new_text`
        key by key, as a person at the keyboard would. The record source sees real typing."""
        field = self.field(field_name)
        if not field.queryComponent().grabFocus():
            raise E2EFailure("the field %r did not take the keyboard focus" % field_name)
        poll(lambda: field.getState().contains(pyatspi.STATE_FOCUSED), STEP_TIMEOUT,
             lambda: "the field %r never became focused" % field_name)
        text = field.queryText()
        old_text = text.getText(0, -1)
        registry = pyatspi.Registry
        registry.generateKeyboardEvent(CONTROL_MASK, None, pyatspi.KEY_LOCKMODIFIERS)
        try:
            registry.generateKeyboardEvent(ord("a"), None, pyatspi.KEY_SYM)
        finally:
            registry.generateKeyboardEvent(CONTROL_MASK, None, pyatspi.KEY_UNLOCKMODIFIERS)
        if old_text:
            poll(lambda: text.getNSelections() == 1 and tuple(text.getSelection(0)) == (0, len(old_text)),
                 STEP_TIMEOUT, lambda: "Ctrl+A did not select the whole text of %r" % field_name)
        for position, character in enumerate(new_text):
            registry.generateKeyboardEvent(self._key_symbol(character), None, pyatspi.KEY_SYM)
            typed_so_far = new_text[:position + 1]
            poll(lambda: text.getText(0, -1) == typed_so_far, STEP_TIMEOUT,
                 lambda: "after typing %r the field %r shows %r"
                 % (typed_so_far, field_name, text.getText(0, -1)))

    @staticmethod
    def _key_symbol(character):
        code = ord(character)
        if 0x20 <= code <= 0x7E or 0xA0 <= code <= 0xFF:
            return code            # Latin-1 key symbols are the code points themselves
        return 0x01000000 + code   # the X11 Unicode key symbols

    def window_titles(self):
        """The titles of the program's windows now on the screen, sorted: _NET_WM_NAME, the
        text a window manager puts in the title bar, read with xprop (x11-utils). With no
        window manager under Xvfb the top-level windows are the root window's children."""
        def run(*command):
            return subprocess.run(command, check=True, capture_output=True, timeout=STEP_TIMEOUT,
                                  env=dict(os.environ, LC_ALL="C.UTF-8")).stdout.decode()

        titles = []
        for window in re.findall(r"^\s+(0x[0-9a-f]+) ", run("xwininfo", "-root", "-children"), re.M):
            properties = run("xprop", "-id", window, "-notype", "_NET_WM_PID", "_NET_WM_NAME")
            if not re.search(r"^_NET_WM_PID = %d$" % self.process.pid, properties, re.M):
                continue
            if "Map State: IsViewable" not in run("xwininfo", "-id", window):
                continue
            title = re.search(r'^_NET_WM_NAME = "(.*)"$', properties, re.M)
            titles.append(title.group(1) if title else None)
        return sorted(titles, key=str)

    def window_geometry(self):
        """(x, y, width, height) of the main window and the height of its menu bar, on screen."""
        frame = self.window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        menu_bar = self.find("", pyatspi.ROLE_MENU_BAR).queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return (frame.x, frame.y, frame.width, frame.height), menu_bar.height

    def screenshot(self, path, whole_screen=False):
        """Saves the main window (or the whole screen) as a PNG with ImageMagick's import."""
        command = ["import", "-window", "root"]
        if not whole_screen:
            (x, y, width, height), _ = self.window_geometry()
            command += ["-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage"]
        command.append(str(path))
        subprocess.run(command, check=True, timeout=STEP_TIMEOUT * 2,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        return Path(path)

    # Ending.

    def close_with(self, button_name="Выход"):
        """Closes the window with its exit button (there is no window manager under Xvfb to
        send WM_DELETE_WINDOW; the button takes the same close path) and waits for the
        program to end. Returns the exit code."""
        self.press(button_name)
        return self.wait_for_exit()

    def wait_for_exit(self, timeout=EXIT_TIMEOUT):
        def ended():
            if self.process.poll() is not None:
                return True
            boxes = self.message_boxes() if self.app is not None else []
            if boxes:
                raise E2EFailure("closing showed a message box instead of ending: %s" % " | ".join(boxes))
            return False

        poll(ended, timeout, lambda: "the program did not end within the timeout after closing")
        return self.process.returncode

    def kill(self):
        if self.process is None or self.process.poll() is not None:
            return
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait(timeout=EXIT_TIMEOUT)

    def _keep_evidence(self):
        if self.process is None or self.process.poll() is not None:
            return
        try:
            shot = self.screenshot(artefact_dir() / ("%s-failure.png" % self.name), whole_screen=True)
            print("screen at the failure: %s; program output: %s" % (shot, self.log_path), file=sys.stderr)
        except Exception as error:
            print("could not keep a screenshot of the failure: %s" % error, file=sys.stderr)
