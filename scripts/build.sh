#!/usr/bin/env bash
# Configures and builds one or more trees under build/:
#   native    portable core, havrek-pack, native unit tests
#   native32  the same built with -m32: the unit tests at 32 bits
#   win64     x86_64 Windows build: Stub.exe, fixtures, tests run under Wine
#   win32     i686 Windows build: the shipping Stub.exe, a few scenarios on it
#   fuzz      clang + libFuzzer + ASan/UBSan over the portable parsers
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
    native32) configure native32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-i686.cmake" ;;
    win64) configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
             -DHAVREK_PACK="$root/build/native/tools/pack/havrek-pack" ;;
    # Its scenarios borrow the x86_64 fixtures: build native and win64 first.
    win32) configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DHAVREK_TESTS=OFF \
             -DHAVREK_FIXTURE_DIR="$root/build/win64/tests/fixtures" \
             -DHAVREK_PACK="$root/build/native/tools/pack/havrek-pack" ;;
    fuzz) CC=clang-14 CXX=clang++-14 configure fuzz -DHAVREK_FUZZ=ON -DHAVREK_TESTS=OFF ;;
    *) echo "unknown tree: $tree" >&2; exit 2 ;;
  esac
  cmake --build "$root/build/$tree" -j "$jobs"
done
