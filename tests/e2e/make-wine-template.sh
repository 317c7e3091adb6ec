#!/usr/bin/env bash
# Makes the Wine prefix that every end-to-end scenario copies (a fresh prefix takes ~10 s to create).
set -euo pipefail
target=$1
# scripts/test.sh copies a fresh prefix here (one no program has run in) and says so.
if [ -n "${INTERNETSETUP_WINE_TEMPLATE_KEEP:-}" ] && [ -f "$target/system.reg" ]; then
  echo "wine template kept: $target"
  exit 0
fi
rm -rf "$target"
mkdir -p "$(dirname "$target")"
export WINEPREFIX=$target WINEDEBUG=-all
wineboot -i >/dev/null 2>&1 || wine wineboot -i >/dev/null 2>&1
wineserver -w
test -f "$target/system.reg"
echo "wine template ready: $target"
