#!/usr/bin/env bash
# Installs what is missing, builds the three presets and runs every test.
#   scripts/test.sh                    linux, linux-asan and windows
#   scripts/test.sh linux windows      only the named presets
# Exits non-zero when any build or test fails; every preset is still tried.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan windows)

need_windows=0
for p in "${presets[@]}"; do [ "$p" = windows ] && need_windows=1; done
if [ "$need_windows" = 1 ]; then scripts/deps.sh all; else scripts/deps.sh linux; fi || exit 1

export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/ccache}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
jobs=$(nproc)

declare -A result
failed=0
for p in "${presets[@]}"; do
  echo "=== $p: configure and build"
  start=$SECONDS
  if ! cmake --preset "$p" >"build-$p.configure.log" 2>&1; then
    cat "build-$p.configure.log"; result[$p]="configure failed"; failed=1; continue
  fi
  rm -f "build-$p.configure.log"
  if ! cmake --build --preset "$p" -j "$jobs"; then
    result[$p]="build failed"; failed=1; continue
  fi
  echo "=== $p: tests"
  if [ "$p" = windows ]; then
    scripts/ctest-windows.sh; rc=$?
  else
    ctest --preset "$p"; rc=$?
  fi
  if [ $rc -ne 0 ]; then result[$p]="tests failed"; failed=1; else result[$p]="passed"; fi
  result[$p]="${result[$p]} ($((SECONDS - start)) s)"
done

echo "=== summary"
for p in "${presets[@]}"; do printf '%-12s %s\n' "$p" "${result[$p]:-not run}"; done
exit $failed
