#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, then builds the program, its
# tests and benchmarks: build/ (optimised), build-asan/ (AddressSanitizer +
# UndefinedBehaviorSanitizer), build-tsan/ (ThreadSanitizer: the tests of
# every module whose state threads share) and build-fuzz/ (clang, libFuzzer
# targets).
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config python3
          libpcre2-dev nlohmann-json3-dev libssl-dev libgtest-dev tmux curl hyperfine)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q "${missing[@]}"
fi

# The whole-program MCP tests drive the server with the official MCP client.
if [ -f tests/mcp-client/package.json ] && [ ! -d tests/mcp-client/node_modules ]; then
  command -v npm >/dev/null || { echo "setup: npm is needed for the MCP client tests"; exit 1; }
  if [ -f tests/mcp-client/package-lock.json ]; then
    npm ci --prefix tests/mcp-client --no-audit --no-fund
  else
    npm install --prefix tests/mcp-client --no-audit --no-fund
  fi
fi

# The coding agents themselves, for the whole-program agent tests and the
# screen fixtures (about 1.6 GB).
if [ -f tests/agents/package-lock.json ] && [ ! -d tests/agents/node_modules ]; then
  command -v npm >/dev/null || { echo "setup: npm is needed for the agent tests"; exit 1; }
  npm ci --prefix tests/agents --no-audit --no-fund
fi

jobs=$(nproc 2>/dev/null || echo 4)
configure() { # dir, cmake args...
  local dir=$1; shift
  [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja "$@"
}
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
configure build-asan -DCMAKE_BUILD_TYPE=Debug -DMOSSBANK_SANITIZE=ON
configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOSSBANK_TSAN=ON
CC=clang CXX=clang++ configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOSSBANK_FUZZ=ON

cmake --build build -j "$jobs"
cmake --build build-asan -j "$jobs"
cmake --build build-tsan -j "$jobs"
cmake --build build-fuzz -j "$jobs"
echo "setup: built build/mossbank and the test builds"
