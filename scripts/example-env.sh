# Sourced by the example scripts: installs what is missing, builds the native
# and win64 trees, readies the Wine prefix and makes a new work folder.
# Usage: example_env WORKDIR. Sets root (the clone, also the current folder),
# work (WORKDIR, absolute), wine_run, pack and winpath.
example_env() {
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  cd "$root" || exit 1
  bash scripts/setup.sh || exit 1
  bash scripts/build.sh native win64 || exit 1

  wine_run=build/win64/wine-run.sh
  "$wine_run" --prefix-ready || { echo "could not prepare the Wine prefix" >&2; exit 1; }

  work=$1
  rm -rf "$work" && mkdir -p "$work"
  work=$(realpath "$work")
  pack=build/native/tools/pack/havrek-pack
}

# The Windows form of a Linux path, through Wine's Z: drive.
winpath() { echo "Z:$(realpath -m "$1" | sed 's|/|\\|g')"; }
