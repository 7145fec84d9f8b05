#!/usr/bin/env bash
# The main job: packs the example setup under examples/ with havrek-pack and
# runs it under headless Wine. The program it runs is the test engine, a
# stand-in setup engine that reports its command line and the files it finds
# in the setup folder; the script prints that report, the debug channel and
# the exit code the stub handed on.
set -uo pipefail
source "$(dirname "$0")/example-env.sh"
example_env build/example
engine=build/win64/tests/fixtures/test_engine.exe
ex=examples/hello

# The engine finds its report location in the control file packed beside it.
report="$work/engine-report.txt"
printf 'report=%s\r\n' "$(winpath "$work")\\engine-report.txt" > "$work/Engine.ini"

echo "== packing $ex into $work/HelloSetup.exe"
"$pack" build --stub build/win64/Stub.exe --out "$work/HelloSetup.exe" \
  --language "$ex/language.txt" \
  --file "$ex/readme.txt=readme.txt" \
  --file "$ex/docs/guide.txt=docs\\guide.txt" \
  --file "$ex/config/settings.ini=config\\settings.ini" \
  --file "$work/Engine.ini=Engine.ini" \
  --run "$engine=Engine.exe" --run-args "/example -exit=0" || exit 1
ls -l "$work/HelloSetup.exe"

debug="$work/debug.txt"
"$wine_run" build/win64/tests/fixtures/debug_viewer.exe "$(winpath "$debug")" 300 >/dev/null 2>&1 &
viewer=$!
for _ in $(seq 1 300); do [ -f "$debug.ready" ] && break; sleep 0.1; done

echo "== running HelloSetup.exe under Wine"
timeout 300 "$wine_run" "$work/HelloSetup.exe" >/dev/null 2>&1
code=$?

touch "$debug.stop"; wait $viewer 2>/dev/null
"$wine_run" --stop
echo "== debug channel"
[ -f "$debug" ] && tr -d '\r' < "$debug" | sed 's/^/   /'
echo "== engine report"
if [ -f "$report" ]; then
  sed -n 's/^engine=/   engine:       /p; s/^cmdline=/   command line: /p; s/^cwd=/   working dir:  /p' "$report"
  echo "   files in the setup folder (path, bytes, DOS date):"
  sed -n 's/^file=/     /p' "$report"
  grep -q '^atom_after=deleted' "$report" && echo "   handshake: the engine removed the atom (setup completed)"
else
  echo "   the engine did not run"
fi
echo "== summary"
echo "   package: $work/HelloSetup.exe ($(stat -c %s "$work/HelloSetup.exe") bytes)"
echo "   exit code: $code"
exit $code
