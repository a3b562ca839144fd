#!/usr/bin/python3
"""The About box as a person uses it: opened with the main window's button "О программе",
its three captions read through the accessibility tree, "System Info..." pressed, the box
closed with OK.

Which viewer "System Info..." finds depends on the programs on PATH, so the program is
started with a PATH of one folder of our own: empty for the machine without a viewer, or
holding a stand-in viewer that leaves a note when it is started."""

import os
import shutil
import tempfile
import unittest
from pathlib import Path
from unittest import mock

import pyatspi
from gi.repository import Atspi, GLib

import orbelant_e2e as e2e

ABOUT_CAPTION = "About Орбелант"
TITLE = "Орбелант"
VERSION = "Version 1.0.0"
UNAVAILABLE = "System Information Is Unavailable At This Time"
CLIENT_AREA = (156, 129, 484, 246)  # x, y, width, height on the screen
TITLE_AT = (168, 8)                 # lblTitle and lblVersion inside the client area
VERSION_AT = (168, 48)


class ProgramWithPath(e2e.RunningProgram):
    """The program started with PATH set to one folder; the test's own PATH is left alone."""

    def __init__(self, workdir, name, path_folder):
        super().__init__(workdir, name)
        self.path_folder = path_folder

    def start(self):
        with mock.patch.dict(os.environ, {"PATH": str(self.path_folder)}):
            super().start()


def extents(accessible):
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def press_within(program, container, button_name):
    """Presses the button `button_name` inside `container` (a window other than the main
    window). A press that opens a modal message box answers only when the box is closed;
    it ends here as soon as the box is up."""
    button = program.find(button_name, pyatspi.ROLE_PUSH_BUTTON, within=container)
    actions = button.queryAction()
    names = [actions.getName(index) for index in range(actions.nActions)]
    if "Press" not in names:
        raise e2e.E2EFailure("the button %r offers no action Press, only %s" % (button_name, names))
    Atspi.set_timeout(int(e2e.PRESS_REPLY_TIMEOUT * 1000), int(e2e.PRESS_REPLY_TIMEOUT * 1000))
    try:
        if not actions.doAction(names.index("Press")):
            raise e2e.E2EFailure("the button %r refused the action Press" % button_name)
    except GLib.Error as error:
        if not alerts(program):
            raise e2e.E2EFailure("the program gave no answer to pressing %r within %.0f s (%s)"
                                 % (button_name, e2e.PRESS_REPLY_TIMEOUT, error.message))
    finally:
        Atspi.set_timeout(*e2e.ATSPI_DEFAULT_TIMEOUTS)


def about_box(program):
    """The About box's window, or None while it is not open."""
    for child in program.app:
        if child is not None and child.name == ABOUT_CAPTION:
            return child
    return None


def alerts(program):
    """The message boxes now open, as (caption, [label texts], accessible)."""
    found = []
    for child in program.app:
        if child is None or child.getRole() != pyatspi.ROLE_ALERT:
            continue
        texts = [node.name for node in program._all_nodes(child)
                 if node.getRole() == pyatspi.ROLE_LABEL and node.name]
        found.append((child.name, texts, child))
    return found


class AboutBoxTest(unittest.TestCase):
    def setUp(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="orbelant-e2e-"))
        self.workdir = e2e.working_folder_with_sample(self.scratch)
        self.path_folder = self.scratch / "bin"
        self.path_folder.mkdir()

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def open_about_box(self, program):
        program.press("О программе")
        about = e2e.poll(lambda: about_box(program), e2e.STEP_TIMEOUT,
                         lambda: "no window %r after pressing О программе" % ABOUT_CAPTION)
        e2e.poll(lambda: about.childCount > 0, e2e.STEP_TIMEOUT, lambda: "the About box has no controls")
        return about

    def close_about_box(self, program, about):
        press_within(program, about, "OK")
        e2e.poll(lambda: about_box(program) is None, e2e.STEP_TIMEOUT,
                 lambda: "the About box is still open after OK")

    def test_captions_and_system_info_without_a_viewer(self):
        with ProgramWithPath(self.workdir, "e2e-about", self.path_folder) as program:
            about = self.open_about_box(program)

            self.assertEqual(extents(about), CLIENT_AREA, "the box's client area on the screen")
            x, y, _, _ = CLIENT_AREA
            title = program.find(TITLE, pyatspi.ROLE_LABEL, within=about)
            version = program.find(VERSION, pyatspi.ROLE_LABEL, within=about)
            self.assertEqual(extents(title)[:2], (x + TITLE_AT[0], y + TITLE_AT[1]), "lblTitle's place")
            self.assertEqual(extents(version)[:2], (x + VERSION_AT[0], y + VERSION_AT[1]), "lblVersion's place")
            shot = program.screenshot(e2e.artefact_dir() / "e2e-about.png", whole_screen=True)
            print("screenshot with the About box: %s" % shot)

            press_within(program, about, "System Info...")
            caption, texts, box = e2e.poll(lambda: next(iter(alerts(program)), None), e2e.STEP_TIMEOUT,
                                           lambda: "no message box after pressing System Info...")
            self.assertEqual(texts, [UNAVAILABLE], "the message's text")
            self.assertEqual(caption, TITLE, "the message's caption")
            self.assertEqual(len(alerts(program)), 1, "one message box")
            self.assertEqual(program.window_titles(), [ABOUT_CAPTION, TITLE, TITLE],
                             "the titles a window manager shows: the About box, the main window, the message")

            press_within(program, box, "OK")
            e2e.poll(lambda: not alerts(program), e2e.STEP_TIMEOUT,
                     lambda: "the message box is still open after OK")
            self.assertIsNotNone(about_box(program), "the About box stays open after the message")

            self.close_about_box(program, about)
            self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the main window")

    def test_system_info_starts_the_viewer_on_the_path(self):
        note = self.scratch / "viewer-started"
        viewer = self.path_folder / "hardinfo"
        viewer.write_text('#!/bin/sh\nprintf "%%s" "$0" > "%s"\n' % note)
        viewer.chmod(0o755)

        with ProgramWithPath(self.workdir, "e2e-about-viewer", self.path_folder) as program:
            about = self.open_about_box(program)
            press_within(program, about, "System Info...")
            e2e.poll(lambda: note.exists() and note.read_text(), e2e.STEP_TIMEOUT,
                     lambda: "the viewer was not started")
            self.assertEqual(note.read_text(), str(viewer), "the viewer started by its full path")
            self.assertEqual(alerts(program), [], "no message when the viewer starts")

            self.close_about_box(program, about)
            self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the main window")


if __name__ == "__main__":
    unittest.main(verbosity=2)
