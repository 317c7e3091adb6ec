#!/usr/bin/env bash
# Makes the Wine prefix that every end-to-end scenario copies: a copy of the tree's fresh prefix (which
# takes ~10 s to create the first time).
set -euo pipefail
target=$1
# scripts/test.sh copies a fresh prefix here (one no program has run in) and says so.
if [ -n "${INTERNETSETUP_WINE_TEMPLATE_KEEP:-}" ] && [ -f "$target/system.reg" ]; then
  echo "wine template kept: $target"
  exit 0
fi
source "$(dirname "$0")/../../scripts/wine-session.sh"
wine_fresh_copy "$target"
test -f "$target/system.reg"
echo "wine template ready: $target"
