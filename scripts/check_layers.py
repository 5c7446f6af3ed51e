#!/usr/bin/python3
"""Keeps the layers of the tree honest.

Every `#include "folder/..."` of a source file (tests, benchmarks, fuzzers and
test support excepted) must name its own part of the tree or a part below
it. The table below is the architecture; the README's Layout table and the
header comment of each folder's CMakeLists.txt say the same.

    check_layers.py [--root DIR]

Prints one line per wrong include (file:line) and exits 1 when there is one.
"""

import argparse
import os
import re
import sys

# Each part of the tree and what it stands on directly. A part may include its
# own headers and those of every part below it, transitively. A part is a
# folder or a file stem inside one (the finer entry wins); an entry that is a
# single header (link/channel.h) lets a part use that header alone.
STANDS_ON = {
    "platform": [],
    "context": ["platform"],
    "link": ["context"],
    "cardfs": ["link"],
    "convert": ["context"],
    "library": ["cardfs", "convert"],
    "playback": ["convert"],
    "shell": ["library", "playback"],
    # Front ends.
    "cli": ["shell"],
    "gui": ["shell"],
    "uninstall": ["context"],
    "harvo": ["platform"],
    "data/tools": ["context"],
    # The simulated player is a device: it knows the bytes on the wire and
    # nothing of the PC side. Its in-process rig plugs it into a real link.
    "sim": ["platform", "link/channel.h", "link/wire.h"],
    "sim/sim_rig": ["sim", "link"],
}

# Folders whose sources may use anything.
FREE = ("tests", "bench", "fuzz", "testing")
SOURCE_EXT = (".c", ".cc", ".cpp", ".h", ".hpp")
SKIP_TOP = ("build", ".git", ".ci", "scripts")

INCLUDE_RE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def part_of(path):
    """The finest table entry that holds `path` (a path without extension or
    with one), or None."""
    stem = os.path.splitext(path)[0]
    best = None
    for key in STANDS_ON:
        if stem == key or path.startswith(key + "/"):
            if best is None or len(key) > len(best):
                best = key
    return best


def below(part):
    """Every entry that `part` stands on, directly or not."""
    seen = set()
    todo = list(STANDS_ON.get(part, []))
    while todo:
        item = todo.pop()
        if item in seen:
            continue
        seen.add(item)
        todo.extend(STANDS_ON.get(item, []))
    return seen


def allowed(part, include):
    inc_part = part_of(include)
    if inc_part is None:
        return True  # not one of ours
    if inc_part == part:
        return True
    under = below(part)
    return inc_part in under or include in under


def check_file(root, rel):
    """Wrong includes of one file, as (line, include, part)."""
    part = part_of(rel)
    problems = []
    if part is None:
        return [(0, None, None)]
    with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
        for n, line in enumerate(f, 1):
            m = INCLUDE_RE.match(line)
            if not m:
                continue
            inc = m.group(1)
            if "/" not in inc or part_of(inc) is None:
                continue
            if not allowed(part, inc):
                problems.append((n, inc, part))
    return problems


def sources(root):
    for top in sorted(os.listdir(root)):
        if top in SKIP_TOP or top.startswith(".") or top.startswith("build"):
            continue
        base = os.path.join(root, top)
        if not os.path.isdir(base):
            continue
        for dirpath, dirnames, filenames in os.walk(base):
            dirnames[:] = sorted(d for d in dirnames if d not in FREE)
            for name in sorted(filenames):
                if name.endswith(SOURCE_EXT):
                    yield os.path.relpath(os.path.join(dirpath, name), root)


def main(argv):
    ap = argparse.ArgumentParser(description="Check that every folder includes only the layers below it.")
    ap.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    args = ap.parse_args(argv)
    bad = 0
    checked = 0
    for rel in sources(args.root):
        checked += 1
        for n, inc, part in check_file(args.root, rel):
            bad += 1
            if inc is None:
                print(f"{rel}: lies in no layer of the table in scripts/check_layers.py")
            else:
                stands = ", ".join(sorted(below(part))) or "nothing"
                print(f"{rel}:{n}: {part} includes \"{inc}\", which is not below it ({part} stands on: {stands})")
    if bad:
        print(f"{bad} include(s) against the layers")
        return 1
    print(f"{checked} source files keep to the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
