#!/usr/bin/env bash
# Runs every libFuzzer harness (or the named ones) for a while and keeps what it finds.
#   scripts/fuzz.sh [SECONDS] [HARNESS...]     default 60 seconds each, every harness
#
# Builds the linux-fuzz preset (clang). Each harness starts from its seed corpus fuzz/corpus/<name>/
# and from what earlier runs found, kept in build/linux-fuzz/fuzz-work/<name>/; inputs that crash
# land in build/linux-fuzz/fuzz-work/artifacts/. A crashing input belongs in the seed corpus, next
# to the test of its fix. Exits non-zero when any harness crashed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-60}
shift || true

export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/ccache}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
cmake --preset linux-fuzz >/dev/null || exit 1
cmake --build --preset linux-fuzz --target fuzzers || exit 1

build=build/linux-fuzz
work=$build/fuzz-work
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for d in fuzz/corpus/*/; do harnesses+=("$(basename "$d")"); done
fi

failed=0
summary=()
for h in "${harnesses[@]}"; do
  exe=$build/fuzz/fuzz_$h
  [ -x "$exe" ] || { echo "no harness $h" >&2; failed=1; continue; }
  mkdir -p "$work/$h" "$work/artifacts"
  read -r -a opts <"$work/$h.options"
  log=$work/$h.log
  echo "=== $h: $seconds s"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$exe" "${opts[@]}" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    "$work/$h" "fuzz/corpus/$h" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  if [ $rc -ne 0 ]; then
    failed=1
    summary+=("$(printf '%-22s CRASH (see %s) %s' "$h" "$log" "$(grep -o "Test unit written to .*" "$log" | tail -1)")")
  else
    summary+=("$(printf '%-22s ok  %s runs in %s s, %s' "$h" "${execs:-?}" "$seconds" "${cov:-}")")
  fi
done

echo "=== summary"
printf '%s\n' "${summary[@]}"
exit $failed
