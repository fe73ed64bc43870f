#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix (32-bit; 64-bit with
# TIVOREL_WINEARCH=win64, see wine64-run.sh). The prefix is created on first use (about 20 s) and
# reused afterwards. Used as CMake's cross-compiling emulator.
#   wine-run.sh PROGRAM [ARGS...]     wine-run.sh --keep-server SECONDS     wine-run.sh --unix-temp
set -euo pipefail
arch=${TIVOREL_WINEARCH:-win32}
if [ "$arch" = win64 ]; then
  export WINEPREFIX=${TIVOREL_WINEPREFIX64:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/wine64}
  # Debian's "wine" front picks the 32-bit loader whenever it is installed.
  export WINELOADER=/usr/lib/wine/wine64
  wine=$WINELOADER
else
  export WINEPREFIX=${TIVOREL_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/wine32}
  wine=wine
fi
export WINEARCH=$arch
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Set-up once per prefix: a program that crashes ends at once with its backtrace on the output,
# instead of waiting behind the crash dialog until the test's time limit; and the prefix's
# temporary folder, as a Unix path, is noted for "--unix-temp" (no Wine start per question).
setup=$WINEPREFIX/.tivorel-setup
if [ ! -s "$setup" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "[wine-run] creating the Wine prefix $WINEPREFIX" >&2
      "$wine" wineboot -i >/dev/null 2>&1 || true
    fi
    if [ ! -s "$setup" ]; then
      "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1 || true
      temp=$("$wine" cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')
      unix_temp=$("$wine" winepath -u "$temp" </dev/null 2>/dev/null | tr -d '\r')
      [ -n "$temp" ] && [ -n "$unix_temp" ] && printf '%s\n' "$unix_temp" > "$setup"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# "--keep-server SECONDS": keep this prefix's wineserver alive that long after its last program.
if [ "${1:-}" = --keep-server ]; then exec wineserver "-p$2"; fi
# "--unix-temp": where the prefix's programs find %TEMP%, as a Unix path.
if [ "${1:-}" = --unix-temp ]; then exec cat "$setup"; fi
exec "$wine" "$@"
