#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12, as root.
# Idempotent: packages already present are not asked for again, and each cross-built
# Windows library leaves a stamp so that a second run rebuilds nothing.
#
#   scripts/deps.sh            Linux and Windows dependencies
#   scripts/deps.sh linux      Linux only
#   scripts/deps.sh windows    Windows only (cross toolchain, Wine, cross-built libraries; on a
#                              machine without 32-bit execution also the 64-bit test build's)
#   scripts/deps.sh windows-x64  the 64-bit Windows test build's only
set -euo pipefail

what=${1:-all}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/machine.sh"

log() { printf '[deps] %s\n' "$*"; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

apt_updated=0
apt_update() {
  if [ "$apt_updated" = 0 ]; then
    log "apt-get update"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    apt_updated=1
  fi
}

# Installs the packages among "$@" that are not installed yet.
apt_install() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    apt_update
    log "installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

linux_packages=(
  build-essential cmake ninja-build ccache pkg-config git
  liblua5.1-0-dev lua5.1 libsqlite3-dev libexpat1-dev libjsoncpp-dev libboost1.81-dev
  zlib1g-dev libminizip-dev libarchive-dev libpng-dev libjpeg-dev libtiff-dev
  libcurl4-openssl-dev libudev-dev nettle-dev googletest libgtest-dev libgmock-dev
  adb nginx python3 sqlite3 curl zip unzip p7zip-full
  clang libclang-rt-14-dev
  dpkg-dev lintian
)

install_linux() {
  apt_install "${linux_packages[@]}"
}

install_windows() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "enabling the i386 architecture"
    as_root dpkg --add-architecture i386
    apt_updated=0
  fi
  apt_install g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools wine wine32 xvfb xauth \
    libz-mingw-w64-dev dpkg-dev tcl ccache cmake ninja-build autoconf automake libtool make \
    nsis python3
  "$here/cross-deps.sh"
  if ! runs_32bit; then install_windows_x64; fi
}

# The 64-bit Windows test build, for machines where 32-bit Wine cannot run.
install_windows_x64() {
  apt_install g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 xvfb xauth nsis python3
  "$here/cross-deps.sh" x86_64-w64-mingw32
}

case "$what" in
  linux) install_linux ;;
  windows) install_windows ;;
  windows-x64) install_windows_x64 ;;
  all) install_linux; install_windows ;;
  *) echo "usage: $0 [all|linux|windows|windows-x64]" >&2; exit 2 ;;
esac
log "done"
