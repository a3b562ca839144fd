"""Drives the real Орбелант in a real X window through the accessibility tree (AT-SPI).

Run with Debian's /usr/bin/python3 (python3-pyatspi, python3-xlrd) inside the session that
run_e2e.sh prepares: Xvfb, a private D-Bus session, XDG_RUNTIME_DIR of our own. Found by trying
on Debian 12 with Qt 6.4 and at-spi2-core 2.46:
- the accessibility bus and registry come up by D-Bus activation, but they must be up BEFORE
  the program starts, or the program never appears on the desktop; start() asks first;
- the program needs QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1, or Qt exports its tree only when a
  screen reader is announced;
- keys go through the registry daemon (XTest), one key symbol at a time, each waited for, and
  Latin ones only: Cyrillic keys are not on Xvfb's keymap, and a key the daemon maps to a
  borrowed key code is now and then lost;
- Qt runs a button's "Press" action inside the D-Bus call, so a press that opens a modal box
  answers only when the box is closed: such buttons are clicked with the mouse instead.
"""

import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pyatspi
import xlrd
from gi.repository import Atspi

SOURCE_DIR = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE_DIR / "tests" / "support"))
from xls_oracle import number_text  # noqa: E402

ARTEFACTS = Path(os.environ["ORBELANT_E2E_ARTEFACTS"])  # screenshots and the program's output
SAMPLE_WORKBOOK = SOURCE_DIR / "sample" / "зендра.xls"
WORKBOOK_NAME = "зендра.xls"
WINDOW_TITLE = "Орбелант"
FIELD_NAMES = ["Возраст", "Эонотема", "Эратема", "Система", "Отдел", "Ярус", "Органический мир"]
START_TIMEOUT = 30.0  # from exec to the first row shown, on a loaded CI machine
STEP_TIMEOUT = 5.0    # one click or key until the window shows its effect


def poll(probe, timeout, describe):
    """Calls probe() until it gives something true and returns that; raises AssertionError with
    describe() after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except AssertionError:
            raise
        except Exception:  # the tree changes under us while a window is built
            value = None
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("%s (waited %.0f s)" % (describe(), timeout))
        time.sleep(0.02)


def read_sheet(path):
    """The sheet's rows as xlrd reads them: lists of (ctype, value)."""
    sheet = xlrd.open_workbook(str(path)).sheet_by_index(0)
    return [[(cell.ctype, cell.value) for cell in sheet.row(row)] for row in range(sheet.nrows)]


def expected_rows(path):
    """The data rows as the fields should show them, {column: text}, by xlrd."""
    rows = read_sheet(path)
    header = [value for _, value in rows[0]]
    shown = []
    for row in rows[1:]:
        texts = [number_text(value) if ctype == xlrd.XL_CELL_NUMBER else str(value) for ctype, value in row]
        shown.append({name: texts[header.index(name)] for name in FIELD_NAMES})
    return shown


