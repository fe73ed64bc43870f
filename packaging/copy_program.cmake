# Copies the staged program folder into a clean folder for the packages (cmake -P):
#   cmake -DSTAGE=<stage> -DDEST=<folder> [-DSTRIP=<strip program>] -P copy_program.cmake
# Everything the stage holds is copied, except the user data that a run of the staged program
# leaves in it (a developer's downloads database and contact backups must not ship); the
# executables are stripped of their debugging information.
cmake_minimum_required(VERSION 3.25)

# What the program itself writes into its folder: the downloads database (with SQLite's side
# files), the contact backups' index and the backups, named by their time (a second backup of
# the same second gets "(2)" behind the name).
set(user_data
  "Profiles/Download.db"
  "Profiles/Download.db-*"
  "Profiles/contactRecord.xml"
  "Profiles/*年*月*日*时*分*秒*")

get_filename_component(STAGE "${STAGE}" ABSOLUTE)
get_filename_component(DEST "${DEST}" ABSOLUTE)
if(NOT IS_DIRECTORY "${STAGE}")
  message(FATAL_ERROR "No program folder at ${STAGE}: build the program first")
endif()
file(REMOVE_RECURSE "${DEST}")
file(MAKE_DIRECTORY "${DEST}")

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${STAGE}" "${STAGE}/*")
set(skip)
foreach(pattern IN LISTS user_data)
  file(GLOB found LIST_DIRECTORIES false RELATIVE "${STAGE}" "${STAGE}/${pattern}")
  list(APPEND skip ${found})
endforeach()
foreach(f IN LISTS files)
  if(f IN_LIST skip)
    message(STATUS "Left out (user data): ${f}")
    continue()
  endif()
  get_filename_component(dir "${f}" DIRECTORY)
  file(COPY "${STAGE}/${f}" DESTINATION "${DEST}/${dir}")
endforeach()

if(STRIP)
  foreach(f IN LISTS files)
    if(f IN_LIST skip)
      continue()
    endif()
    set(path "${DEST}/${f}")
    # Programs and libraries: the Windows ones by their name, ELF files by their first bytes.
    file(READ "${path}" magic LIMIT 4 HEX)
    if(f MATCHES "\\.(exe|dll)$" OR magic STREQUAL "7f454c46")
      execute_process(COMMAND "${STRIP}" --strip-unneeded --remove-section=.comment
        --remove-section=.note "${path}" RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${STRIP} failed on ${f}")
      endif()
    endif()
  endforeach()
endif()
