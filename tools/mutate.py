#!/usr/bin/env python3
"""Mutation run: does the test suite notice small faults?

Applies each mutant of tools/mutants.json to the source tree, one at a time, builds the
default configuration incrementally in a build folder of its own (build/mutation, ccache
when installed), runs its ctest tests (two at a time, stopping at the first failure) and
restores the file. Each mutant ends as

  killed          a test failed (twice: a failing test runs once more), or the tests ran
                  past the time limit (a deadlock)
  survived        every test passed: no test notices this fault
  stillborn       the mutated code does not build (not counted as killed)
  not-applicable  its snippet is missing, or occurs more than once, under its folder

A mutant names a folder and a snippet that occurs exactly once in the source files under
it, never a file and line, so that the list survives files moving and lines shifting.
With "regex": true the snippet is a Python regular expression (re.S) and the replacement
may use \\1, \\2 for its groups.

  tools/mutate.py                    # every mutant; summary table and counts at the end
  tools/mutate.py --list             # ids, folders and descriptions; where each applies
  tools/mutate.py --only binding-copy --only sim-hex-odd
  tools/mutate.py --output results.txt --timeout 600

The source is restored after every mutant, on Ctrl-C and on SIGTERM too; a run killed
harder leaves build/mutation/in-place.json, from which the next run restores first.
"""

import argparse
import fcntl
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Source files a snippet is searched in: code, the service catalogue, the export map.
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".awk", ".txt", ".map")


class Interrupted(Exception):
    pass


def on_signal(signum, _frame):
    raise Interrupted(signal.Signals(signum).name)


def source_files(folder):
    top = os.path.join(ROOT, folder)
    for base, dirs, files in os.walk(top):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        for name in sorted(files):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.join(base, name)


def edits_of(mutant):
    """A mutant's edits: its own find/replace, or its list "edits" (each may name its own
    folder), applied in order."""
    if "edits" in mutant:
        return [dict({"dir": mutant["dir"]}, **e) for e in mutant["edits"]]
    return [mutant]


def locate(mutant):
    """(path, text, start, end, replacement) of one edit, or why it does not apply."""
    pattern = mutant["find"] if mutant.get("regex") else re.escape(mutant["find"])
    regex = re.compile(pattern, re.S)
    hits = []
    for path in source_files(mutant["dir"]):
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for match in regex.finditer(text):
            hits.append((path, text, match))
            if len(hits) > 1:
                break
        if len(hits) > 1:
            break
    if not hits:
        return "snippet not found"
    if len(hits) > 1:
        return "snippet not unique under %s (%s, %s)" % (
            (mutant["dir"],) + tuple(os.path.relpath(h[0], ROOT) for h in hits))
    path, text, match = hits[0]
    replace = mutant["replace"]
    replacement = match.expand(replace) if mutant.get("regex") else replace
    return path, text, match.start(), match.end(), replacement


class Journal:
    """The files currently mutated, and their original texts, kept on disk."""

    def __init__(self, build_dir):
        self.path = os.path.join(build_dir, "in-place.json")

    def restore_leftover(self):
        if not os.path.exists(self.path):
            return
        with open(self.path, encoding="utf-8") as f:
            originals = json.load(f)
        for path, text in originals.items():
            write(path, text)
            print("mutate: restored %s, left mutated by an earlier run" %
                  os.path.relpath(path, ROOT))
        os.remove(self.path)

    def record(self, originals):
        tmp = self.path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(originals, f)
        os.replace(tmp, self.path)

    def clear(self):
        if os.path.exists(self.path):
            os.remove(self.path)


def write(path, text):
    tmp = path + ".mutate-tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    shutil.copymode(path, tmp)
    os.replace(tmp, path)


def run(cmd, timeout=None, log=None):
    """(exit status or None on timeout, seconds, child CPU seconds) of a command in its
    own process group; the whole group is killed on timeout or interruption."""
    start = time.monotonic()
    before = os.times()
    with open(log or os.devnull, "w") as out:
        proc = subprocess.Popen(cmd, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT,
                                start_new_session=True)
        try:
            status = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            status = None
        except BaseException:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            raise
    after = os.times()
    cpu = (after.children_user - before.children_user) + (after.children_system -
                                                          before.children_system)
    return status, time.monotonic() - start, cpu


