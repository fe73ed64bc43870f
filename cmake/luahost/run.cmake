# Runs one Lua host test; see TivorelLuaHostTest.cmake. Variables: HOST, PACKAGE, HELPER, WORK,
# EMULATOR (empty for native runs), TIMEOUT, ARGS, FILES, ENVS.
cmake_minimum_required(VERSION 3.25)

set(program ${WORK}/program)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${program}/Profiles ${WORK}/tmp)
get_filename_component(host_name ${HOST} NAME)
file(COPY ${HOST} DESTINATION ${program})
file(COPY ${PACKAGE}/ DESTINATION ${program}/xar)
file(COPY ${HELPER} DESTINATION ${program}/xar)
foreach(f IN LISTS FILES)
  file(COPY ${f} DESTINATION ${program})
endforeach()
set(result ${program}/xar/hosttest.result)

# Blocks of our own: a host running elsewhere on the machine (another test run, a user's
# instance) must not be taken for the serving instance.
string(RANDOM LENGTH 10 scope)
get_filename_component(test_name ${WORK} NAME)
set(ENV{TIVOREL_OBJECT_SCOPE} "${test_name}-${scope}")
foreach(pair IN LISTS ENVS)
  string(FIND "${pair}" "=" eq)
  string(SUBSTRING "${pair}" 0 ${eq} name)
  math(EXPR eq "${eq} + 1")
  string(SUBSTRING "${pair}" ${eq} -1 value)
  set(ENV{${name}} "${value}")
endforeach()

# Where the engine writes its errors: the program's temporary folder, "Tivorel" below the system
# temporary directory on Windows, "Tivorel-<uid>" below $TMPDIR on Linux.
if(EMULATOR)
  # Wine takes its temporary directory from its own prefix, not from the Unix environment; the
  # runner noted it when it set the prefix up.
  execute_process(COMMAND ${EMULATOR} --unix-temp
    OUTPUT_VARIABLE unix_temp OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET TIMEOUT 60)
  set(log ${unix_temp}/Tivorel/engine.log)
else()
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(ENV{TMPDIR} ${WORK}/tmp)
  set(log ${WORK}/tmp/Tivorel-${uid}/engine.log)
endif()
set(log_offset 0)
if(EXISTS "${log}")
  file(SIZE "${log}" log_offset)
endif()

execute_process(COMMAND ${EMULATOR} ${program}/${host_name} ${ARGS}
  WORKING_DIRECTORY ${WORK}
  TIMEOUT ${TIMEOUT}
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

# A host ended by the time limit leaves its named blocks behind on POSIX systems.
if(NOT EMULATOR AND EXISTS /dev/shm)
  file(GLOB leftovers "/dev/shm/*${test_name}-${scope}*")
  if(leftovers)
    file(REMOVE ${leftovers})
  endif()
endif()

set(problems)
if(NOT rc STREQUAL "0")
  list(APPEND problems "the host ended with: ${rc}")
endif()
if(EXISTS ${result})
  file(STRINGS ${result} lines)
  set(passed FALSE)
  foreach(line IN LISTS lines)
    if(line STREQUAL "PASS")
      set(passed TRUE)
    elseif(line MATCHES "^FAIL")
      list(APPEND problems "${line}")
    endif()
  endforeach()
  if(NOT passed)
    list(APPEND problems "the package did not report PASS")
  endif()
else()
  list(APPEND problems "the package wrote no result (it raised before finishing, or never ran)")
endif()

if(problems)
  set(report "Lua host test failed:\n")
  foreach(p IN LISTS problems)
    string(APPEND report "  ${p}\n")
  endforeach()
  if(EXISTS ${result})
    file(READ ${result} text)
    string(APPEND report "--- result file ---\n${text}")
  endif()
  string(APPEND report "--- host output ---\n${out}${err}")
  if(EXISTS "${log}")
    file(SIZE "${log}" log_size)
    if(log_size GREATER log_offset)
      math(EXPR added "${log_size} - ${log_offset}")
      file(READ "${log}" text OFFSET ${log_offset} LIMIT ${added})
      string(APPEND report "--- engine.log (this run) ---\n${text}")
    endif()
  endif()
  message(FATAL_ERROR "${report}")
endif()
message(STATUS "Lua host test passed")
