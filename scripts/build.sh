#!/usr/bin/env bash
# Configures and builds one or more trees under build/:
#   native  portable core, havrek-pack, native unit tests
#   win64   x86_64 Windows build: Stub.exe, fixtures, tests run under Wine
#   win32   i686 Windows build: the shipping Stub.exe
#   fuzz    clang + libFuzzer + ASan/UBSan over the portable parsers
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${HAVREK_JOBS:-$(nproc)}

configure() {
  local tree=$1; shift
  cmake -S "$root" -B "$root/build/$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

for tree in "$@"; do
  echo "== build $tree"
  case $tree in
    native) configure native ;;
    win64) configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
             -DHAVREK_PACK="$root/build/native/tools/pack/havrek-pack" ;;
    win32) configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DHAVREK_TESTS=OFF ;;
    fuzz) CC=clang-14 CXX=clang++-14 configure fuzz -DHAVREK_FUZZ=ON -DHAVREK_TESTS=OFF ;;
    *) echo "unknown tree: $tree" >&2; exit 2 ;;
  esac
  cmake --build "$root/build/$tree" -j "$jobs"
done
