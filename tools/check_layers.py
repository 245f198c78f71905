#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The layers, lowest first (a file may include its own layer and those below):
  0 base     runtime/, and the platform primitives the runtime stands on:
             services/output.*, services/escape.*, services/os/services.*
  1 core     datatypes/, evaluator/, services/ (the rest): actions run code and natives make values,
             a real cycle, so the three folders are one layer
  2 library  library/
  3 backend  gui/backend/
  4 engine   gui/ (the rest)
  5 console  console/
runtime/startup.cpp is the one place that wires the layers together: it may include any layer below
the GUI. tests/, bench/, fuzz/ and tools/ stand outside the layers.

usage: check_layers.py SOURCE_ROOT [STAMP]   (writes STAMP when the tree is clean)
"""
import os
import re
import sys

BASE_FILES = ("services/output.", "services/escape.", "services/os/services.")
LAYERS = (
    (0, ("runtime/",)),
    (1, ("datatypes/", "evaluator/", "services/")),
    (2, ("library/",)),
    (3, ("gui/backend/",)),
    (4, ("gui/",)),
    (5, ("console/",)),
)
NAMES = ("base", "core", "library", "backend", "engine", "console")
COMPOSITION_ROOT = ("runtime/startup.cpp", 2)
INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)"')


def layer(path):
    if path.startswith(BASE_FILES):
        return 0
    for level, prefixes in LAYERS:
        if path.startswith(prefixes):
            return level
    return None


def main():
    root = sys.argv[1]
    faults = []
    for top in ("runtime", "datatypes", "evaluator", "services", "library", "gui", "console"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".inc", ".def")):
                    continue
                path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                own = COMPOSITION_ROOT[1] if path == COMPOSITION_ROOT[0] else layer(path)
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        target = m and layer(m.group(1))
                        if target is not None and target > own:
                            faults.append(f"{path}:{number}: a {NAMES[layer(path)]} file includes "
                                          f"{m.group(1)} ({NAMES[target]})")
    if faults:
        print("layering rule broken (see tools/check_layers.py):", *faults, sep="\n  ", file=sys.stderr)
        return 1
    if len(sys.argv) > 2:
        open(sys.argv[2], "w").close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
