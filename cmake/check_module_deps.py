#!/usr/bin/env python3
"""Checks that each module's CMake DEPS are exactly the modules its files include.

A module is a folder under src/ or apps/ whose CMakeLists.txt calls
mossbank_module(<name> [DEPS ...]); its files include other modules' headers
as "<module>/<header>". Exits 1 and names every difference: a module included
but not a dependency (it builds only by luck of the link order), or a
dependency whose headers the module never includes.

usage: check_module_deps.py [ROOT]
"""

import os
import re
import sys

MODULE_CALL = re.compile(r"mossbank_module\(\s*([A-Za-z0-9_]+)([^)]*)\)", re.S)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/', re.M)


def modules_of(root):
    """{name: (folder, declared module deps)} for every module under src/ and apps/."""
    found = {}
    for top in ("src", "apps"):
        base = os.path.join(root, top)
        if not os.path.isdir(base):
            continue
        for entry in sorted(os.listdir(base)):
            folder = os.path.join(base, entry)
            cmake = os.path.join(folder, "CMakeLists.txt")
            if not os.path.isfile(cmake):
                continue
            with open(cmake, encoding="utf-8") as f:
                call = MODULE_CALL.search(f.read())
            if not call:
                continue
            args = call.group(2).split()
            deps = set()
            if "DEPS" in args:
                for arg in args[args.index("DEPS") + 1:]:
                    if arg.startswith("mossbank_"):
                        deps.add(arg[len("mossbank_"):])
            found[call.group(1)] = (folder, deps)
    return found


def included_modules(folder, names):
    used = set()
    for dirpath, _, entries in os.walk(folder):
        for entry in entries:
            if not entry.endswith((".cpp", ".h")):
                continue
            with open(os.path.join(dirpath, entry), encoding="utf-8", errors="replace") as f:
                for prefix in INCLUDE.findall(f.read()):
                    if prefix in names:
                        used.add(prefix)
    return used


def problems(root):
    modules = modules_of(root)
    out = []
    for name, (folder, deps) in sorted(modules.items()):
        used = included_modules(folder, set(modules)) - {name}
        for missing in sorted(used - deps):
            out.append("%s includes %s headers but does not list mossbank_%s in its DEPS"
                       % (name, missing, missing))
        for unused in sorted(deps - used):
            out.append("%s lists mossbank_%s in its DEPS but includes none of its headers"
                       % (name, unused))
    return out


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    found = problems(root)
    for line in found:
        print("module deps: " + line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
