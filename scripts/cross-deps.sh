#!/usr/bin/env bash
# Cross-builds the Windows MinGW libraries from Debian's own source packages into
# $TIVOREL_DEPS_PREFIX (default /opt/tivorel-deps/TRIPLE). Each library leaves a stamp; a library
# whose stamp is present is not fetched or built again.
#   scripts/cross-deps.sh [i686-w64-mingw32|x86_64-w64-mingw32]     (default i686)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
triple=${1:-i686-w64-mingw32}
case "$triple" in
  i686-w64-mingw32) toolchain=$root/cmake/toolchain-mingw32.cmake ;;
  x86_64-w64-mingw32) toolchain=$root/cmake/toolchain-mingw64.cmake ;;
  *) echo "usage: $0 [i686-w64-mingw32|x86_64-w64-mingw32]" >&2; exit 2 ;;
esac
base=${TIVOREL_DEPS_BASE:-/opt/tivorel-deps}
prefix=${TIVOREL_DEPS_PREFIX:-$base/$triple}
srcdir=$base/src
stamps=$prefix/stamps
jobs=$(nproc)

CC=$triple-gcc-posix
CXX=$triple-g++-posix
AR=$triple-gcc-ar-posix
RANLIB=$triple-gcc-ranlib-posix

log() { printf '[cross-deps] %s\n' "$*" >&2; }
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

mkdir -p "$prefix/include" "$prefix/lib" "$srcdir" "$stamps"

have() { [ -f "$stamps/$1" ]; }
done_with() { date -u +%FT%TZ > "$stamps/$1"; log "$1 ready"; }

# apt-get source needs deb-src entries; add them beside the binary ones when missing.
ensure_deb_src() {
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  log "enabling deb-src entries"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      as_root tee /etc/apt/sources.list.d/tivorel-deb-src.sources >/dev/null
  else
    grep -hE '^deb ' /etc/apt/sources.list 2>/dev/null | sed 's/^deb /deb-src /' |
      as_root tee /etc/apt/sources.list.d/tivorel-deb-src.list >/dev/null
  fi
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
}

# Unpacks Debian's source package $1 (patches applied) under $srcdir and prints its folder.
fetch_source() {
  local pkg=$1 dir
  dir=$(find "$srcdir" -maxdepth 1 -type d -name "$pkg-[0-9]*" | head -n 1)
  if [ -z "$dir" ]; then
    ensure_deb_src
    # Try the newest source first; a mirror may lack a version it lists, so fall back in order.
    local v ok=0
    for v in $(apt-cache showsrc "$pkg" | awk '/^Version:/ {print $2}' | sort -Vr -u); do
      if (cd "$srcdir" && apt-get source -qq "$pkg=$v" >/dev/null 2>&1); then ok=1; break; fi
      log "source $pkg=$v not available, trying an older one"
    done
    [ "$ok" = 1 ] || { echo "no source of $pkg could be fetched" >&2; exit 1; }
    dir=$(find "$srcdir" -maxdepth 1 -type d -name "$pkg-[0-9]*" | head -n 1)
  fi
  [ -n "$dir" ] || { echo "source of $pkg not found" >&2; exit 1; }
  printf '%s\n' "$dir"
}

cmake_dep() {
  local name=$1 src=$2; shift 2
  local b=$srcdir/build-$triple-$name
  rm -rf "$b"
  cmake -S "$src" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DTIVOREL_DEPS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=OFF "$@" >/dev/null
  cmake --build "$b" -j "$jobs" >/dev/null
  cmake --install "$b" >/dev/null
  rm -rf "$b"
}

# Compiles the C files "$@" (paths relative to $src) into lib$lib.a.
archive_c() {
  local lib=$1 src=$2 cflags=$3; shift 3
  local b=$srcdir/build-$triple-$lib f objs=()
  rm -rf "$b"; mkdir -p "$b"
  for f in "$@"; do
    ${ARCHIVE_CC:-$CC} -O2 $cflags -c "$src/$f" -o "$b/$(basename "${f%.c}").o"
    objs+=("$b/$(basename "${f%.c}").o")
  done
  rm -f "$prefix/lib/lib$lib.a"
  $AR rcs "$prefix/lib/lib$lib.a" "${objs[@]}"
  rm -rf "$b"
}

