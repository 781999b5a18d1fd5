#!/usr/bin/env bash
# Runs every test: the unit and whole-program tests of the optimised build and
# of the sanitizer build. Run ./setup.sh first on a fresh machine.
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc 2>/dev/null || echo 4)
status=0
for dir in build build-asan; do
  echo "== tests in $dir"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 900 || status=1
done
exit $status
