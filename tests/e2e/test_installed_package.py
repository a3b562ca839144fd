#!/usr/bin/python3
"""The program from the Debian package, unpacked by tests/package/check_package.sh into the
root named by ORBELANT_PACKAGE_ROOT: started directly in a working folder with a copy of the
packaged sample, and started through the packaged launcher in a fresh home folder. Both must
show the first row of the time scale (Возраст 0,0042)."""

import filecmp
import os
import shutil
import tempfile
import unittest
from contextlib import contextmanager
from pathlib import Path

import orbelant_e2e as e2e

FIRST_AGE = "0,0042"


def package_root():
    root = os.environ.get("ORBELANT_PACKAGE_ROOT")
    if not root or not Path(root, "usr/bin/orbelant").is_file():
        raise e2e.E2EFailure("ORBELANT_PACKAGE_ROOT must name the unpacked package, got %r" % root)
    return Path(root)


@contextmanager
def environment(**values):
    """Sets environment variables for the block: the program started in it inherits them."""
    saved = {name: os.environ.get(name) for name in values}
    os.environ.update(values)
    try:
        yield
    finally:
        for name, value in saved.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value


class InstalledPackageTest(unittest.TestCase):
    def setUp(self):
        self.root = package_root()
        self.packaged_sample = self.root / "usr/share/orbelant" / e2e.WORKBOOK_NAME
        self.scratch = Path(tempfile.mkdtemp(prefix="orbelant-package-e2e-"))

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def assert_shows_first_row(self, program, workbook):
        expected = e2e.expected_rows(workbook)[0]
        self.assertEqual(expected["Возраст"], FIRST_AGE, "the sample's first age as xlrd reads it")
        program.wait_for_row(expected, "the first row of the packaged sample")
        self.assertEqual(program.text("Возраст"), FIRST_AGE)

    def test_installed_program_shows_the_first_row(self):
        workdir = self.scratch / "work"
        workdir.mkdir()
        shutil.copyfile(self.packaged_sample, workdir / e2e.WORKBOOK_NAME)

        with environment(ORBELANT_PROGRAM=str(self.root / "usr/bin/orbelant")):
            with e2e.RunningProgram(workdir, "package-program") as program:
                self.assert_shows_first_row(program, workdir / e2e.WORKBOOK_NAME)
                print("first row shown %.2f s after start" % program.first_row_after)
                self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the window")

    def test_launcher_gives_a_new_user_the_folder_with_the_sample(self):
        home = self.scratch / "home"
        home.mkdir()
        started_from = self.scratch / "elsewhere"  # the launcher must not work here
        started_from.mkdir()
        own_folder = home / "Орбелант"

        with environment(ORBELANT_PROGRAM=str(self.root / "usr/bin/orbelant-launcher"), HOME=str(home)):
            with e2e.RunningProgram(started_from, "package-launcher") as program:
                # The launcher replaces itself with the program: same process.
                self.assertEqual(Path(os.readlink("/proc/%d/cwd" % program.process.pid)), own_folder,
                                 "the program's working folder")
                self.assertTrue(filecmp.cmp(self.packaged_sample, own_folder / e2e.WORKBOOK_NAME, shallow=False),
                                "~/Орбелант must hold a copy of the packaged sample")
                self.assert_shows_first_row(program, own_folder / e2e.WORKBOOK_NAME)
                self.assertEqual(program.close_with("Выход"), 0, "exit code after closing the window")

        self.assertEqual(sorted(path.name for path in own_folder.iterdir()), [e2e.WORKBOOK_NAME],
                         "what the launcher and the program leave in ~/Орбелант")
        self.assertEqual(list(started_from.iterdir()), [], "nothing may be written where it was started")


if __name__ == "__main__":
    unittest.main(verbosity=2)
