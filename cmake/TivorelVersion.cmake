# The program's one version number is the project's (project(Tivorel VERSION ...)). Everything
# that shows a version takes it from here: "appver" in the staged Profiles/config.ini, the
# Windows version resources, "tivorel --version" and the installers and packages.
set(TIVOREL_VERSION ${PROJECT_VERSION})
set(TIVOREL_PRODUCT_NAME Tivorel)
set(TIVOREL_PUBLISHER Qorvan)
set(TIVOREL_VERSION_DIR ${CMAKE_CURRENT_LIST_DIR}/version)

# The program reads "appver" back with at most 9 characters: a longer version would be cut short
# in the update check.
string(LENGTH "${TIVOREL_VERSION}" _len)
if(_len GREATER 9)
  message(FATAL_ERROR "The version ${TIVOREL_VERSION} is longer than the 9 characters of appver")
endif()

# Windows version resources and installers take four numbers.
set(TIVOREL_VERSION_NUMBERS)
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND TIVOREL_VERSION_NUMBERS 0)
  else()
    list(APPEND TIVOREL_VERSION_NUMBERS ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN TIVOREL_VERSION_NUMBERS "." TIVOREL_VERSION_FOUR)
list(JOIN TIVOREL_VERSION_NUMBERS "," TIVOREL_VERSION_COMMAS)

# The header for C++ code (and tests): target tivorel_version.
set(_gen ${CMAKE_BINARY_DIR}/generated)
configure_file(${TIVOREL_VERSION_DIR}/tivorel_version.h.in
  ${_gen}/tivorel_version.h @ONLY)
add_library(tivorel_version INTERFACE)
target_include_directories(tivorel_version INTERFACE ${_gen})

# The program folder's configuration: the installed version (line ends of the system; the
# reader takes both).
if(WIN32)
  set(_newline CRLF)
else()
  set(_newline LF)
endif()
configure_file(${TIVOREL_VERSION_DIR}/config.ini.in
  ${TIVOREL_STAGE_DIR}/Profiles/config.ini @ONLY NEWLINE_STYLE ${_newline})

# tiv_version_resource(<target> <description>): the Windows version resource of an executable
# (file and product version, product name, description); nothing on other systems.
function(tiv_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(TIVOREL_FILE_DESCRIPTION "${description}")
  set(TIVOREL_FILE_NAME "${target}${CMAKE_EXECUTABLE_SUFFIX}")
  set(_rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${TIVOREL_VERSION_DIR}/version.rc.in ${_rc} @ONLY)
  target_sources(${target} PRIVATE ${_rc})
endfunction()
