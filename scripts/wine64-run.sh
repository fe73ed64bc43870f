#!/usr/bin/env bash
# wine-run.sh for the 64-bit Windows test build (preset windows-x64).
TIVOREL_WINEARCH=win64 exec "$(dirname "$0")/wine-run.sh" "$@"
