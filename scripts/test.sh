#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests (also built -m32),
# havrek-pack round trips, short fuzz runs, the Win32 unit tests and
# end-to-end scenarios under headless Wine, and the i686 image checks and a
# few scenarios on the i686 stub under 32-bit Wine. Ends with one summary.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh || exit 1

declare -a summary=()
status=0
skipped_total=0

# run_tree TREE [elf|wine]: build and test one tree; the second argument
# names the 32-bit programs the tree's tests need, so that the summary can say
# why they were skipped.
run_tree() {
  local tree=$1 needs=${2:-} t0
  t0=$(date +%s)
  if ! bash scripts/build.sh "$tree"; then
    summary+=("$tree: BUILD FAILED")
    status=1
    return
  fi
  echo "== test $tree"
  local log="build/$tree/ctest.log"
  (cd "build/$tree" && ctest --output-on-failure -j "${HAVREK_TEST_JOBS:-2}" --timeout 900) 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line skipped why=""
  line=$(grep -E 'tests passed|No tests were found' "$log" | tail -n 1)
  skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")
  # ctest counts a skipped test as passed; the summary does not.
  if [ "$skipped" -gt 0 ] && [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    local failed=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    [ -z "$needs" ] || why=$(bash scripts/i386-env.sh "$needs") || why=" ($why)"
    line="$((total - failed - skipped)) passed, $skipped SKIPPED$why, $failed failed, out of $total"
    skipped_total=$((skipped_total + skipped))
  fi
  summary+=("$tree: ${line:-no ctest summary} (exit $rc, $(( $(date +%s) - t0 )) s)")
  [ "$rc" -eq 0 ] || status=1
}

start=$(date +%s)
run_tree native
# The -m32 build needs the 32-bit packages as much as its tests need the
# machine to run 32-bit programs.
if why=$(bash scripts/i386-env.sh elf); then
  run_tree native32 elf
else
  summary+=("native32: SKIPPED, not built ($why)")
  skipped_total=$((skipped_total + 1))
fi
run_tree win64
# After win64: the i686 scenarios run the x86_64 fixtures.
run_tree win32 wine
run_tree fuzz

echo
echo "================ summary ================"
for s in "${summary[@]}"; do echo "  $s"; done
echo "  time: $(( $(date +%s) - start )) s"
if [ $status -ne 0 ]; then
  echo "  FAILURES (see above)"
elif [ $skipped_total -gt 0 ]; then
  echo "  PASSED, BUT $skipped_total SKIPPED (see above)"
else
  echo "  ALL PASSED"
fi
exit $status
