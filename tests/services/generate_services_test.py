#!/usr/bin/env python3
"""Tests of tools/generate_services.py: deterministic output, and broken descriptions rejected
with a clear message and nothing written.

    generate_services_test.py --generator tools/generate_services.py \
                              --description lib/services/catalogue.txt
"""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest

ARGS = None


def run(description, output_dir=None, extra=(), env=None):
    command = [sys.executable, ARGS.generator, "--description", description, *extra]
    if output_dir:
        command += ["--output-dir", output_dir]
    return subprocess.run(command, capture_output=True, text=True, env=env)


def read_tree(root):
    files = {}
    for folder, _dirs, names in os.walk(root):
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                files[os.path.relpath(f.name, root).replace(os.sep, "/")] = f.read()
    return files


def edit_row(text, identifier, column, value):
    """The description with one column of the row of `identifier` replaced, and its line."""
    lines = text.splitlines()
    row = next(i for i, line in enumerate(lines) if line.split("|")[0].strip() == identifier)
    columns = lines[row].split("|")
    columns[column] = f" {value} "
    lines[row] = "|".join(columns)
    return "\n".join(lines) + "\n", row + 1


class Generator_test(unittest.TestCase):
    def setUp(self):
        temp = tempfile.TemporaryDirectory()
        self.addCleanup(temp.cleanup)
        self.dir = temp.name
        with open(ARGS.description, encoding="utf-8") as f:
            self.text = f.read()

    def test_output_is_identical_from_run_to_run(self):
        trees = []
        for seed in "12":
            out = os.path.join(self.dir, seed)
            result = run(ARGS.description, out, env={**os.environ, "PYTHONHASHSEED": seed})
            self.assertEqual(result.returncode, 0, result.stderr)
            trees.append(read_tree(out))
        self.assertEqual(trees[0], trees[1])
        listed = run(ARGS.description, extra=["--list-outputs"]).stdout.split()
        self.assertEqual(sorted(listed), sorted(trees[0]))
        self.assertEqual(len(listed), 109 * 4 + 5)

    def test_a_rerun_rewrites_only_changed_files_and_removes_stale_ones(self):
        """Fast rebuilds rest on this: an unchanged file keeps its time, so nothing that
        includes it recompiles, and files of a removed identifier go."""
        out = os.path.join(self.dir, "out")
        self.assertEqual(run(ARGS.description, out).returncode, 0)
        old = 1_000_000_000
        for path in read_tree(out):
            os.utime(os.path.join(out, path), (old, old))
        # Hand-written files in the output folder are not the generator's to remove.
        for path in ("notes.txt", "d_0102/keep.txt"):
            with open(os.path.join(out, path), "w", encoding="utf-8") as f:
                f.write("mine\n")

        renamed, _ = edit_row(self.text, "0x0411", 1, "DataIdentifier_Renamed")
        expected = self.generate(renamed, "expected")
        before = read_tree(out)
        self.generate(renamed, "out")
        changed = {p for p in expected if before.get(p) != expected[p]}
        touched = {p for p in expected if os.stat(os.path.join(out, p)).st_mtime != old}
        self.assertEqual(touched, changed)
        self.assertIn("d_0411/interface.h", changed)
        self.assertNotIn("d_0102/interface.h", changed)

        lines = [l for l in renamed.splitlines() if not l.startswith("0x0102")]
        lines = [l.replace("[did 83]", "[did 82]") for l in lines]
        self.generate("\n".join(lines) + "\n", "out")
        left = read_tree(out)
        self.assertEqual(sorted(p for p in left if p.startswith("d_0102/")), ["d_0102/keep.txt"])
        self.assertIn("notes.txt", left)
        self.assertEqual(len(left), 108 * 4 + 5 + 2)

    def generate(self, text, folder):
        """Runs the generator on `text` into self.dir/folder; the files it holds afterwards."""
        description = os.path.join(self.dir, "catalogue.txt")
        with open(description, "w", encoding="utf-8") as f:
            f.write(text)
        out = os.path.join(self.dir, folder)
        result = run(description, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        return read_tree(out)

    def test_broken_descriptions_are_rejected_and_nothing_is_written(self):
        without_0102 = "\n".join(l for l in self.text.splitlines() if not l.startswith("0x0102"))
        cases = [
            (*edit_row(self.text, "0x1184", 0, "0x1183"), "identifier 0x1183 already listed"),
            (*edit_row(self.text, "0x0102", 2, "u64"), "Read output: unknown type 'u64'"),
            (*edit_row(self.text, "0x0544", 3, "bytes, u16"),
             "Start parameters: a byte sequence (bytes) may only be"),
            (*edit_row(self.text, "0x0411", 4, "19"), "SOME/IP bytes is 19, but the members make 23"),
            (*edit_row(self.text, "0xFF00", 6, "u8 (1)"), "a short routine has no RequestResults"),
            (without_0102 + "\n", None, "the [did] section holds 82 identifiers, expected 83"),
            (self.text.replace("16 short, 10 full", "15 short, 11 full"), None,
             "the [rid] section holds 16 short routines, expected 15"),
            (self.text.replace(": 16 short, 10 full", ""),
             self.text.splitlines().index("[rid 26: 16 short, 10 full]") + 1,
             "the [rid] header names"),
        ]
        for text, line, message in cases:
            with self.subTest(message=message):
                description = os.path.join(self.dir, "catalogue.txt")
                with open(description, "w", encoding="utf-8") as f:
                    f.write(text)
                out = os.path.join(self.dir, "rejected")
                result = run(description, out)
                self.assertEqual(result.returncode, 1, result.stderr)
                where = "catalogue.txt" if line is None else f"catalogue.txt:{line}"
                self.assertIn(f"{where}: error: {message}", result.stderr)
                self.assertEqual(result.stdout, "")
                self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--generator", required=True)
    parser.add_argument("--description", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])
