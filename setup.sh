#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, then builds the program and its
# tests into build/ (optimised) and build-asan/ (AddressSanitizer + UBSan).
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config python3
          libpcre2-dev nlohmann-json3-dev libssl-dev libgtest-dev tmux curl hyperfine)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q "${missing[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 4)
configure() { # dir, extra cmake args...
  local dir=$1; shift
  [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
}
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
configure build-asan -DCMAKE_BUILD_TYPE=Debug -DMOSSBANK_SANITIZE=ON
echo "setup: built build/mossbank and build-asan/mossbank"
