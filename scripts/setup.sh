#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, or, given package
# names, just those. Idempotent: it asks apt only for packages that are missing.
#
# Without arguments it also prepares, where it can, the 32-bit environment the
# i686 tests run in (see scripts/i386-env.sh). That part never fails the
# set-up: when it cannot be prepared the 32-bit tests report themselves skipped
# with the reason recorded here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ python3 zlib1g-dev googletest
  clang-14 libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine64 curl openssl libssl-dev
  osslsigncode p7zip-full zip
)
i386_packages=(wine32:i386 zlib1g-dev:i386 libssl-dev:i386 g++-multilib qemu-user)
with_i386=1
[ $# -eq 0 ] || { packages=("$@"); with_i386=0; }

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# An index that does not answer should cost a minute, not hang the run.
apt_opts=(-o Acquire::Retries=1 -o Acquire::http::Timeout=30 -o Acquire::https::Timeout=30)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

mapfile -t missing < <(missing_of "${packages[@]}")
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
else
  echo "setup: installing ${missing[*]}"
  $sudo apt-get "${apt_opts[@]}" update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  echo "setup: done"
fi

[ $with_i386 -eq 1 ] || exit 0

# ---- The 32-bit environment ----
# The i686 tests need 32-bit x86 programs to run: 32-bit Wine (Debian's
# wine32, of the foreign dpkg architecture i386) for the shipping Stub.exe,
# and -m32 builds of the unit tests. Where the kernel runs no 32-bit program,
# qemu's user-mode emulator does, started by the kernel for each 32-bit x86
# program through a binfmt_misc entry "qemu-i386" (gone at reboot; the next
# set-up registers it again). So this adds the architecture i386 and the
# packages below, and on such a kernel qemu-user and that entry.
status="$root/build/i386-env.txt"
mkdir -p "$root/build"

i386_unavailable() {
  echo "setup: 32-bit environment not prepared: $1 (the 32-bit tests will be skipped)" >&2
  echo "$1" > "$status"
  exit 0
}

apt_install_i386() {
  local need
  mapfile -t need < <(missing_of "$@")
  [ ${#need[@]} -gt 0 ] || return 0
  echo "setup: installing for the 32-bit tests: ${need[*]}" >&2
  local log="$root/build/i386-apt.log"
  { $sudo apt-get "${apt_opts[@]}" update -qq &&
    $sudo apt-get "${apt_opts[@]}" install -y -qq --no-install-recommends "${need[@]}"; } >"$log" 2>&1 && return 0
  echo "apt-get could not install ${need[*]}: $(grep -E '^(E|W):' "$log" | head -n 2 | tr '\n' ' ')"
  return 1
}

register_emulator() {
  local bm=/proc/sys/fs/binfmt_misc why
  why=$(apt_install_i386 qemu-user) || i386_unavailable "$why"
  if [ ! -e "$bm/register" ]; then
    $sudo mount -t binfmt_misc binfmt_misc "$bm" 2>/dev/null || i386_unavailable "binfmt_misc cannot be mounted"
  fi
  if [ ! -e "$bm/qemu-i386" ]; then
    # 32-bit x86 ELF executables and shared objects; F: the emulator is
    # opened now, so it is found from any mount namespace.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:OCF' \
      | $sudo tee "$bm/register" >/dev/null 2>&1 || i386_unavailable "the binfmt entry for qemu-i386 cannot be registered"
  fi
  grep -qx enabled "$bm/qemu-i386" || echo 1 | $sudo tee "$bm/qemu-i386" >/dev/null 2>&1 || true
  grep -qx enabled "$bm/status" || echo 1 | $sudo tee "$bm/status" >/dev/null 2>&1 || true
  echo "setup: 32-bit programs run under qemu-i386 (binfmt_misc)"
}

prepare_i386() {
  local added=0 why
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386 || i386_unavailable "dpkg refused the architecture i386"
    added=1
  fi
  if ! why=$(apt_install_i386 wine32:i386 zlib1g-dev:i386 libssl-dev:i386 g++-multilib); then
    # Leave no foreign architecture behind that nothing uses.
    [ $added -eq 0 ] || $sudo dpkg --remove-architecture i386 2>/dev/null || true
    i386_unavailable "$why"
  fi
  bash "$root/scripts/i386-env.sh" elf >/dev/null || register_emulator
  why=$(bash "$root/scripts/i386-env.sh" wine) || i386_unavailable "$why"
  echo "ready" > "$status"
  echo "setup: 32-bit environment ready"
}
prepare_i386
