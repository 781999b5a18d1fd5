"""The module dependency check: passes on the repository, fails on a tree
whose includes and CMake DEPS disagree."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CHECK = os.path.join(REPO, "cmake", "check_module_deps.py")


def run_check(root):
    return subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)


def write(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w") as f:
        f.write(text)


class ModuleDeps(unittest.TestCase):
    def test_the_repository_passes(self):
        r = run_check(REPO)
        self.assertEqual((r.returncode, r.stdout), (0, ""))

    def tree(self, screen_deps, screen_includes):
        root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, root)
        write(root, "src/base/CMakeLists.txt", "mossbank_module(base DEPS nlohmann_json::nlohmann_json)\n")
        write(root, "src/base/text.h", "#pragma once\n#include <string>\n")
        write(root, "src/daemon/CMakeLists.txt", "mossbank_module(daemon DEPS mossbank_base)\n")
        write(root, "src/daemon/http.cpp", '#include "daemon/http.h"\n#include "base/text.h"\n')
        write(root, "src/screen/CMakeLists.txt",
              "mossbank_module(screen DEPS %s PkgConfig::PCRE2)\n" % screen_deps)
        write(root, "src/screen/menu.cpp",
              "".join('#include "%s"\n' % h for h in screen_includes))
        write(root, "apps/cli/CMakeLists.txt", "mossbank_module(cli DEPS mossbank_screen)\n")
        write(root, "apps/cli/main.cpp", '#include "cli/cli.h"\n#include "screen/menu.h"\n')
        return root

    def test_cases(self):
        cases = [
            ("mossbank_base", ["screen/menu.h", "base/text.h"], 0, []),
            # a header of a module that is not a dependency
            ("mossbank_base", ["base/text.h", "daemon/http.h"], 1,
             ["module deps: screen includes daemon headers but does not list mossbank_daemon in its DEPS"]),
            # a dependency nothing includes
            ("mossbank_base mossbank_daemon", ["base/text.h"], 1,
             ["module deps: screen lists mossbank_daemon in its DEPS but includes none of its headers"]),
            # system and third-party headers are not modules
            ("mossbank_base", ["base/text.h", "nlohmann/json.hpp", "gtest/gtest.h"], 0, []),
        ]
        for deps, includes, code, lines in cases:
            with self.subTest(deps=deps, includes=includes):
                r = run_check(self.tree(deps, includes))
                self.assertEqual(r.returncode, code, r.stdout)
                self.assertEqual(r.stdout.splitlines(), lines)


if __name__ == "__main__":
    unittest.main()
