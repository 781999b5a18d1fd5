#!/usr/bin/env python3
"""Adds to package-lock.json the per-platform packages the registry mirror
of the machine that wrote it does not carry.

`npm ci` refuses a lock that lacks an entry for any optional dependency, and
`npm install` leaves out the ones it cannot fetch (here: OpenCode's and
Kilo's builds for other systems). Each missing one gets an entry with its
version and the os/cpu/libc its name says, so `npm ci` skips it on other
machines exactly as it would with the registry's own entry; no resolved or
integrity, so a machine that does need it fetches it by version.

    npm install --prefix tests/agents --save-exact   # after changing a version
    python3 tests/agents/complete_lock.py
"""

import json
import os
import re

LOCK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "package-lock.json")


def platform_of(name):
    base = name.rsplit("/", 1)[-1]
    os_name = ("darwin" if "-darwin-" in base else "win32" if re.search(r"-(windows|win32)-", base)
               else "linux")
    entry = {"cpu": ["arm64" if "-arm64" in base else "x64"], "optional": True, "os": [os_name]}
    if base.endswith("-musl") or "-linuxmusl-" in base:
        entry["libc"] = ["musl"]
    return entry


def main():
    with open(LOCK, encoding="utf-8") as f:
        lock = json.load(f)
    packages = lock["packages"]
    added = []
    for key, package in list(packages.items()):
        for name, version in package.get("optionalDependencies", {}).items():
            if "node_modules/" + name not in packages:
                packages["node_modules/" + name] = dict(version=version, **platform_of(name))
                added.append(f"{name}@{version}")
    lock["packages"] = dict(sorted(packages.items()))
    with open(LOCK, "w", encoding="utf-8") as f:
        json.dump(lock, f, indent=2)
        f.write("\n")
    print("added", ", ".join(added) if added else "nothing")


if __name__ == "__main__":
    main()