# zlib comes from Debian's libz-mingw-w64-dev; make it visible under the prefix.
if ! have zlib; then
  cp -f /usr/$triple/include/zlib.h /usr/$triple/include/zconf.h "$prefix/include/"
  cp -f /usr/$triple/lib/libz.a "$prefix/lib/libz.a"
  done_with zlib
fi

# Lua is compiled as C++, as Debian's liblua5.1-c++ is: lua_error then throws, so C++ frames
# that a Lua error crosses run their destructors. Debian's luaconf.h gives the API C linkage
# under C++; LUA_BUILD_AS_DLL must stay undefined (any value selects dllexport and C++ names).
if ! have lua-c++; then
  src=$(fetch_source lua5.1)
  files=$(cd "$src/src" && ls *.c | grep -vE '^(lua|luac|print)\.c$')
  ARCHIVE_CC="$CXX -x c++" archive_c lua5.1-c++ "$src/src" "" $files
  mkdir -p "$prefix/include/lua5.1"
  cp -f "$src/src/lua.h" "$src/src/luaconf.h" "$src/src/lualib.h" "$src/src/lauxlib.h" \
    "$src/etc/lua.hpp" "$prefix/include/lua5.1/"
  done_with lua-c++
fi

if ! have sqlite3; then
  src=$(fetch_source sqlite3)
  if [ ! -f "$src/sqlite3.c" ]; then
    # The Debian source is the full tree: generate the amalgamation with a native configure.
    b=$srcdir/build-$triple-sqlite3-gen
    rm -rf "$b"; mkdir -p "$b"
    (cd "$b" && "$src/configure" --disable-tcl >/dev/null && make -j "$jobs" sqlite3.c >/dev/null)
    cp -f "$b/sqlite3.c" "$b/sqlite3.h" "$src/"
    rm -rf "$b"
  fi
  archive_c sqlite3 "$src" "-DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION" sqlite3.c
  cp -f "$src/sqlite3.h" "$prefix/include/"
  [ -f "$src/sqlite3ext.h" ] && cp -f "$src/sqlite3ext.h" "$prefix/include/" || true
  done_with sqlite3
fi

if ! have expat; then
  src=$(fetch_source expat)
  [ -f "$src/CMakeLists.txt" ] || src=$src/expat
  # Debian's security patches test "XML_DTD == 1", which the CMake template leaves empty.
  sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$src/expat_config.h.cmake"
  cmake_dep expat "$src" -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
    -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_SHARED_LIBS=OFF
  done_with expat
fi

if ! have jsoncpp; then
  src=$(fetch_source libjsoncpp)
  cmake_dep jsoncpp "$src" -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=ON -DBUILD_STATIC_LIBS=ON \
    -DBUILD_OBJECT_LIBS=OFF -DBUILD_SHARED_LIBS=OFF
  done_with jsoncpp
fi

if ! have minizip; then
  src=$(fetch_source zlib)
  mz=$src/contrib/minizip
  archive_c minizip "$mz" "-I$prefix/include -DNOCRYPT=0" ioapi.c unzip.c zip.c iowin32.c mztools.c
  mkdir -p "$prefix/include/minizip"
  cp -f "$mz"/ioapi.h "$mz"/unzip.h "$mz"/zip.h "$mz"/iowin32.h "$mz"/mztools.h "$mz"/crypt.h \
    "$prefix/include/minizip/"
  done_with minizip
fi

if ! have bzip2; then
  src=$(fetch_source bzip2)
  archive_c bz2 "$src" "-D_FILE_OFFSET_BITS=64" blocksort.c huffman.c crctable.c randtable.c \
    compress.c decompress.c bzlib.c
  cp -f "$src/bzlib.h" "$prefix/include/"
  done_with bzip2
fi

if ! have lzma; then
  src=$(fetch_source xz-utils)
  b=$srcdir/build-$triple-xz
  rm -rf "$b"; mkdir -p "$b"
  (cd "$b" && "$src/configure" --host=$triple --prefix="$prefix" --disable-shared --enable-static \
     --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-scripts \
     --disable-doc --disable-nls --enable-threads=vista CC="$CC" AR="$AR" RANLIB="$RANLIB" >/dev/null &&
   make -j "$jobs" -C src/liblzma >/dev/null && make -C src/liblzma install >/dev/null)
  rm -rf "$b"
  done_with lzma
fi