def configure(build_dir):
    if os.path.exists(os.path.join(build_dir, "build.ninja")):
        return
    env_launcher = os.environ.get("CMAKE_CXX_COMPILER_LAUNCHER")
    cmd = ["cmake", "--preset", "default", "-B", build_dir]
    launcher = env_launcher or shutil.which("ccache")
    if launcher:
        cmd.append("-DCMAKE_CXX_COMPILER_LAUNCHER=" + launcher)
    print("mutate: configuring %s" % os.path.relpath(build_dir, ROOT), flush=True)
    if subprocess.call(cmd, cwd=ROOT, stdout=subprocess.DEVNULL) != 0:
        sys.exit("mutate: configuring %s failed" % build_dir)


def first_failure(log):
    """The name of the first failing test in a ctest log, and how it failed."""
    try:
        with open(log, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return ""
    found = re.search(r"^\s*\d+ - (\S+).*\((\w+)\)\s*$", text, re.M)
    if found:
        return "%s (%s)" % (found.group(1), found.group(2))
    found = re.search(r"^\s*\d+/\d+ Test +#\d+: (\S+) .*\*{3}(\w+)", text, re.M)
    return "%s (%s)" % (found.group(1), found.group(2)) if found else ""


def main():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="list the mutants and exit")
    parser.add_argument("--only", action="append", metavar="ID", help="run this mutant only")
    parser.add_argument("--mutants", default=os.path.join(ROOT, "tools", "mutants.json"))
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "mutation"))
    parser.add_argument("--jobs", "-j", type=int, default=2)
    parser.add_argument("--timeout", type=float, default=0,
                        help="seconds for one mutant's tests (default: 3 times the unmutated "
                        "run, at least 120)")
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip the test run of the unmutated tree")
    parser.add_argument("--output", help="also write the summary to this file")
    args = parser.parse_args()

    with open(args.mutants, encoding="utf-8") as f:
        mutants = json.load(f)["mutants"]
    ids = [m["id"] for m in mutants]
    if len(set(ids)) != len(ids):
        sys.exit("mutate: duplicate ids in %s" % args.mutants)

    build_dir = os.path.abspath(args.build_dir)
    os.makedirs(build_dir, exist_ok=True)
    journal = Journal(build_dir)

    if args.list:
        for m in mutants:
            places = []
            for edit in edits_of(m):
                where = locate(edit)
                places.append(("not applicable: " + where) if isinstance(where, str) else
                              os.path.relpath(where[0], ROOT))
            place = ", ".join(places)
            print("%-28s %-18s %s\n%28s %s" % (m["id"], m["dir"], m["what"], "", place))
        print("%d mutants" % len(mutants))
        return 0

    if args.only:
        unknown = [i for i in args.only if i not in ids]
        if unknown:
            sys.exit("mutate: no mutant %s" % ", ".join(unknown))
        mutants = [m for m in mutants if m["id"] in args.only]

    # One run at a time per build folder: a second one would restore the first one's mutant.
    lock = open(os.path.join(build_dir, "mutate.lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        sys.exit("mutate: another run uses %s" % build_dir)
    journal.restore_leftover()

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)

    logs = os.path.join(build_dir, "mutation-logs")
    os.makedirs(logs, exist_ok=True)
    build = ["cmake", "--build", build_dir, "-j", str(args.jobs)]
    # A failing test runs once more: a test that fails only on a loaded machine (a timing
    # margin eaten) must not count as a kill; a real kill fails both times.
    test = ["ctest", "--test-dir", build_dir, "-j", str(args.jobs), "--stop-on-failure",
            "--repeat", "until-pass:2", "--output-on-failure", "--no-tests=error"]

    start = time.monotonic()
    cpu_total = 0.0
    results = []
    try:
        configure(build_dir)
        print("mutate: building the unmutated tree", flush=True)
        status, seconds, cpu = run(build, log=os.path.join(logs, "baseline-build.log"))
        cpu_total += cpu
        if status != 0:
            sys.exit("mutate: the unmutated tree does not build; see %s/baseline-build.log" % logs)
        timeout = args.timeout
        if not args.no_baseline:
            status, seconds, cpu = run(test, log=os.path.join(logs, "baseline-test.log"))
            cpu_total += cpu
            if status != 0:
                sys.exit("mutate: the unmutated tree fails its tests; see %s/baseline-test.log"
                         % logs)
            print("mutate: unmutated tests pass in %.0f s (%.0f s CPU)" % (seconds, cpu),
                  flush=True)
            if not timeout:
                timeout = max(120.0, 3 * seconds)
        if not timeout:
            timeout = 600.0

        for n, m in enumerate(mutants, 1):
            results.append(run_one(m, n, len(mutants), journal, build, test, timeout, logs))
            cpu_total += results[-1]["cpu"]
    except Interrupted as stop:
        print("\nmutate: interrupted (%s); source restored" % stop)
    finally:
        journal.clear()

    # The restored files are rebuilt (from ccache) by the next build; nothing else is left.
    report(results, time.monotonic() - start, cpu_total, args.output)
    return 0


def apply(m, journal, originals):
    """Applies the mutant's edits in order; None, or why it does not apply (nothing is
    left changed then)."""
    for edit in edits_of(m):
        where = locate(edit)
        if isinstance(where, str):
            return where
        path, text, begin, end, replacement = where
        if path not in originals:
            originals[path] = text
            journal.record(originals)
        write(path, text[:begin] + replacement + text[end:])
    return None


def restore(originals, journal):
    # A second Ctrl-C must not stop the restore half-way.
    blocked = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
    try:
        for path, text in originals.items():
            write(path, text)
        journal.clear()
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, blocked)


