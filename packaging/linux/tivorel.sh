#!/bin/sh
# /usr/bin/tivorel: starts Tivorel from its program folder, /usr/lib/tivorel.
#
# The program keeps the downloads database and the contact backups in its profile folder, which
# beside a program owned by root cannot be written. Each user gets a profile folder of their own,
# $XDG_DATA_HOME/Tivorel/Profiles/, in which the files the program ships in its own Profiles/
# (configuration, package destinations) appear as links; a file the user put there instead of a
# link is left alone.
set -eu
program_dir=$(dirname "$(readlink -f "$0")")/../lib/tivorel
if [ "${1-}" = --version ]; then exec "$program_dir/tivorel" "$@"; fi

profiles=${XDG_DATA_HOME:-$HOME/.local/share}/Tivorel/Profiles
mkdir -p "$profiles"
for shipped in "$program_dir"/Profiles/*; do
  [ -e "$shipped" ] || continue
  own=$profiles/$(basename "$shipped")
  if [ -L "$own" ] || [ ! -e "$own" ]; then ln -sfn "$shipped" "$own"; fi
done
# Links to files that a later version no longer ships.
for own in "$profiles"/*; do
  if [ -L "$own" ] && [ ! -e "$own" ]; then rm -f "$own"; fi
done
TIVOREL_PROFILE_DIR=$profiles/ exec "$program_dir/tivorel" "$@"
