# Compiler settings shared by every target of the project.
option(TIVOREL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
# The fuzzing build (clang): every library is instrumented for libFuzzer's coverage and built
# with AddressSanitizer and UBSan; only the libraries and the harnesses of fuzz/ are built.
option(TIVOREL_FUZZ "Build the libFuzzer harnesses (clang)" OFF)
# The thread-sanitizer build: only the tests that hand work between threads are built.
option(TIVOREL_TSAN "Build with ThreadSanitizer" OFF)

if(WIN32)
  set(TIVOREL_PLATFORM win32)
else()
  set(TIVOREL_PLATFORM posix)
endif()

add_library(tivorel_options INTERFACE)
target_compile_options(tivorel_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra>
  $<$<COMPILE_LANGUAGE:C>:-Wall>)

if(WIN32)
  # Unicode Win32 API, Windows 7 as the oldest system, no min/max macros.
  target_compile_definitions(tivorel_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # The executables carry their runtime: no MinGW DLLs beside them.
  set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")
endif()

if(TIVOREL_SANITIZE)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(tivorel_options INTERFACE ${_san})
  target_link_options(tivorel_options INTERFACE ${_san})
endif()

if(TIVOREL_FUZZ)
  set(_fuzz -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  target_compile_options(tivorel_options INTERFACE ${_fuzz})
  target_link_options(tivorel_options INTERFACE -fsanitize=address,undefined)
endif()

if(TIVOREL_TSAN)
  set(_tsan -fsanitize=thread -fno-omit-frame-pointer)
  # Boost.Asio uses atomic_thread_fence, which the sanitizer does not model; GCC says so at
  # every use. No fence of ours stands alone (each pairs with a mutex or an atomic access).
  target_compile_options(tivorel_options INTERFACE $<$<CXX_COMPILER_ID:GNU>:-Wno-tsan>)
  target_compile_options(tivorel_options INTERFACE ${_tsan})
  target_link_options(tivorel_options INTERFACE ${_tsan})
endif()

find_package(Threads REQUIRED)
target_link_libraries(tivorel_options INTERFACE Threads::Threads)
