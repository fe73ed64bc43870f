#!/usr/bin/env bash
# Installs what is missing, builds the Linux program and runs it with the default UI package.
# Ctrl-C ends it in order.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh linux
export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tivorel/ccache}
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)"
exec build/linux/stage/tivorel "$@"
