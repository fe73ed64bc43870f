# Cross toolchain for the Windows targets (MinGW-w64, POSIX thread model). The including file
# sets TIVOREL_MINGW_TRIPLE and TIVOREL_WINE_RUNNER.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${TIVOREL_MINGW_TRIPLE}")

set(CMAKE_C_COMPILER   ${TIVOREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TIVOREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${TIVOREL_MINGW_TRIPLE}-windres)
set(CMAKE_AR           ${TIVOREL_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB       ${TIVOREL_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

# Cross-built libraries live outside the tree; see scripts/cross-deps.sh.
if(NOT DEFINED TIVOREL_DEPS_PREFIX)
  if(DEFINED ENV{TIVOREL_DEPS_PREFIX})
    set(TIVOREL_DEPS_PREFIX $ENV{TIVOREL_DEPS_PREFIX})
  else()
    set(TIVOREL_DEPS_PREFIX /opt/tivorel-deps/${TIVOREL_MINGW_TRIPLE})
  endif()
endif()
set(TIVOREL_DEPS_PREFIX ${TIVOREL_DEPS_PREFIX} CACHE PATH "Prefix of the cross-built Windows libraries")

set(CMAKE_FIND_ROOT_PATH ${TIVOREL_DEPS_PREFIX} /usr/${TIVOREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine, inside the Xvfb display of the test run.
get_filename_component(_tiv_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_tiv_root}/scripts/${TIVOREL_WINE_RUNNER})
