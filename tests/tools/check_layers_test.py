#!/usr/bin/env python3
"""Tests of tools/check_layers.py: the real tree passes, and an include that points up or
into no layer is named with its file and line, in lib/ and in the simulator and hosts.

    check_layers_test.py --checker tools/check_layers.py --lib lib --generated build/generated \
                         --host host --sim sim
"""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest

ARGS = None


def check(lib, *more):
    command = [sys.executable, ARGS.checker, "--lib", lib, *more]
    return subprocess.run(command, capture_output=True, text=True)


def write_tree(root, files):
    for path, text in files.items():
        os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(root, path), "w", encoding="utf-8") as f:
            f.write(text)


class Check_layers_test(unittest.TestCase):
    def test_the_tree_follows_the_layers(self):
        result = check(ARGS.lib, "--generated", ARGS.generated, "--host", ARGS.host,
                       "--sim", ARGS.sim)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_upward_and_unknown_includes_are_named(self):
        with tempfile.TemporaryDirectory() as root:
            write_tree(root, {
                "lib/log/dlt.h": '#include "binding/runtime/identity.h"\n#include "ara/log/logger.h"\n',
                "lib/log/bad.h": '#pragma once\n#include "binding/proxy_impl.h"\n',
                "lib/exec/future.h": '#include "exec/strand.h"\n',
                "lib/someip/odd.h": '#include "nowhere/x.h"\n',
                "lib/services/fine.h": '#include "exec/future.h"\n#include "log/dlt.h"\n',
                "sim/ecu/ecu.h": '#include "sim/io/hex.h"\n#include "sim/doip/server.h"\n',
                "sim/doip/server.h": '#include "sim/ecu/ecu.h"\n#include "host/plugin.h"\n',
                "sim/cli/run.cpp": '#include "sim/doip/server.h"\n#include "platform/x.h"\n',
                "host/plugin.h": '#include "plugin/entry_points.h"\n#include "sim/io/hex.h"\n',
            })
            result = check(os.path.join(root, "lib"), "--host", os.path.join(root, "host"),
                           "--sim", os.path.join(root, "sim"))
            self.assertEqual(result.returncode, 1)
            self.assertEqual(sorted(result.stdout.splitlines()), [
                "host/plugin.h:2: host includes sim/io/hex.h (sim/io)",
                "lib/exec/future.h:1: future includes exec/strand.h (exec)",
                "lib/log/bad.h:2: log includes binding/proxy_impl.h (binding)",
                "lib/someip/odd.h:1: someip includes nowhere/x.h, which belongs to no layer",
                "sim/doip/server.h:2: sim/doip includes host/plugin.h (host)",
                "sim/ecu/ecu.h:2: sim/ecu includes sim/doip/server.h (sim/doip)",
            ])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--checker", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--generated")
    parser.add_argument("--host")
    parser.add_argument("--sim")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])