class RunningProgram:
    """One run of the program in a working folder, with `environment` changes (None removes a
    variable). Leaving the block kills it if it still runs; after a failure a screenshot and
    its output are kept among the artefacts."""

    def __init__(self, workdir, name, program=None, environment=None):
        self.workdir, self.name = Path(workdir), name
        self.program = program or os.environ["ORBELANT_PROGRAM"]
        self.environment = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                                LANG=os.environ.get("LANG") or "C.UTF-8")
        for key, value in (environment or {}).items():
            self.environment.pop(key, None) if value is None else self.environment.__setitem__(key, value)
        self.log_path = ARTEFACTS / ("%s-program.log" % name)

    def __enter__(self):
        pyatspi.Registry.getDesktop(0).childCount  # wakes the accessibility bus and registry
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen([self.program], cwd=self.workdir, env=self.environment,
                                            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                            start_new_session=True)
        try:
            self.app = poll(self._application, START_TIMEOUT, lambda: "the program is not on the accessibility bus")
            self.window = poll(lambda: self.top_level(WINDOW_TITLE), START_TIMEOUT, lambda: "no main window")
            poll(lambda: self.text("Возраст") or self.alerts(), START_TIMEOUT, lambda: "no first row")
            self.fail_on_alert("at start-up")
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def __exit__(self, kind, error, traceback):
        if error is not None and self.process.poll() is None:
            subprocess.run(["import", "-window", "root", str(ARTEFACTS / ("%s-failure.png" % self.name))])
            print("failure: screen and program output kept in %s" % ARTEFACTS, file=sys.stderr)
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        return False

    def _application(self):
        if self.process.poll() is not None:
            raise AssertionError("the program ended at start-up, exit code %s; output in %s"
                             % (self.process.returncode, self.log_path))
        return next((app for app in pyatspi.Registry.getDesktop(0)
                     if app is not None and app.get_process_id() == self.process.pid), None)

    def top_level(self, name):
        """The program's window called `name`, or None."""
        return next((child for child in self.app if child is not None and child.name == name), None)

    def find(self, name, role, within=None):
        root = within or self.window
        found = pyatspi.findDescendant(root, lambda node: node.getRole() == role and node.name == name)
        if found is None:
            raise AssertionError("no %s named %r in %r" % (Atspi.role_get_name(role), name, root.name))
        return found

    def text(self, field_name, within=None):
        return self.find(field_name, pyatspi.ROLE_TEXT, within).queryText().getText(0, -1)

    def wait_for_row(self, expected, what):
        """Waits until the seven fields show `expected` ({column: text})."""
        shown = {}

        def shows():
            self.fail_on_alert("while waiting for %s" % what)
            shown.update({name: self.text(name) for name in FIELD_NAMES})
            return shown == expected

        poll(shows, STEP_TIMEOUT, lambda: "the window does not show %s: %r" % (what, shown))

    def alerts(self):
        """The message boxes now open: [(caption, text, accessible)]."""
        def label(node):
            return node.getRole() == pyatspi.ROLE_LABEL and node.name

        return [(child.name, "\n".join(node.name for node in pyatspi.findAllDescendants(child, label)), child)
                for child in self.app if child is not None and child.getRole() == pyatspi.ROLE_ALERT]

    def fail_on_alert(self, when):
        if self.alerts():
            raise AssertionError("a message box %s: %s" % (when, [text for _, text, _ in self.alerts()]))

    def answer_alert(self, button):
        """Waits for the one message box, presses `button` in it, and gives (caption, text, whether
        it shows an icon)."""
        caption, text, box = poll(lambda: self.alerts()[0], STEP_TIMEOUT, lambda: "no message box")
        icon = pyatspi.findDescendant(box, lambda node: node.getRole() == pyatspi.ROLE_IMAGE) is not None
        self.press(button, within=box)
        poll(lambda: not self.alerts(), STEP_TIMEOUT, lambda: "the message box stays after %s" % button)
        return caption, text, icon

    def press(self, name, within=None):
        """Presses a button through its accessible action."""
        actions = self.find(name, pyatspi.ROLE_PUSH_BUTTON, within).queryAction()
        actions.doAction([actions.getName(i) for i in range(actions.nActions)].index("Press"))

    def click(self, name, role=pyatspi.ROLE_PUSH_BUTTON, within=None):
        """A left click in the middle of the control, through XTest; returns at once."""
        box = self.find(name, role, within).queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        pyatspi.Registry.generateMouseEvent(box.x + box.width // 2, box.y + box.height // 2, "b1c")

    def replace_text(self, field_name, new_text, within=None):
        """Empties the field, focuses it and types `new_text` (Latin) key by key."""
        field = self.find(field_name, pyatspi.ROLE_TEXT, within)
        field.queryEditableText().setTextContents("")
        field.queryComponent().grabFocus()
        poll(lambda: field.getState().contains(pyatspi.STATE_FOCUSED), STEP_TIMEOUT, lambda: "no focus")
        text = field.queryText()
        for end in range(1, len(new_text) + 1):
            pyatspi.Registry.generateKeyboardEvent(ord(new_text[end - 1]), None, pyatspi.KEY_SYM)
            poll(lambda: text.getText(0, -1) == new_text[:end], STEP_TIMEOUT,
                 lambda: "typed %r, the field shows %r" % (new_text[:end], text.getText(0, -1)))

    def screenshot(self, name, component=None):
        """Saves the screen, or the part `component` covers, among the artefacts."""
        command = ["import", "-window", "root"]
        if component is not None:
            box = component.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            command += ["-crop", "%dx%d+%d+%d" % (box.width, box.height, box.x, box.y), "+repage"]
        subprocess.run(command + [str(ARTEFACTS / name)], check=True, timeout=30)
        return ARTEFACTS / name
