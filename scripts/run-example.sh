#!/usr/bin/env bash
# The main job: packs the example setup under examples/ with havrek-pack and
# runs it under headless Wine, printing what the stub reported on its debug
# channel and how it ended.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh || exit 1
bash scripts/build.sh native win64 || exit 1

wine_run=build/win64/wine-run.sh
"$wine_run" --prefix-ready || { echo "could not prepare the Wine prefix" >&2; exit 1; }

work=build/example
rm -rf "$work" && mkdir -p "$work"
pack=build/native/tools/pack/havrek-pack
ex=examples/hello
echo "== packing $ex into $work/HelloSetup.exe"
"$pack" build --stub build/win64/Stub.exe --out "$work/HelloSetup.exe" \
  --language "$ex/language.txt" --file "$ex/readme.txt=readme.txt" || exit 1
ls -l "$work/HelloSetup.exe"

winpath() { echo "Z:$(realpath "$1" | sed 's|/|\\|g')"; }
debug="$work/debug.txt"
"$wine_run" build/win64/tests/fixtures/debug_viewer.exe "$(winpath "$debug")" 300 >/dev/null 2>&1 &
viewer=$!
for _ in $(seq 1 300); do [ -f "$debug.ready" ] && break; sleep 0.1; done

echo "== running HelloSetup.exe under Wine"
"$wine_run" "$work/HelloSetup.exe" >/dev/null 2>&1
code=$?

touch "$debug.stop"; wait $viewer 2>/dev/null
"$wine_run" --stop
echo "== debug channel"
[ -f "$debug" ] && tr -d '\r' < "$debug" | sed 's/^/   /'
echo "== summary"
echo "   package: $work/HelloSetup.exe ($(stat -c %s "$work/HelloSetup.exe") bytes)"
echo "   exit code: $code"
exit $code
