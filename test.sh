#!/usr/bin/env bash
# Runs every test: unit and whole-program tests of the optimised build and of
# the sanitizer build, the thread-sanitizer tests, and each fuzz target for a
# short fixed time. Run ./setup.sh first on a fresh machine.
set -uo pipefail
cd "$(dirname "$0")"
jobs=$(nproc 2>/dev/null || echo 4)
fuzz_seconds=${MOSSBANK_FUZZ_SECONDS:-20}
failed=()
rm -f build*/Testing/Temporary/LastTestsFailed.log

step() { # name, command...
  local name=$1; shift
  echo "== $name"
  "$@" || failed+=("$name")
}

# A module includes only the modules its CMake DEPS name, and names no more.
step "module dependencies" python3 cmake/check_module_deps.py

for dir in build build-asan; do
  step "build $dir" cmake --build "$dir" -j "$jobs"
  step "tests in $dir" ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 900
done

# Every module whose state threads share runs its tests under TSan too.
step "build build-tsan" cmake --build build-tsan -j "$jobs"
step "thread-sanitizer tests" ctest --test-dir build-tsan -j "$jobs" --output-on-failure --timeout 900

step "build build-fuzz" cmake --build build-fuzz -j "$jobs"
for target in $(find build-fuzz/src -maxdepth 2 -type f -name '*_fuzz' -perm -u+x | sort); do
  name=$(basename "$target")
  corpus=$(mktemp -d)
  # Seeds sit beside the module's code, in src/<module>/testdata/fuzz.
  module=$(basename "$(dirname "$target")")
  seeds=()
  [ -d "src/$module/testdata/fuzz" ] && seeds=("src/$module/testdata/fuzz")
  step "fuzz $name (${fuzz_seconds}s)" "$target" -max_total_time="$fuzz_seconds" \
    -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 "$corpus" "${seeds[@]}"
  rm -rf "$corpus"
done

if ((${#failed[@]})); then
  # The fuzz output is long; name the failed tests again where a reader looks.
  for dir in build build-asan build-tsan; do
    log=$dir/Testing/Temporary/LastTestsFailed.log
    [ -s "$log" ] && sed "s|^|failed in $dir: |" "$log"
  done
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all tests passed"
