#!/usr/bin/env bash
# Configures and builds the given presets in turn (each with its own jobs setting), then makes sure the
# shared Wine prefix exists before tests start Wine side by side.
#   scripts/build.sh windows native [fuzz tsan ...]
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in "$@"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
export WINEDEBUG=-all WINEPREFIX=$PWD/build/wineprefix
[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
