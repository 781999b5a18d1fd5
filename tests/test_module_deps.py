"""The module dependency check: passes on the repository, fails on a tree
whose includes and CMake DEPS disagree or whose includes run back up the
layers."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CHECK = os.path.join(REPO, "cmake", "check_module_deps.py")
LAYERS = "base < platform < daemon, terminal, screen < run, mcp < cli"


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

    def tree(self, screen_deps, screen_includes, file="src/screen/menu.cpp"):
        root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, root)
        write(root, "src/base/CMakeLists.txt", "mossbank_module(base DEPS nlohmann_json::nlohmann_json)\n")
        write(root, "src/base/text.h", "#pragma once\n#include <string>\n")
        write(root, "src/platform/CMakeLists.txt", "mossbank_module(platform)\n")
        write(root, "src/platform/pty.h", "#pragma once\n")
        write(root, "src/daemon/CMakeLists.txt", "mossbank_module(daemon DEPS mossbank_base)\n")
        write(root, "src/daemon/http.cpp", '#include "daemon/http.h"\n#include "base/text.h"\n')
        write(root, "src/screen/CMakeLists.txt",
              "mossbank_module(screen DEPS %s PkgConfig::PCRE2)\n" % screen_deps)
        write(root, file,
              "".join('#include "%s"\n' % h for h in screen_includes))
        write(root, "apps/cli/CMakeLists.txt", "mossbank_module(cli DEPS mossbank_screen)\n")
        write(root, "apps/cli/main.cpp", '#include "cli/cli.h"\n#include "screen/menu.h"\n')
        return root

    def test_cases(self):
        cases = [
            ("mossbank_base", ["screen/menu.h", "base/text.h"], 0, []),
            # a header of a module that is not a dependency
            ("mossbank_base", ["base/text.h", "platform/pty.h"], 1,
             ["module deps: screen includes platform headers but does not list mossbank_platform in its DEPS"]),
            # a dependency nothing includes
            ("mossbank_base mossbank_daemon", ["base/text.h"], 1,
             ["module deps: screen lists mossbank_daemon in its DEPS but includes none of its headers"]),
            # system and third-party headers are not modules
            ("mossbank_base", ["base/text.h", "nlohmann/json.hpp", "gtest/gtest.h"], 0, []),
            # a lower module including a higher one, though DEPS name it
            ("mossbank_base mossbank_cli", ["base/text.h", "cli/cli.h"], 1,
             ["module deps: screen includes cli headers (src/screen/menu.cpp), but cli is not on"
              " a layer below screen (%s)" % LAYERS]),
            # sideways, within one layer, though DEPS name it
            ("mossbank_base mossbank_daemon", ["base/text.h", "daemon/http.h"], 1,
             ["module deps: screen includes daemon headers (src/screen/menu.cpp), but daemon is"
              " not on a layer below screen (%s)" % LAYERS]),
        ]
        for deps, includes, code, lines in cases:
            with self.subTest(deps=deps, includes=includes):
                r = run_check(self.tree(deps, includes))
                self.assertEqual(r.returncode, code, r.stdout)
                self.assertEqual(r.stdout.splitlines(), lines)

    def test_subfolders_and_module_calls(self):
        cases = [
            # an undeclared include in a subfolder of the module
            ("src/screen/readers/codex.cpp", "mossbank_base", ["base/text.h", "platform/pty.h"],
             ["module deps: screen includes platform headers but does not list mossbank_platform"
              " in its DEPS"]),
            # and a subfolder's include back up the layers
            ("src/screen/readers/codex.cpp", "mossbank_base mossbank_cli", ["base/text.h", "cli/cli.h"],
             ["module deps: screen includes cli headers (src/screen/readers/codex.cpp), but"
              " cli is not on a layer below screen (%s)" % LAYERS]),
            # the DEPS of a call spread over lines are read
            ("src/screen/readers/codex.cpp", "\n    mossbank_base\n", ["base/text.h"], []),
        ]
        for file, deps, includes, lines in cases:
            with self.subTest(file=file, deps=deps):
                root = self.tree(deps, includes, file)
                r = run_check(root)
                self.assertEqual(r.stdout.splitlines(), lines)
                self.assertEqual(r.returncode, 1 if lines else 0, r.stdout)

    def test_a_module_outside_the_layers(self):
        root = self.tree("mossbank_base", ["base/text.h"])
        write(root, "src/extra/CMakeLists.txt", "mossbank_module(extra DEPS mossbank_base)\n")
        write(root, "src/extra/x.cpp", '#include "base/text.h"\n')
        r = run_check(root)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout.splitlines(),
                         ["module deps: module extra has no place in the layers (%s)" % LAYERS])

    def test_the_second_module_call_of_a_folder(self):
        root = self.tree("mossbank_base", ["base/text.h"])
        write(root, "src/terminal/CMakeLists.txt",
              "# mossbank_module(old) in a comment is no call\n"
              "mossbank_module(terminal DEPS mossbank_base)\nmossbank_module(run DEPS mossbank_base)\n")
        write(root, "src/terminal/t.cpp", '#include "base/text.h"\n')
        r = run_check(root)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout.splitlines(),
                         ["module deps: src/terminal/CMakeLists.txt calls mossbank_module 2 times;"
                          " a folder is one module"])


if __name__ == "__main__":
    unittest.main()
