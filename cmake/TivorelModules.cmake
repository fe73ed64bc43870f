# Helpers for modules: one portable source per unit, plus an OS layer chosen by target.

# tiv_platform_sources(<out-var> <base>...): for each base name "x" appends x_win32.cpp on
# Windows and x_posix.cpp elsewhere.
function(tiv_platform_sources out)
  set(list ${${out}})
  foreach(base IN LISTS ARGN)
    list(APPEND list ${base}_${TIVOREL_PLATFORM}.cpp)
  endforeach()
  set(${out} ${list} PARENT_SCOPE)
endfunction()

# tiv_test(<name> SOURCES ... LIBS ... [LABELS ...] [RESOURCE_LOCK ...] [PROPERTIES ...]): a
# GoogleTest binary registered with CTest. On Windows the tests run through the Wine emulator of
# the toolchain file. RESOURCE_LOCK keeps tests that use the same machine-wide resource (for
# example the host's single-instance block) from running at the same time. PROPERTIES are extra
# test properties (for example FIXTURES_REQUIRED).
function(tiv_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;RESOURCE_LOCK;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE tivorel_options ${T_LIBS} tiv::gtest_main)
  set(_props LABELS "${T_LABELS}" ENVIRONMENT "TIVOREL_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(T_RESOURCE_LOCK)
    list(APPEND _props RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
  list(APPEND _props ${T_PROPERTIES})
  if(CMAKE_CROSSCOMPILING)
    # Under Wine a process start costs much more than a test: one CTest test per binary.
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name} PROPERTIES ${_props})
  else()
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 120
      PROPERTIES ${_props})
  endif()
endfunction()

# tiv_stage(<target>): puts an executable into the program folder.
function(tiv_stage target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TIVOREL_STAGE_DIR})
endfunction()

# tiv_glob_sources(<out-var> <dir>...): every .cpp under the folders that is portable (no
# _win32/_posix suffix), plus the ones of this target's OS layer. New files need no CMake edit.
function(tiv_glob_sources out)
  set(list)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
    foreach(f IN LISTS found)
      if(f MATCHES "_(win32|posix)\\.cpp$")
        if(f MATCHES "_${TIVOREL_PLATFORM}\\.cpp$")
          list(APPEND list ${f})
        endif()
      else()
        list(APPEND list ${f})
      endif()
    endforeach()
  endforeach()
  set(${out} ${list} PARENT_SCOPE)
endfunction()

# Lua host tests: tiv_lua_host_test() runs a host program with a test package.
include(TivorelLuaHostTest)
