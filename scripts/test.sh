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
  local line skipped
  line=$(grep -E 'tests passed|No tests were found' "$log" | tail -n 1)
  line="$tree: ${line:-no ctest summary} (exit $rc, $(( $(date +%s) - t0 )) s)"
  skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")
  if [ "$skipped" -gt 0 ]; then
    line+="; $skipped SKIPPED"
    local why
    [ -z "$needs" ] || why=$(bash scripts/i386-env.sh "$needs") || line+=": $why"
  fi
  summary+=("$line")
  [ "$rc" -eq 0 ] || status=1
}

start=$(date +%s)
run_tree native
run_tree native32 elf
run_tree win64
# After win64: the i686 scenarios run the x86_64 fixtures.
run_tree win32 wine
run_tree fuzz

echo
echo "================ summary ================"
for s in "${summary[@]}"; do echo "  $s"; done
echo "  time: $(( $(date +%s) - start )) s"
if [ $status -eq 0 ]; then echo "  ALL PASSED"; else echo "  FAILURES (see above)"; fi
exit $status
