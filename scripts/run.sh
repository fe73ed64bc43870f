#!/usr/bin/env bash
# Installs what is missing, builds the host for Linux and runs it with the default UI package.
#   scripts/run.sh [arguments for tivorel...]
# The program runs until its UI package posts the quit message; Ctrl-C (or SIGTERM) posts it
# too, so the program always shuts down in order.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh linux
export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/ccache}
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)"
exec build/linux/stage/tivorel "$@"
