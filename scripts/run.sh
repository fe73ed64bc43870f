#!/usr/bin/env bash
# Installs what is missing, builds the host for Linux and runs it with the default UI package.
#   scripts/run.sh [arguments for tivorel...]
# The program runs until its UI package posts the quit message; Ctrl-C (or SIGTERM) posts it
# too, so the program always shuts down in order.
#
# Without a phone (the default) it first starts a virtual phone with a simulated agent behind it
# (tools/vphone/phonelab.py), a private ADB server that has the phone connected, and a local
# download server for the demo download; the host talks to them through the stock adb client.
# TIVOREL_REAL_DEVICE=1 skips the virtual phone and uses the user's own ADB server and the phone
# attached by USB. Everything started here is stopped again when the program ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh linux
export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/ccache}
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)"

work=$(mktemp -d "${TMPDIR:-/tmp}/tivorel-run.XXXXXX")
lab_pid=
host_pid=
cleanup() {
  trap - EXIT INT TERM
  if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then
    kill -TERM "$host_pid" 2>/dev/null || true
    wait "$host_pid" 2>/dev/null || true
  fi
  if [ -n "$lab_pid" ] && kill -0 "$lab_pid" 2>/dev/null; then
    kill -TERM "$lab_pid" 2>/dev/null || true
    wait "$lab_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# Ctrl-C and SIGTERM reach the host as a quit request; the script then waits for it.
trap 'if [ -n "$host_pid" ]; then kill -TERM "$host_pid" 2>/dev/null || true; else exit 130; fi' INT TERM

lab_args=()
if [ "${TIVOREL_REAL_DEVICE:-0}" = 1 ]; then
  lab_args+=(--no-phone)
fi
# Its own session: a Ctrl-C at the terminal must not stop the phone before the host has ended.
setsid python3 tools/vphone/phonelab.py up "$work" "${lab_args[@]}" >"$work/lab.out" 2>&1 &
lab_pid=$!
for _ in $(seq 1 600); do
  [ -f "$work/lab.env" ] && break
  if ! kill -0 "$lab_pid" 2>/dev/null; then
    cat "$work/lab.out" >&2
    echo "run.sh: the virtual phone did not start" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -f "$work/lab.env" ]; then
  echo "run.sh: the virtual phone did not start in time" >&2
  exit 1
fi
# ANDROID_ADB_SERVER_PORT (the private ADB server), TIVOREL_DEMO_PORT (the download server).
# shellcheck disable=SC1091
. "$work/lab.env"

status=0
build/linux/stage/tivorel "$@" &
host_pid=$!
# A trapped signal interrupts wait; keep waiting until the host has really ended.
while true; do
  wait "$host_pid" && status=0 || status=$?
  kill -0 "$host_pid" 2>/dev/null || break
done
host_pid=
exit "$status"
