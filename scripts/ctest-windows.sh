#!/usr/bin/env bash
# Runs CTest for the Windows preset under Wine, all tests inside one Xvfb display.
#   scripts/ctest-windows.sh [ctest arguments...]     e.g. -R SmokeTest
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export WINEPREFIX=${TIVOREL_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/wine32}
inner='
  # Keep one wineserver alive for the whole run instead of one per test; it ends by itself
  # 30 s after the last Wine process, so runs that share the prefix never cut each other off.
  WINEPREFIX="$WINEPREFIX" scripts/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 || true
  WINEPREFIX="$WINEPREFIX" wineserver -p 30 || true
  ctest --preset windows "$@"'
if [ -n "${DISPLAY:-}" ]; then
  bash -c "$inner" ctest-windows "$@"
else
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$inner" ctest-windows "$@"
fi
