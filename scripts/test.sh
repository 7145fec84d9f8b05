#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests, havrek-pack round
# trips, short fuzz runs, the i686 image checks, and the Win32 unit tests and
# end-to-end scenarios under headless Wine. Ends with one summary.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh || exit 1

declare -a summary=()
status=0

run_tree() {
  local tree=$1
  if ! bash scripts/build.sh "$tree"; then
    summary+=("$tree: BUILD FAILED")
    status=1
    return
  fi
  echo "== test $tree"
  local log="build/$tree/ctest.log"
  (cd "build/$tree" && ctest --output-on-failure -j "${HAVREK_TEST_JOBS:-2}" --timeout 900) 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed|No tests were found' "$log" | tail -n 1)
  summary+=("$tree: ${line:-no ctest summary} (exit $rc)")
  [ "$rc" -eq 0 ] || status=1
}

start=$(date +%s)
run_tree native
run_tree win32
run_tree win64
run_tree fuzz

echo
echo "================ summary ================"
for s in "${summary[@]}"; do echo "  $s"; done
echo "  time: $(( $(date +%s) - start )) s"
if [ $status -eq 0 ]; then echo "  ALL PASSED"; else echo "  FAILURES (see above)"; fi
exit $status
