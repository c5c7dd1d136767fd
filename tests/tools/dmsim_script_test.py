#!/usr/bin/env python3
"""scripts/dmsim in a tree of stand-ins (cmake, setup-deps, dmsim): the build's lines show
when there is work and stay hidden when there is none; a failing build shows its error and
does not run dmsim.

    dmsim_script_test.py --script scripts/dmsim
"""

import argparse
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

ARGS = None

# The stand-in for cmake answers --build as Ninja would, by FAKE_BUILD: none, work, error.
FAKE_CMAKE = """#!/bin/sh
[ "$1" = "--build" ] || { echo "-- Configuring done"; exit 0; }
echo "[0/2] Re-checking globbed directories..."
case "$FAKE_BUILD" in
    none) echo "ninja: no work to do." ;;
    work) echo "[1/2] Building CXX object sim/hex.cpp.o"; echo "[2/2] Linking CXX executable sim/dmsim" ;;
    error) echo "[1/2] Building CXX object sim/hex.cpp.o"; echo "FAILED: sim/hex.cpp.o"
           echo "sim/hex.cpp:81:14: error: expected primary-expression" >&2; exit 1 ;;
esac
"""


def executable(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)


class Dmsim_script_test(unittest.TestCase):
    def setUp(self):
        temp = tempfile.TemporaryDirectory()
        self.addCleanup(temp.cleanup)
        self.root = temp.name
        os.makedirs(os.path.join(self.root, "scripts"))
        shutil.copy(ARGS.script, os.path.join(self.root, "scripts", "dmsim"))
        executable(os.path.join(self.root, "scripts", "setup-deps"), "#!/bin/sh\nexit 0\n")
        executable(os.path.join(self.root, "bin", "cmake"), FAKE_CMAKE)
        executable(os.path.join(self.root, "build", "default", "sim", "dmsim"),
                   '#!/bin/sh\necho "dmsim $*"\n')
        open(os.path.join(self.root, "build", "default", "CMakeCache.txt"), "w").close()

    def run_script(self, build):
        env = dict(os.environ, FAKE_BUILD=build,
                   PATH=os.path.join(self.root, "bin") + os.pathsep + os.environ["PATH"])
        return subprocess.run([os.path.join(self.root, "scripts", "dmsim"), "22 F1 90"],
                              capture_output=True, text=True, env=env, timeout=60)

    def test_quiet_without_work_and_shows_progress_and_errors_with_work(self):
        quiet = self.run_script("none")
        self.assertEqual((quiet.returncode, quiet.stdout, quiet.stderr),
                         (0, "dmsim 22 F1 90\n", ""))

        work = self.run_script("work")
        self.assertEqual((work.returncode, work.stdout), (0, "dmsim 22 F1 90\n"))
        self.assertIn("dmsim: building", work.stderr)
        self.assertIn("[2/2] Linking CXX executable sim/dmsim", work.stderr)

        broken = self.run_script("error")
        self.assertNotEqual(broken.returncode, 0)
        self.assertEqual(broken.stdout, "")
        self.assertIn("sim/hex.cpp:81:14: error: expected primary-expression", broken.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--script", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])
