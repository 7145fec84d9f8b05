#!/usr/bin/env bash
# Whether this machine runs 32-bit x86 programs, which the i686 tests need
# (scripts/setup.sh prepares it: qemu-i386 through binfmt_misc, 32-bit Wine).
#   i386-env.sh elf|wine            exit 0 when usable, else print why, exit 1
#   i386-env.sh run elf|wine CMD..  run CMD when usable, else print
#                                   "SKIPPED: why" and exit 77 (ctest: skipped)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)

# A small 32-bit program of each kind that must start.
probe() {
  local what=$1 program args pkg
  case $what in
    elf) program=/lib/ld-linux.so.2; args=--version; pkg="libc6-i386 (g++-multilib)" ;;
    wine) program=/usr/lib/wine/wine; args=--version; pkg="wine32:i386" ;;
    *) echo "unknown kind: $what"; return 2 ;;
  esac
  local why=""
  if [ ! -x "$program" ]; then
    why="$pkg is not installed"
  elif ! timeout 60 "$program" $args >/dev/null 2>&1; then
    if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
      why="$program does not start although the qemu-i386 binfmt entry is there"
    else
      why="this kernel runs no 32-bit x86 program and no qemu-i386 binfmt entry is registered"
    fi
  fi
  [ -z "$why" ] && return 0
  local recorded="$root/build/i386-env.txt"
  if [ -f "$recorded" ] && ! grep -qx ready "$recorded"; then
    why="$why; set-up said: $(head -c 300 "$recorded")"
  fi
  echo "$why"
  return 1
}

case "${1:-}" in
  elf|wine) probe "$1" ;;
  run)
    why=$(probe "${2:-}") || { echo "SKIPPED: 32-bit environment unusable: $why"; exit 77; }
    shift 2
    # Emulated, a 32-bit program starts in tens of seconds instead of one, and
    # two scenarios run side by side while other trees run their tests.
    if grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
      export HAVREK_TIME_SCALE=${HAVREK_TIME_SCALE:-10}
    fi
    exec "$@" ;;
  *) echo "usage: $0 elf|wine | run elf|wine COMMAND..." >&2; exit 2 ;;
esac
