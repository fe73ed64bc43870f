# tiv_lua_host_test(<name> PACKAGE <dir> [HOST <target>] [TIMEOUT <seconds>] [ARGS ...]
#                   [FILES ...] [ENV NAME=VALUE ...] [LABELS ...] [WILL_FAIL])
#
# Runs a host program (default: the real host, target tivorel) with a test package, the way the
# program runs for a user: the host is copied into a fresh program folder under
# build/<preset>/luahost/<name>/program/, the package becomes its xar/ folder (together with the
# helper module "hosttest", see cmake/luahost/hosttest.lua), and the host is started (under Wine
# for the Windows target) with a time limit.
#
# The test passes only when the host exits with 0 within the limit and the package's result file
# holds a "PASS" line and no "FAIL" line. A package that raises, never quits, or crashes the host
# fails. FILES (paths, or $<TARGET_FILE:...> of programs the host runs) are copied into the
# program folder beside the host. ENV sets variables for the host's run (a value may not hold
# ";"). On failure the result file, the host's output and what the run added to "engine.log"
# are shown.
#
# Host runs are serialised with every test that uses the single-instance block.
set(TIVOREL_LUAHOST_DIR ${CMAKE_CURRENT_LIST_DIR}/luahost)

function(tiv_lua_host_test name)
  cmake_parse_arguments(T "WILL_FAIL" "PACKAGE;HOST;TIMEOUT" "ARGS;FILES;ENV;LABELS" ${ARGN})
  if(NOT T_PACKAGE)
    message(FATAL_ERROR "tiv_lua_host_test(${name}): PACKAGE is required")
  endif()
  get_filename_component(_pkg ${T_PACKAGE} ABSOLUTE)
  if(NOT T_HOST)
    set(T_HOST tivorel)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  string(REPLACE ";" "\\;" _args "${T_ARGS}")
  string(REPLACE ";" "\\;" _files "${T_FILES}")
  string(REPLACE ";" "\\;" _env "${T_ENV}")
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND}
      -DHOST=$<TARGET_FILE:${T_HOST}>
      -DPACKAGE=${_pkg}
      -DHELPER=${TIVOREL_LUAHOST_DIR}/hosttest.lua
      -DWORK=${CMAKE_BINARY_DIR}/luahost/${name}
      -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
      -DTIMEOUT=${T_TIMEOUT}
      -DARGS=${_args}
      -DFILES=${_files}
      -DENVS=${_env}
      -P ${TIVOREL_LUAHOST_DIR}/run.cmake)
  math(EXPR _ctest_timeout "${T_TIMEOUT} + 60")
  set_tests_properties(${name} PROPERTIES
    LABELS "luahost;${T_LABELS}"
    TIMEOUT ${_ctest_timeout}
    RESOURCE_LOCK tivorel_instance)
  if(T_WILL_FAIL)
    set_tests_properties(${name} PROPERTIES WILL_FAIL TRUE)
  endif()
endfunction()
