#!/usr/bin/env bash
# Renders the stub's windows under a virtual X display with Wine's own X11
# graphics driver (the tests use the "null" one, which draws nothing) and
# saves them as PNG files for a person to look at:
#   scripts/pictures.sh [win64 build tree]     (default build/win64)
# Output: build/pictures/<page>-<variant>.png. Not part of the test run; it
# installs what it needs (xvfb, xwd, ImageMagick) itself. The Wine prefix it
# uses lives in <tree>/pictures-prefix and can be deleted at any time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$(cd "${1:-$root/build/win64}" 2>/dev/null && pwd || echo "${1:-$root/build/win64}")
out="$root/build/pictures"

bash "$root/scripts/setup.sh" xvfb x11-apps imagemagick

gallery="$tree/tests/fixtures/ui_gallery.exe"
if [ ! -f "$gallery" ]; then
  if [ -z "${1:-}" ]; then
    bash "$root/scripts/build.sh" native win64
  else
    echo "pictures: $gallery is missing; build the win64 tree first" >&2
    exit 1
  fi
fi

wine=""
for w in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
  if [ -n "$w" ] && [ -x "$w" ]; then wine=$w; break; fi
done
[ -n "$wine" ] || { echo "pictures: no wine found" >&2; exit 1; }
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=$(command -v wineserver)

mkdir -p "$out"
export WINEPREFIX="$tree/pictures-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export PICTURES_WINE="$wine" PICTURES_SERVER="$server" PICTURES_GALLERY="$gallery" PICTURES_OUT="$out"

# One X session for everything: the prefix is made under it, then each
# sample is shown, captured once it reports its place, and left to close
# by itself.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -u
  if [ ! -f "$WINEPREFIX/.pictures-ready" ]; then
    "$PICTURES_WINE" wineboot -i >/dev/null 2>&1
    # No window manager runs on the virtual display: Wine draws the frames
    # and captions itself.
    "$PICTURES_WINE" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Decorated /d N /f >/dev/null 2>&1
    "$PICTURES_SERVER" -w
    touch "$WINEPREFIX/.pictures-ready"
  fi
  unix_to_wine() { echo "Z:${1//\//\\}"; }
  shot() {
    local page=$1 variant=$2
    local geometry="$PICTURES_OUT/$page-$variant.geometry"
    rm -f "$geometry"
    "$PICTURES_WINE" "$PICTURES_GALLERY" "$page" "$variant" "$(unix_to_wine "$geometry")" 6 >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 1 300); do [ -s "$geometry" ] && break; sleep 0.1; done
    if [ ! -s "$geometry" ]; then
      echo "pictures: $page $variant did not come up" >&2
      wait $pid
      return 1
    fi
    sleep 1
    read -r x y w h <"$geometry"
    xwd -root -silent | convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage "$PICTURES_OUT/$page-$variant.png"
    rm -f "$geometry"
    wait $pid
    echo "pictures: $PICTURES_OUT/$page-$variant.png"
  }
  status=0
  for variant in error confirm warning rtl; do shot msgbox "$variant" || status=1; done
  for variant in ltr rtl; do shot progress "$variant" || status=1; done
  for variant in link plain; do shot inform "$variant" || status=1; done
  "$PICTURES_SERVER" -w
  exit $status
'
