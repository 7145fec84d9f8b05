#!/usr/bin/env bash
# Rebuilds tests/fixtures/compat/: the x86_64 Stub.exe and the native
# havrek-pack of the last release before packages carried integrity records.
# They are checked in, not built by every test run: the compatibility
# scenarios prove that setups already in users' hands and packages written
# by the new tool mix both ways, and that needs the old programs as they
# were, not as today's sources would build them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=${1:-7113491}
jobs=${HAVREK_JOBS:-$(nproc)}
# Under build/ of this tree, so that the shared compiler cache (which maps
# paths below CCACHE_BASEDIR) serves the files both versions share.
work="$root/build/compat-$commit"
rm -rf "$work"
mkdir -p "$work/src"
git -C "$root" archive "$commit" | tar -x -C "$work/src"

cmake -S "$work/src" -B "$work/src/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHAVREK_TESTS=OFF >/dev/null
cmake --build "$work/src/build/native" -j "$jobs" --target havrek-pack
cmake -S "$work/src" -B "$work/src/build/win64" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHAVREK_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$work/src/build/win64" -j "$jobs" --target Stub

out="$root/tests/fixtures/compat"
mkdir -p "$out"
cp "$work/src/build/win64/Stub.exe" "$out/Stub.exe"
cp "$work/src/build/native/tools/pack/havrek-pack" "$out/havrek-pack"
strip "$out/havrek-pack"
echo "$commit" > "$out/COMMIT"
rm -rf "$work"
ls -l "$out"
