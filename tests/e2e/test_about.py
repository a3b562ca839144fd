#!/usr/bin/python3
"""The About box as a person uses it: opened with the main window's button, "System Info..."
starting the viewer found on PATH (a stand-in that leaves a note), and the program running on
after Выход until the box is closed too."""

import shutil
import tempfile
import time
import unittest
from pathlib import Path

import pyatspi

import orbelant_e2e as e2e

ABOUT = "About Орбелант"


class AboutBoxTest(unittest.TestCase):
    def test_about_box(self):
        scratch = Path(tempfile.mkdtemp(prefix="orbelant-e2e-"))
        self.addCleanup(shutil.rmtree, scratch, ignore_errors=True)
        workdir = e2e.working_folder(scratch)
        note = scratch / "viewer-started"
        viewer = scratch / "bin" / "hardinfo"
        viewer.parent.mkdir()
        viewer.write_text('#!/bin/sh\nprintf "%%s" "$0" > "%s"\n' % note)
        viewer.chmod(0o755)

        with e2e.RunningProgram(workdir, "e2e-about", environment={"PATH": str(viewer.parent)}) as program:
            program.press("О программе")
            about = e2e.poll(lambda: program.top_level(ABOUT), e2e.STEP_TIMEOUT, lambda: "no About box")
            program.find("Version 1.0.0", pyatspi.ROLE_LABEL, about)
            self.assertEqual(program.window_titles(), [ABOUT, e2e.WINDOW_TITLE])
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
            self.assertEqual(program.wait_for_exit(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
