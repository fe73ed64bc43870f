# The same Windows code built for 64-bit Windows, run under 64-bit Wine: the Windows tests'
# stand-in on machines that cannot execute 32-bit x86 code.
set(TIVOREL_MINGW_TRIPLE x86_64-w64-mingw32)
set(TIVOREL_WINE_RUNNER wine64-run.sh)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
