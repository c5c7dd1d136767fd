#!/usr/bin/env python3
"""Checks that the includes of lib/, of the hosts of the plug-in (host/) and of the
simulator (sim/) follow the layers: a layer includes only itself and the layers below it.

    check_layers.py --lib lib [--generated build/default/generated] [--host host] [--sim sim]

Prints one line per offending include ("lib/log/x.h:7: log includes binding/proxy_impl.h")
and exits with status 1 if there is any. Python 3 standard library only.
"""

import argparse
import os
import re
import sys
from typing import Dict, List, Optional, Set

# Each layer and the layers it builds on directly. The future and promise are the bottom;
# the runtime's declarations (kept in binding/runtime/) sit on them and carry strands, logging
# and the binding.
BUILDS_ON: Dict[str, Set[str]] = {
    "future": set(),
    "runtime": {"future"},
    "exec": {"runtime"},
    "someip": set(),
    "log": {"runtime", "ara_log"},
    "binding": {"exec", "someip", "log", "runtime"},
    "proxy": {"binding"},
    "foundation": {"proxy"},
    "services": {"foundation"},
    "plugin": {"services"},
    "ara_log": set(),  # the platform's ara::log headers
}

# The headers of exec/ that form the future layer; the rest of exec/ are strands and posting.
FUTURE_HEADERS = {"exec/future.h", "exec/interface.h", "exec/runtime_api.h"}

# Outside lib/, by the first folders of the include path. The simulator's folders build on
# each other from the command line down to its input and output; all of them, and the
# hosts of the plug-in, build on the platform stand-ins and on any layer of lib/.
OUTER_BUILDS_ON: Dict[str, Set[str]] = {
    "platform": {"lib"},
    "host": {"platform", "lib"},
    "sim/io": {"platform", "lib"},
    "sim/ecu": {"sim/io", "lib"},
    "sim/vehicle": {"sim/io", "host", "lib"},
    "sim/doip": {"sim/ecu", "sim/io"},
    "sim/cli": {"sim/doip", "sim/vehicle", "sim/ecu", "sim/io", "host"},
    "sim": {"sim/cli"},  # dmsim's main
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path: str) -> Optional[str]:
    """The layer of a header or source, by its path relative to lib/ (or the generated root)."""
    if path in FUTURE_HEADERS:
        return "future"
    if path.startswith("binding/runtime/"):
        return "runtime"
    if path.startswith("ara/log/"):
        return "ara_log"
    top = path.split("/", 1)[0]
    return top if top in BUILDS_ON else None


def outer_layer_of(path: str) -> Optional[str]:
    """The layer of an include outside lib/ ("sim/doip/server.h": sim/doip), else "lib" when
    it names a layer of lib/ ("binding/runtime/runtime.h"), else None."""
    parts = path.split("/")
    for depth in (2, 1):
        if "/".join(parts[:depth]) in OUTER_BUILDS_ON and len(parts) > depth:
            return "/".join(parts[:depth])
    return "lib" if layer_of(path) else None


def below(layer: str, builds_on: Dict[str, Set[str]] = BUILDS_ON) -> Set[str]:
    """Every layer that `layer` may include, itself included."""
    seen = {layer}
    stack = [layer]
    while stack:
        for lower in builds_on.get(stack.pop(), set()):
            if lower not in seen:
                seen.add(lower)
                stack.append(lower)
    return seen


def check_tree(root: str, shown_as: str, outer: bool = False) -> List[str]:
    """The offending includes of the files under `root`, shown as under `shown_as`. Outside
    lib/ (`outer`) a file's layer is its folder as seen from the project's root."""
    problems = []
    classify = outer_layer_of if outer else layer_of
    builds_on = OUTER_BUILDS_ON if outer else BUILDS_ON
    for folder, _dirs, names in sorted(os.walk(root)):
        for name in sorted(names):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, root).replace(os.sep, "/")
            layer = classify(f"{shown_as}/{relative}" if outer else relative)
            if layer is None:
                continue
            allowed = below(layer, builds_on)
            with open(path, encoding="utf-8") as f:
                for number, line in enumerate(f, start=1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    included = match.group(1)
                    target = classify(included)
                    if target is None:
                        problems.append(f"{shown_as}/{relative}:{number}: {layer} includes "
                                        f"{included}, which belongs to no layer")
                    elif target not in allowed:
                        problems.append(f"{shown_as}/{relative}:{number}: {layer} includes "
                                        f"{included} ({target})")
    return problems


def main(argv: List[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lib", required=True, help="the lib/ folder")
    parser.add_argument("--generated", help="the folder holding the generated services/")
    parser.add_argument("--host", help="the host/ folder")
    parser.add_argument("--sim", help="the sim/ folder")
    args = parser.parse_args(argv)
    problems = check_tree(args.lib, "lib")
    if args.generated:
        problems += check_tree(args.generated, "generated")
    for folder, name in ((args.host, "host"), (args.sim, "sim")):
        if folder:
            problems += check_tree(folder, name, outer=True)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) against the layers", file=sys.stderr)
        return 1
    print("layers: every include points down")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
