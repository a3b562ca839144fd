#!/usr/bin/python3
"""The program from the Debian package, unpacked into ORBELANT_PACKAGE_ROOT by
tests/package/check_package.sh, started through its launcher by a new user: it works in
~/Орбелант, which gets a copy of the packaged sample, and shows the sample's first row."""

import filecmp
import os
import shutil
import tempfile
import unittest
from pathlib import Path

import orbelant_e2e as e2e


class InstalledPackageTest(unittest.TestCase):
    def test_launcher_starts_the_program_for_a_new_user(self):
        root = Path(os.environ["ORBELANT_PACKAGE_ROOT"])
        scratch = Path(tempfile.mkdtemp(prefix="orbelant-package-"))
        self.addCleanup(shutil.rmtree, scratch, ignore_errors=True)
        (scratch / "home").mkdir()
        own = scratch / "home" / "Орбелант"
        sample = root / "usr/share/orbelant" / e2e.WORKBOOK_NAME

        with e2e.RunningProgram(scratch, "package", program=str(root / "usr/bin/orbelant-launcher"),
                                environment={"HOME": str(scratch / "home")}) as program:
            self.assertEqual(Path(os.readlink("/proc/%d/cwd" % program.process.pid)), own)
            self.assertTrue(filecmp.cmp(sample, own / e2e.WORKBOOK_NAME, shallow=False))
            program.wait_for_row(e2e.expected_rows(sample)[0], "the sample's first row")
            program.press("Выход")
            self.assertEqual(program.process.wait(15), 0)
        self.assertEqual([path.name for path in own.iterdir()], [e2e.WORKBOOK_NAME])
        self.assertEqual([path.name for path in scratch.iterdir()], ["home"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