if ! have libarchive; then
  src=$(fetch_source libarchive)
  cmake_dep libarchive "$src" -DENABLE_TEST=OFF -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_NETTLE=OFF -DENABLE_MBEDTLS=OFF -DENABLE_LIBB2=OFF -DENABLE_LZ4=OFF \
    -DENABLE_ZSTD=OFF -DENABLE_LZO=OFF -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF -DENABLE_PCREPOSIX=OFF \
    -DENABLE_ICONV=OFF -DENABLE_CNG=OFF -DENABLE_ACL=OFF -DENABLE_XATTR=OFF -DENABLE_WERROR=OFF \
    -DENABLE_ZLIB=ON -DENABLE_BZip2=ON -DENABLE_LZMA=ON \
    -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
    -DBZIP2_LIBRARIES="$prefix/lib/libbz2.a" -DBZIP2_INCLUDE_DIR="$prefix/include" \
    -DLIBLZMA_LIBRARY="$prefix/lib/liblzma.a" -DLIBLZMA_INCLUDE_DIR="$prefix/include"
  # Only the static library is wanted.
  rm -f "$prefix/lib/libarchive.dll.a" "$prefix/bin/libarchive.dll"
  done_with libarchive
fi

if ! have libpng; then
  src=$(fetch_source libpng1.6)
  cmake_dep libpng "$src" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" -DSKIP_INSTALL_PROGRAMS=ON
  done_with libpng
fi

if ! have libjpeg; then
  src=$(fetch_source libjpeg-turbo)
  cmake_dep libjpeg "$src" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF \
    -DWITH_JAVA=OFF
  done_with libjpeg
fi

if ! have libtiff; then
  src=$(fetch_source tiff)
  cmake_dep libtiff "$src" -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
    -Djbig=OFF -Djpeg12=OFF -Dlerc=OFF -Dlibdeflate=OFF -Dwebp=OFF -Dzstd=OFF -Dlzma=OFF -Dcxx=OFF \
    -Djpeg=ON -Dzlib=ON -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
    -DJPEG_LIBRARY="$prefix/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$prefix/include"
  done_with libtiff
fi

if ! have gmp; then
  # Under nettle's public-key half (Ed25519 for signed updates). Generic C: no assembly to port.
  src=$(fetch_source gmp)
  # Debian's source leaves the manual out and its build regenerates configure without it; take
  # the doc folder out of the generated files in the same way.
  if [ ! -d "$src/doc" ]; then
    sed -i 's| doc/Makefile||' "$src/configure"
    sed -i 's|^\(SUBDIRS = .*\) doc$|\1|' "$src/Makefile.in"
  fi
  b=$srcdir/build-$triple-gmp
  rm -rf "$b"; mkdir -p "$b"
  (cd "$b" && "$src/configure" --host=$triple --prefix="$prefix" --disable-shared --enable-static \
     --disable-assembly --disable-cxx CC="$CC" AR="$AR" RANLIB="$RANLIB" CC_FOR_BUILD=gcc >/dev/null &&
   make -j "$jobs" >/dev/null && make install >/dev/null)
  rm -rf "$b"
  done_with gmp
fi

if ! have nettle-hogweed; then
  # The hashes and ciphers (libnettle) and the public-key half over GMP (libhogweed).
  src=$(fetch_source nettle)
  b=$srcdir/build-$triple-nettle
  rm -rf "$b"; mkdir -p "$b"
  (cd "$b" && "$src/configure" --host=$triple --prefix="$prefix" --disable-shared --enable-static \
     --enable-public-key --disable-assembler --disable-fat --disable-openssl \
     --disable-documentation CC="$CC" AR="$AR" RANLIB="$RANLIB" \
     CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" >/dev/null &&
   grep -q '^#define WITH_HOGWEED 1' config.h &&
   make -j "$jobs" libnettle.a libhogweed.a >/dev/null && make install-headers install-static >/dev/null)
  [ -f "$prefix/lib/libhogweed.a" ] || { echo "nettle was built without its public-key half" >&2; exit 1; }
  rm -rf "$b"
  done_with nettle-hogweed
fi

if ! have googletest; then
  # Debian ships the GoogleTest sources with its googletest package.
  cmake_dep googletest /usr/src/googletest -Dgtest_disable_pthreads=OFF -DINSTALL_GTEST=ON \
    -DBUILD_GMOCK=ON -Dgtest_force_shared_crt=OFF
  done_with googletest
fi

log "all Windows libraries present in $prefix"
