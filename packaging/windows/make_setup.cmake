# Makes the Windows setup program from a clean program folder (cmake -P):
#   cmake -DROOT=<folder> -DVERSION=<1.2.3> -DVERSION_FOUR=<1.2.3.0> -DARCH=x86|amd64
#         -DICON=<.ico> -DOUTFILE=<setup.exe> -DWORK=<scratch folder> [-DMAKENSIS=<makensis>]
#         -P make_setup.cmake
# The uninstaller's list of what to remove is made here from the folder itself: every file, then
# every folder, deepest first.
cmake_minimum_required(VERSION 3.25)

foreach(v ROOT VERSION VERSION_FOUR ARCH ICON OUTFILE WORK)
  if("${${v}}" STREQUAL "")
    message(FATAL_ERROR "make_setup.cmake: ${v} is not set")
  endif()
endforeach()
foreach(v ROOT ICON OUTFILE WORK)
  get_filename_component(${v} "${${v}}" ABSOLUTE)
endforeach()
if(NOT MAKENSIS)
  set(MAKENSIS makensis)
endif()

# A path below $INSTDIR as an NSIS string: "\" separators, "$" and quotes escaped.
function(nsis_path out rel)
  string(REPLACE "$" "$$" rel "${rel}")
  string(REPLACE "\"" "$\\\"" rel "${rel}")
  string(REPLACE "/" "\\" rel "${rel}")
  set(${out} "\"$INSTDIR\\${rel}\"" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${ROOT}" "${ROOT}/*")
list(SORT entries ORDER DESCENDING)  # a folder's entries sort before the folder itself
set(files_text "")
set(dirs_text "")
foreach(e IN LISTS entries)
  nsis_path(p "${e}")
  if(IS_DIRECTORY "${ROOT}/${e}")
    string(APPEND dirs_text "RMDir ${p}\n")
  else()
    string(APPEND files_text "Delete ${p}\n")
  endif()
endforeach()
if(files_text STREQUAL "")
  message(FATAL_ERROR "make_setup.cmake: ${ROOT} holds no files")
endif()
file(MAKE_DIRECTORY "${WORK}")
set(list_file "${WORK}/uninstall_files.nsh")
file(WRITE "${list_file}" "; What the setup installed; made by make_setup.cmake.\n${files_text}${dirs_text}")

get_filename_component(out_dir "${OUTFILE}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
execute_process(
  COMMAND "${MAKENSIS}" -V2 -INPUTCHARSET UTF8 -WX
    "-DVERSION=${VERSION}" "-DVERSION_FOUR=${VERSION_FOUR}" "-DARCH=${ARCH}" "-DROOT=${ROOT}"
    "-DFILE_LIST=${list_file}" "-DICON=${ICON}" "-DOUTFILE=${OUTFILE}"
    "${CMAKE_CURRENT_LIST_DIR}/tivorel.nsi"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "makensis failed (${rc})")
endif()
