#!/usr/bin/env bash
# Installs what is missing, builds the presets and runs every test.
#   scripts/test.sh                    linux, linux-asan, linux-tsan, linux-fuzz and windows
#   scripts/test.sh linux windows      only the named presets
# Where this machine cannot execute 32-bit x86 code, "windows" is built without running its tests
# and "windows-x64" (the same code for 64-bit Windows, under 64-bit Wine) is built and tested too.
# linux-tsan builds and runs, under ThreadSanitizer, the tests whose code hands work between
# threads; linux-fuzz builds the libFuzzer harnesses and runs each over its seed corpus and for a
# short smoke run (scripts/fuzz.sh runs them for longer).
# Exits non-zero when any build or test fails; every preset is still tried.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan linux-tsan linux-fuzz windows)

. scripts/machine.sh
need_windows=0 need_linux=0 with_x64=()
for p in "${presets[@]}"; do
  case "$p" in
    windows) need_windows=1; runs_32bit || with_x64=(windows-x64) ;;
    windows-x64) need_windows=1 ;;
    *) need_linux=1 ;;
  esac
done
for p in "${presets[@]}"; do [ "$p" = windows-x64 ] && with_x64=(); done
presets+=("${with_x64[@]}")
if [ "$need_windows" = 1 ] && [ "$need_linux" = 1 ]; then scripts/deps.sh all
elif [ "$need_windows" = 1 ]; then scripts/deps.sh linux && scripts/deps.sh windows
else scripts/deps.sh linux; fi || exit 1

export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/ccache}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
# Paths relative to the checkout and no working directory in the hash: another clone of the
# tree (a CI run) reuses what an earlier build compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
jobs=$(nproc)

# Without 32-bit execution the 32-bit target is still built, with the machine's own
# device-database packer, and its tests are reported as not run.

declare -A result
failed=0
for p in "${presets[@]}"; do
  echo "=== $p: configure and build"
  start=$SECONDS
  extra=()
  wine_ok=1
  if [ "$p" = windows ] && ! runs_32bit; then
    wine_ok=0
    echo "=== windows: this machine cannot execute 32-bit x86 programs, so Wine cannot run the"
    echo "=== 32-bit tests here; this target is built and the tests run on windows-x64"
    [ -f build/linux/CMakeCache.txt ] || cmake --preset linux >/dev/null
    cmake --build --preset linux --target tivorel_devdb -j "$jobs" >/dev/null || true
    extra=(-DTIVOREL_HOST_DEVDB="$root/build/linux/tools/devdb/tivorel_devdb")
  elif [ "$p" = windows ] || [ "$p" = windows-x64 ]; then
    extra=(-DTIVOREL_HOST_DEVDB=)
  fi
  if ! cmake --preset "$p" "${extra[@]}" >"build-$p.configure.log" 2>&1; then
    cat "build-$p.configure.log"; result[$p]="configure failed"; failed=1; continue
  fi
  rm -f "build-$p.configure.log"
  if ! cmake --build --preset "$p" -j "$jobs"; then
    result[$p]="build failed"; failed=1; continue
  fi
  if [ "$p" = windows ] && [ "$wine_ok" = 0 ]; then
    result[$p]="built; tests run on windows-x64 (no 32-bit x86 execution here) ($((SECONDS - start)) s)"
    continue
  fi
  echo "=== $p: tests"
  if [ "$p" = windows ] || [ "$p" = windows-x64 ]; then
    scripts/ctest-windows.sh --preset "$p"; rc=$?
  else
    ctest --preset "$p"; rc=$?
  fi
  if [ $rc -ne 0 ]; then result[$p]="tests failed"; failed=1; else result[$p]="passed"; fi
  result[$p]="${result[$p]} ($((SECONDS - start)) s)"
done

echo "=== summary"
for p in "${presets[@]}"; do printf '%-12s %s\n' "$p" "${result[$p]:-not run}"; done
exit $failed
