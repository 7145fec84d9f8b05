#!/usr/bin/env bash
# An installed program that keeps itself up to date, under headless Wine.
# The v1 setup (packed from examples/updatable) installs the program "Tool",
# its agent and the agent's .original file into "Program Files\Tool" below the
# work folder; the web server fixture offers version 2 (Tool.info and the
# update package ToolUpdate.exe). The program runs, the agent is started by
# its plain name, and the agent probes, fetches the package, closes the
# program, runs the update, records the new version, starts the program again
# and hands over to a fresh agent. The publisher's key pair is made first: the
# agent carries its public key and acts only on an offer signed with it, and
# the update package must match the SHA-256 that the signed offer names. The script prints the agent's log, the
# notifications a listener received and the program's version before and
# after.
#
# The program is the installed-program stand-in among the test fixtures: it
# reports its version (the first line of version.txt beside it) when it
# starts. The setups run the test engine, which copies the files it is told
# to into the installation folder.
set -uo pipefail
source "$(dirname "$0")/example-env.sh"
example_env build/update-example
fixtures=build/win64/tests/fixtures
ex=examples/updatable
token=TOOL-example-build
crlf() { sed -e '/^;/d' -e 's/$/\r/'; }

install="$work/Program Files/Tool"
served="$work/served"
mkdir -p "$install" "$served" "$work/v1" "$work/v2" "$work/keys"

port_file="$work/port"
python3 tests/fixtures/http_server.py --port-file "$port_file" --root "$served" >/dev/null &
server=$!
for _ in $(seq 1 100); do [ -s "$port_file" ] && break; sleep 0.1; done
base="http://127.0.0.1:$(cat "$port_file")/files"
cleanup() { kill "$server" 2>/dev/null; "$wine_run" --stop; }
trap cleanup EXIT

echo "== making the publisher's key pair"
"$pack" keygen --out "$work/keys/Tool" | sed 's/^/   /' || exit 1

echo "== packing the agent, the v1 setup and the v2 update"
"$pack" build --stub build/win64/Stub.exe --out "$work/v1/agent.exe" --auto-update --agent agent.exe --log \
  --info-base "$base" --info-name Tool.info --update-token "$token" --update-key "$work/keys/Tool.pub" \
  >/dev/null || exit 1
sed "s|@TARGET@|$(winpath "$install" | sed 's|\\|\\\\|g')|" "$ex/Tool.original.in" | crlf > "$work/v1/Tool.original"
printf 'report=%s\r\ninstall=Tool.exe;version.txt;agent.exe;Tool.original|%s\r\n' \
  "$(winpath "$work/v1-engine.txt")" "$(winpath "$install")" > "$work/v1/Engine.ini"
"$pack" build --stub build/win64/Stub.exe --out "$work/ToolSetup.exe" \
  --file "$fixtures/installed_program.exe=Tool.exe" --file "$ex/v1/version.txt=version.txt" \
  --file "$work/v1/agent.exe=agent.exe" --file "$work/v1/Tool.original=Tool.original" \
  --file "$work/v1/Engine.ini=Engine.ini" --run "$fixtures/test_engine.exe=Engine.exe" >/dev/null || exit 1
printf 'report=%s\r\ninstall=version.txt|%s\r\n' "$(winpath "$work/v2-engine.txt")" "$(winpath "$install")" \
  > "$work/v2/Engine.ini"
"$pack" build --stub build/win64/Stub.exe --out "$served/ToolUpdate.exe" --update-token "$token" \
  --file "$ex/v2/version.txt=version.txt" --file "$work/v2/Engine.ini=Engine.ini" \
  --run "$fixtures/test_engine.exe=Engine.exe" >/dev/null || exit 1
# The offer names the package's size and SHA-256 (taken from the file) and is
# signed with the publisher's private key; the settings come from Tool.offer.
settings=()
while IFS= read -r line; do settings+=(--set "$line"); done < <(grep -v -e '^;' -e '^$' "$ex/Tool.offer")
"$pack" offer --out "$served/Tool.info" --version 2 --stamp 2 --url "$base" \
  --package "$served/ToolUpdate.exe" "${settings[@]}" --key "$work/keys/Tool.key" --strict >/dev/null || exit 1
"$pack" verify-offer --pub "$work/keys/Tool.pub" "$served/Tool.info" --package "$served/ToolUpdate.exe" \
  | sed 's/^/   /' || exit 1
ls -l "$work/ToolSetup.exe" "$served/ToolUpdate.exe" | sed 's/^/   /'

echo "== installing v1 into $install"
timeout 120 "$wine_run" "$work/ToolSetup.exe" >/dev/null 2>&1 || { echo "   the v1 setup failed" >&2; exit 1; }
grep '^installed=' "$work/v1-engine.txt" | sed 's/^installed=/   /'

report="$install/Tool.exe.report"
versions() { [ -f "$report" ] && sed -n 's/^[0-9]* version //p' "$report" | tr -d '\r' | paste -sd' ' -; }
original() { tr -d '\r' < "$install/Tool.original" | sed -n 's/^VersionOriginal=//p'; }

echo "== starting the program and its agent"
"$wine_run" "$install/Tool.exe" >/dev/null 2>&1 &
for _ in $(seq 1 300); do grep -q ' ready' "$report" 2>/dev/null && break; sleep 0.1; done
echo "   program version before: $(versions)   VersionOriginal before: $(original)"
notes="$work/notes.txt"
"$wine_run" "$fixtures/listener.exe" "$(winpath "$notes")" .AutoUpdate.X_agent 300 >/dev/null 2>&1 &
for _ in $(seq 1 300); do [ -f "$notes.ready" ] && break; sleep 0.1; done
timeout 60 "$wine_run" "$install/agent.exe" >/dev/null 2>&1

log="$install/X_agent.log"
updated=no
for _ in $(seq 1 1200); do
  # Done when the fresh agent has started, the copy that updated has ended
  # and the program runs again.
  if grep -q '/_ZZ=99' "$log" 2>/dev/null && grep -q ' X === EXIT ===' "$log" &&
     [ "$(grep -c ' ready' "$report")" -ge 2 ]; then updated=yes; break; fi
  sleep 0.1
done
touch "$notes.stop"

echo "== the agent's log"
[ -f "$log" ] && tr -d '\r' < "$log" | sed 's/^/   /'
echo "== the listener's notifications (code, value)"
[ -f "$notes" ] && sed 's/^/   /' "$notes"
echo "== the program's report (pid, event)"
tr -d '\r' < "$report" | sed 's/^/   /'
echo "== summary"
echo "   program version: $(versions | sed 's/ / -> /g')"
echo "   VersionOriginal after: $(original)"
echo "   offer: $(tr -d '\r' < "$log" 2>/dev/null | grep -o 'Offer signed .* accepted' | head -1)"
echo "   update engine: $(sed -n 's/^cmdline=//p' "$work/v2-engine.txt" 2>/dev/null)"
echo "   updated and restarted: $updated"
[ "$updated" = yes ]
