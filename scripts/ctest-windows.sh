#!/usr/bin/env bash
# Runs CTest for a Windows preset under Wine, all tests inside one Xvfb display.
#   scripts/ctest-windows.sh [--preset windows|windows-x64] [ctest arguments...]   e.g. -R SmokeTest
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
preset=windows
if [ "${1:-}" = --preset ]; then preset=$2; shift 2; fi
runner=scripts/wine-run.sh
[ "$preset" = windows-x64 ] && runner=scripts/wine64-run.sh
export TIVOREL_CTEST_PRESET=$preset TIVOREL_WINE_RUNNER=$runner
inner='
  # Keep one wineserver alive for the whole run instead of one per test; it ends by itself
  # 30 s after the last Wine process, so runs that share the prefix never cut each other off.
  "$TIVOREL_WINE_RUNNER" cmd /c exit 0 >/dev/null 2>&1 || true
  "$TIVOREL_WINE_RUNNER" --keep-server 30 || true
  ctest --preset "$TIVOREL_CTEST_PRESET" "$@"'
if [ -n "${DISPLAY:-}" ]; then
  bash -c "$inner" ctest-windows "$@"
else
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$inner" ctest-windows "$@"
fi
