#!/usr/bin/env python3
"""Checks the modules' layering and that each module's CMake DEPS are exactly
the modules its files include.

A module is a folder under src/ or apps/ whose CMakeLists.txt calls
mossbank_module(<name> [THREADED] [DEPS ...]); its files, in that folder and
its subfolders, include other modules' headers as "<module>/<header>". Exits 1
and names every difference:
- a module included but not a dependency (it builds only by luck of the link
  order), or a dependency whose headers the module never includes;
- an include that runs sideways or back up the layers below, even when DEPS
  name it: a module includes only modules of a lower layer;
- a module the layer table does not place.

usage: check_module_deps.py [ROOT]
"""

import os
import re
import sys

# Bottom to top. A module may include only modules of a lower layer.
LAYERS = [
    ("base",),
    ("platform",),
    ("daemon", "terminal", "screen"),
    ("run", "mcp"),
    ("cli",),
]
LAYER_OF = {name: i for i, row in enumerate(LAYERS) for name in row}

MODULE_CALL = re.compile(r"\bmossbank_module\(\s*([A-Za-z0-9_]+)([^)]*)\)", re.S)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/', re.M)
CMAKE_COMMENT = re.compile(r"#[^\n]*")


def layer_text():
    return " < ".join(", ".join(row) for row in LAYERS)


def modules_of(root):
    """({name: (folder, declared module deps)}, problems) for every module
    call in a CMakeLists.txt under src/ and apps/, at any depth."""
    found = {}
    out = []
    for top in ("src", "apps"):
        base = os.path.join(root, top)
        for dirpath, dirnames, entries in os.walk(base):
            dirnames.sort()
            if "CMakeLists.txt" not in entries:
                continue
            cmake = os.path.join(dirpath, "CMakeLists.txt")
            with open(cmake, encoding="utf-8") as f:
                text = CMAKE_COMMENT.sub("", f.read())
            calls = MODULE_CALL.findall(text)
            if len(calls) > 1:
                out.append("%s calls mossbank_module %d times; a folder is one module"
                           % (os.path.relpath(cmake, root), len(calls)))
            for name, rest in calls:
                args = rest.split()
                deps = set()
                if "DEPS" in args:
                    for arg in args[args.index("DEPS") + 1:]:
                        if arg.startswith("mossbank_"):
                            deps.add(arg[len("mossbank_"):])
                if name in found:
                    out.append("module %s is defined twice" % name)
                found[name] = (dirpath, deps)
    return found, out


def includes_of(folder, names, nested):
    """[(file, included module)] over the module's folder and subfolders,
    leaving out subfolders that are modules of their own."""
    used = []
    for dirpath, dirnames, entries in os.walk(folder):
        dirnames[:] = sorted(d for d in dirnames
                             if os.path.join(dirpath, d) not in nested)
        for entry in sorted(entries):
            if not entry.endswith((".cpp", ".h")):
                continue
            path = os.path.join(dirpath, entry)
            with open(path, encoding="utf-8", errors="replace") as f:
                for prefix in INCLUDE.findall(f.read()):
                    if prefix in names:
                        used.append((path, prefix))
    return used


def problems(root):
    modules, out = modules_of(root)
    folders = {folder for folder, _ in modules.values()}
    for name, (folder, deps) in sorted(modules.items()):
        if name not in LAYER_OF:
            out.append("module %s has no place in the layers (%s)" % (name, layer_text()))
        includes = [(path, used) for path, used in
                    includes_of(folder, set(modules), folders - {folder}) if used != name]
        used = {u for _, u in includes}
        for missing in sorted(used - deps):
            out.append("%s includes %s headers but does not list mossbank_%s in its DEPS"
                       % (name, missing, missing))
        for unused in sorted(deps - used):
            out.append("%s lists mossbank_%s in its DEPS but includes none of its headers"
                       % (name, unused))
        if name not in LAYER_OF:
            continue
        reported = set()
        for path, other in includes:
            if other in reported or other not in LAYER_OF:
                continue
            if LAYER_OF[other] >= LAYER_OF[name]:
                reported.add(other)
                out.append("%s includes %s headers (%s), but %s is not on a layer below %s (%s)"
                           % (name, other, os.path.relpath(path, root), other, name, layer_text()))
    return out


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    found = problems(root)
    for line in found:
        print("module deps: " + line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
