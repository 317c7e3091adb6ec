#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine with a prefix inside the build tree.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
exec wine "$@"
