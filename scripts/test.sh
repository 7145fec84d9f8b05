#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests (also built -m32),
# havrek-pack round trips, short fuzz runs, the Win32 unit tests and
# end-to-end scenarios under headless Wine, and the i686 image checks and a
# few scenarios on the i686 stub under 32-bit Wine. Ends with one summary.
#
# The Wine scenarios mostly wait (for windows, timers, servers), each in a
# prefix of its own: they run several at a time, and beside the builds and
# tests of the trees that do not need them. Stages:
#   1. build native and win64 (every Wine tree needs both), test native;
#   2. win64's tests while win32, native32 and fuzz build; then win32's
#      tests (the longest: emulated where the kernel runs no 32-bit program)
#      while the native32 and fuzz tests run. The win64 scenarios' waits are
#      not stretched, so they do not share the machine with emulation.
# HAVREK_TEST_JOBS caps the tests run at once in every tree.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh || exit 1

start=$(date +%s)
# A tree's results under build/results: TREE.line its summary line,
# TREE.status its exit status, TREE.skipped its skipped tests, TREE.built
# and TREE.tested once built and tested; the summary reads them in order at
# the end.
results=$root/build/results
rm -rf "$results"
mkdir -p "$results"

note() {  # note TREE STATUS LINE
  echo "$3" >"$results/$1.line"
  echo "$2" >"$results/$1.status"
}

build_tree() {  # build_tree TREE: 0 when built
  local tree=$1 log="$results/$1.build.log"
  if bash scripts/build.sh "$tree" >"$log" 2>&1; then
    return 0
  fi
  cat "$log"
  note "$tree" 1 "$tree: BUILD FAILED"
  return 1
}

# test_tree TREE JOBS [elf|wine]: run one built tree's tests, its log in
# build/TREE/ctest.log; the last argument names the 32-bit programs the
# tree's tests need, so that the summary can say why they were skipped.
test_tree() {
  local tree=$1 jobs=${HAVREK_TEST_JOBS:-$2} needs=${3:-} t0 log="build/$1/ctest.log"
  t0=$(date +%s)
  (cd "build/$tree" && ctest --output-on-failure -j "$jobs" --timeout 2400) >"$log" 2>&1
  local rc=$?
  touch "$results/$tree.tested"
  local line skipped why=""
  line=$(grep -E 'tests passed|No tests were found' "$log" | tail -n 1)
  skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")
  # ctest counts a skipped test as passed; the summary does not.
  if [ "$skipped" -gt 0 ] && [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    local failed=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    [ -z "$needs" ] || why=$(bash scripts/i386-env.sh "$needs") || why=" ($why)"
    line="$((total - failed - skipped)) passed, $skipped SKIPPED$why, $failed failed, out of $total"
    echo "$skipped" >"$results/$tree.skipped"
  fi
  note "$tree" "$rc" "$tree: ${line:-no ctest summary} (exit $rc, tests $(( $(date +%s) - t0 )) s)"
}

show() {  # show TREE: the tree's test log, once its tests ran
  [ -f "$results/$1.tested" ] || return 0
  echo "== test $1"
  cat "build/$1/ctest.log"
}

stage() { echo "== $* ($(( $(date +%s) - start )) s)"; }

stage "build native, win64"
wine_ready=0
build_tree native && test_tree native 2 && show native
# The scenarios pack with the native havrek-pack.
build_tree win64 && [ -x build/native/tools/pack/havrek-pack ] && wine_ready=1

stage "test win64; build win32, native32, fuzz"
win64_pid= win32_pid=
if [ $wine_ready = 1 ]; then
  test_tree win64 6 &
  win64_pid=$!
  # The i686 scenarios run the x86_64 fixtures.
  build_tree win32 && touch "$results/win32.built"
fi
# The -m32 build needs the 32-bit packages as much as its tests need the
# machine to run 32-bit programs.
if why=$(bash scripts/i386-env.sh elf); then
  build_tree native32 && touch "$results/native32.built"
else
  note native32 0 "native32: SKIPPED, not built ($why)"
  echo 1 >"$results/native32.skipped"
fi
build_tree fuzz && touch "$results/fuzz.built"
[ -n "$win64_pid" ] && wait "$win64_pid"
show win64

stage "test win32, native32, fuzz"
# Emulated 32-bit starts take a core each: two at a time, their waits
# stretched for the native32 and fuzz tests beside them.
if [ -f "$results/win32.built" ]; then
  test_tree win32 2 wine &
  win32_pid=$!
fi
[ -f "$results/native32.built" ] && test_tree native32 2 elf && show native32
[ -f "$results/fuzz.built" ] && test_tree fuzz 2 && show fuzz
[ -n "$win32_pid" ] && wait "$win32_pid"
show win32

echo
echo "================ summary ================"
status=0
skipped_total=0
for tree in native native32 win64 win32 fuzz; do
  if [ -f "$results/$tree.line" ]; then
    echo "  $(cat "$results/$tree.line")"
    [ "$(cat "$results/$tree.status")" = 0 ] || status=1
  else
    echo "  $tree: NOT RUN (a tree it needs failed)"
    status=1
  fi
  [ -f "$results/$tree.skipped" ] && skipped_total=$((skipped_total + $(cat "$results/$tree.skipped")))
done
echo "  time: $(( $(date +%s) - start )) s"
if [ $status -ne 0 ]; then
  echo "  FAILURES (see above)"
elif [ $skipped_total -gt 0 ]; then
  echo "  PASSED, BUT $skipped_total SKIPPED (see above)"
else
  echo "  ALL PASSED"
fi
exit $status