def run_one(m, n, total, journal, build, test, timeout, logs):
    result = {"id": m["id"], "dir": m["dir"], "file": "", "test": "", "seconds": 0.0,
              "cpu": 0.0}
    start = time.monotonic()
    originals = {}
    try:
        reason = apply(m, journal, originals)
        result["file"] = ",".join(os.path.relpath(p, ROOT) for p in originals)
        if reason is not None:
            result.update(status="not-applicable", test=reason, file="")
        else:
            log = os.path.join(logs, m["id"] + ".log")
            status, _, cpu = run(build, log=log)
            result["cpu"] += cpu
            if status != 0:
                result["status"] = "stillborn"
            else:
                test_log = os.path.join(logs, m["id"] + ".test.log")
                status, _, cpu = run(test, timeout=timeout, log=test_log)
                result["cpu"] += cpu
                if status is None:
                    result.update(status="killed", test="timeout after %.0f s" % timeout)
                elif status != 0:
                    result.update(status="killed", test=first_failure(test_log))
                else:
                    result["status"] = "survived"
    finally:
        restore(originals, journal)
    result["seconds"] = time.monotonic() - start
    print("[%d/%d] %-28s %-14s %5.0f s %6.0f s CPU  %s" %
          (n, total, m["id"], result["status"], result["seconds"], result["cpu"],
           result["test"]), flush=True)
    return result


def report(results, seconds, cpu, output):
    lines = ["%-28s %-18s %-15s %6s %7s  %s" % ("mutant", "folder", "status", "wall s", "CPU s",
                                                "file / first failing test or reason")]
    for r in results:
        lines.append("%-28s %-18s %-15s %6.0f %7.0f  %s %s" %
                     (r["id"], r["dir"], r["status"], r["seconds"], r["cpu"], r["file"],
                      r["test"]))
    counts = {}
    for r in results:
        counts[r["status"]] = counts.get(r["status"], 0) + 1
    lines.append("")
    lines.append("mutants: %d; killed %d, survived %d, stillborn %d, not-applicable %d" %
                 (len(results), counts.get("killed", 0), counts.get("survived", 0),
                  counts.get("stillborn", 0), counts.get("not-applicable", 0)))
    lines.append("time: %.0f s wall, %.0f s CPU (user+sys of builds and tests)" % (seconds, cpu))
    survivors = [r["id"] for r in results if r["status"] == "survived"]
    if survivors:
        lines.append("survived: " + " ".join(survivors))
    text = "\n".join(lines) + "\n"
    print("\n" + text, end="")
    if output:
        with open(output, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    sys.exit(main())
