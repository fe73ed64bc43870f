#!/usr/bin/env bash
# Installs what is missing, builds the presets and runs every test.
#   scripts/test.sh                    linux, linux-asan, linux-tsan, linux-fuzz and windows
#   scripts/test.sh linux windows      only the named presets
# linux-tsan builds and runs, under ThreadSanitizer, the tests whose code hands work between
# threads; linux-fuzz builds the libFuzzer harnesses and runs each over its seed corpus and for a
# short smoke run (scripts/fuzz.sh runs them for longer).
# Exits non-zero when any build or test fails; every preset is still tried.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan linux-tsan linux-fuzz windows)

need_windows=0
for p in "${presets[@]}"; do [ "$p" = windows ] && need_windows=1; done
if [ "$need_windows" = 1 ]; then scripts/deps.sh all; else scripts/deps.sh linux; fi || exit 1

export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/ccache}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
# Paths relative to the checkout and no working directory in the hash: another clone of the
# tree (a CI run) reuses what an earlier build compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
jobs=$(nproc)

# Wine runs 32-bit Windows programs only where the kernel runs 32-bit x86 code; some machines
# (a 64-bit-only virtual machine) refuse it. There the Windows target is still built, with the
# machine's own device-database packer, and its tests are reported as not run.
runs_32bit() { [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

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
    echo "=== Windows tests here; the Windows target is built and its tests are NOT run"
    [ -f build/linux/CMakeCache.txt ] || cmake --preset linux >/dev/null
    cmake --build --preset linux --target tivorel_devdb -j "$jobs" >/dev/null || true
    extra=(-DTIVOREL_HOST_DEVDB="$root/build/linux/tools/devdb/tivorel_devdb")
  elif [ "$p" = windows ]; then
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
    result[$p]="built; tests not run (no 32-bit x86 execution on this machine) ($((SECONDS - start)) s)"
    continue
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
