# The 32-bit Windows target, the program's real one.
set(TIVOREL_MINGW_TRIPLE i686-w64-mingw32)
set(TIVOREL_WINE_RUNNER wine-run.sh)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
