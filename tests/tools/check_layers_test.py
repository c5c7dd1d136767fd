#!/usr/bin/env python3
"""Tests of tools/check_layers.py: the real tree passes, and an include that points up or
into no layer is named with its file and line.

    check_layers_test.py --checker tools/check_layers.py --lib lib --generated build/generated
"""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest

ARGS = None


def check(lib, generated=None):
    command = [sys.executable, ARGS.checker, "--lib", lib]
    if generated:
        command += ["--generated", generated]
    return subprocess.run(command, capture_output=True, text=True)


class Check_layers_test(unittest.TestCase):
    def test_the_tree_follows_the_layers(self):
        result = check(ARGS.lib, ARGS.generated)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_upward_and_unknown_includes_are_named(self):
        with tempfile.TemporaryDirectory() as lib:
            files = {
                "log/dlt.h": '#include "binding/runtime/identity.h"\n#include "ara/log/logger.h"\n',
                "log/bad.h": '#pragma once\n#include "binding/proxy_impl.h"\n',
                "exec/future.h": '#include "exec/strand.h"\n',
                "someip/odd.h": '#include "nowhere/x.h"\n',
                "services/fine.h": '#include "exec/future.h"\n#include "log/dlt.h"\n',
            }
            for path, text in files.items():
                os.makedirs(os.path.join(lib, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(lib, path), "w", encoding="utf-8") as f:
                    f.write(text)
            result = check(lib)
            self.assertEqual(result.returncode, 1)
            lines = sorted(result.stdout.splitlines())
            self.assertEqual(lines, [
                "lib/exec/future.h:1: future includes exec/strand.h (exec)",
                "lib/log/bad.h:2: log includes binding/proxy_impl.h (binding)",
                "lib/someip/odd.h:1: someip includes nowhere/x.h, which belongs to no layer",
            ])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--checker", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--generated")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])
