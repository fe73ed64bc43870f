#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private 32-bit prefix. The prefix is created
# on first use (about 20 s) and reused afterwards. Used as CMake's cross-compiling emulator.
set -euo pipefail
export WINEPREFIX=${TIVOREL_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/wine32}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "[wine-run] creating the Wine prefix $WINEPREFIX" >&2
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
