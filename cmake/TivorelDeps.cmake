# Third-party libraries as imported targets named tiv::<name>, the same names on both targets.
# Linux takes Debian's packages; Windows takes the static libraries that scripts/cross-deps.sh
# builds into TIVOREL_DEPS_PREFIX.

function(tiv_import name)
  cmake_parse_arguments(I "" "" "LIBS;INCLUDES;DEFS;DEPS" ${ARGN})
  add_library(tiv::${name} INTERFACE IMPORTED GLOBAL)
  foreach(lib IN LISTS I_LIBS)
    if(NOT lib MATCHES "^-" AND NOT TARGET ${lib} AND IS_ABSOLUTE ${lib} AND NOT EXISTS ${lib})
      message(FATAL_ERROR "tiv::${name}: ${lib} is missing (run scripts/deps.sh)")
    endif()
  endforeach()
  set_target_properties(tiv::${name} PROPERTIES
    INTERFACE_LINK_LIBRARIES "${I_LIBS};${I_DEPS}"
    INTERFACE_INCLUDE_DIRECTORIES "${I_INCLUDES}"
    INTERFACE_COMPILE_DEFINITIONS "${I_DEFS}")
endfunction()

# tiv_import_ondemand(<name> <library> <include dirs>...): tiv::<name>_ondemand, the library as
# the product code links it. Linux: headers and stand-ins (corelib/ondemand/<name>_posix.cpp)
# that open the shared library at the first call of one of its functions, not at start-up,
# where the dynamic loader's work for it and all it depends on cost more than everything else
# the host does before its UI package runs. Tests keep tiv::<name>, the library itself. Windows
# links the static libraries: tiv::<name>_ondemand is tiv::<name> there.
function(tiv_import_ondemand name library)
  if(WIN32)
    tiv_import(${name}_ondemand DEPS tiv::${name})
    return()
  endif()
  find_library(_so_${name} NAMES ${library} REQUIRED)
  execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${_so_${name}} OUTPUT_VARIABLE _dump ERROR_QUIET)
  string(REGEX MATCH "SONAME +([^\n ]+)" _match "${_dump}")
  set(_soname ${CMAKE_MATCH_1})
  if(NOT _soname)
    message(FATAL_ERROR "tiv::${name}_ondemand: no SONAME in ${_so_${name}}")
  endif()
  set(_dir ${CMAKE_SOURCE_DIR}/corelib/ondemand)
  add_library(tiv_ondemand_${name} STATIC ${_dir}/${name}_posix.cpp ${_dir}/ondemand_library_posix.cpp)
  target_include_directories(tiv_ondemand_${name} PRIVATE ${_dir} SYSTEM PUBLIC ${ARGN})
  target_compile_definitions(tiv_ondemand_${name} PRIVATE TIV_ONDEMAND_SONAME="${_soname}")
  # What the Debian package must depend on beside what its programs name (packaging/).
  set_property(GLOBAL APPEND PROPERTY TIVOREL_ONDEMAND_SONAMES ${_soname})
  target_link_libraries(tiv_ondemand_${name} PRIVATE tivorel_options PUBLIC ${CMAKE_DL_LIBS})
  tiv_import(${name}_ondemand DEPS tiv_ondemand_${name})
endfunction()

# Boost (Regex and Asio, header-only): only the boost folder is put on the include path.
set(_boost_dir ${CMAKE_BINARY_DIR}/boost-include)
if(NOT EXISTS ${_boost_dir}/boost)
  if(NOT EXISTS /usr/include/boost/version.hpp)
    message(FATAL_ERROR "Boost headers are missing (run scripts/deps.sh)")
  endif()
  file(MAKE_DIRECTORY ${_boost_dir})
  file(CREATE_LINK /usr/include/boost ${_boost_dir}/boost SYMBOLIC)
endif()
tiv_import(boost INCLUDES ${_boost_dir}
  DEFS BOOST_REGEX_STANDALONE BOOST_ALL_NO_LIB BOOST_ASIO_NO_DEPRECATED)

if(WIN32)
  set(P ${TIVOREL_DEPS_PREFIX})
  set(L ${P}/lib)
  tiv_import(zlib LIBS ${L}/libz.a INCLUDES ${P}/include)
  tiv_import(lua LIBS ${L}/liblua5.1-c++.a INCLUDES ${P}/include/lua5.1)
  tiv_import(sqlite3 LIBS ${L}/libsqlite3.a INCLUDES ${P}/include)
  tiv_import(expat LIBS ${L}/libexpat.a INCLUDES ${P}/include DEFS XML_STATIC)
  tiv_import(jsoncpp LIBS ${L}/libjsoncpp.a INCLUDES ${P}/include)
  tiv_import(nettle LIBS ${L}/libnettle.a INCLUDES ${P}/include)
  # Nettle's public-key half (Ed25519) over GMP.
  tiv_import(hogweed LIBS ${L}/libhogweed.a ${L}/libgmp.a INCLUDES ${P}/include DEPS tiv::nettle)
  tiv_import(minizip LIBS ${L}/libminizip.a INCLUDES ${P}/include/minizip DEPS tiv::zlib)
  tiv_import(archive LIBS ${L}/libarchive_static.a ${L}/libbz2.a ${L}/liblzma.a ${L}/libz.a
    INCLUDES ${P}/include DEFS LIBARCHIVE_STATIC LZMA_API_STATIC DEPS tiv::zlib)
  tiv_import(png LIBS ${L}/libpng16.a INCLUDES ${P}/include DEPS tiv::zlib)
  tiv_import(jpeg LIBS ${L}/libjpeg.a INCLUDES ${P}/include)
  tiv_import(tiff LIBS ${L}/libtiff.a INCLUDES ${P}/include DEPS tiv::jpeg tiv::zlib)
  tiv_import(gtest LIBS ${L}/libgtest.a INCLUDES ${P}/include)
  tiv_import(gmock LIBS ${L}/libgmock.a INCLUDES ${P}/include DEPS tiv::gtest)
  tiv_import(gtest_main LIBS ${L}/libgtest_main.a DEPS tiv::gmock tiv::gtest)
  tiv_import_ondemand(archive archive)
  tiv_import_ondemand(tiff tiff)
else()
  find_package(PkgConfig REQUIRED)
  # Lua built as C++: lua_error throws instead of longjmp, so destructors run.
  pkg_check_modules(LUA51 REQUIRED IMPORTED_TARGET lua5.1-c++)
  pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
  pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)
  pkg_check_modules(HOGWEED REQUIRED IMPORTED_TARGET hogweed)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
  find_package(ZLIB REQUIRED)
  find_package(SQLite3 REQUIRED)
  find_package(EXPAT REQUIRED)
  find_package(LibArchive REQUIRED)
  find_package(PNG REQUIRED)
  find_package(JPEG REQUIRED)
  find_package(TIFF REQUIRED)
  find_package(CURL REQUIRED)
  find_package(GTest REQUIRED)
  # The small C libraries that every run of the host uses or carries are linked in statically:
  # each shared library costs the dynamic loader work at every start, and together they cost
  # more than the host's own start-up.
  foreach(_lib z sqlite3 expat nettle hogweed gmp minizip png16 jpeg)
    find_library(_static_${_lib} NAMES lib${_lib}.a REQUIRED)
  endforeach()
  tiv_import(zlib LIBS ${_static_z} INCLUDES ${ZLIB_INCLUDE_DIRS})
  tiv_import(lua DEPS PkgConfig::LUA51)
  tiv_import(sqlite3 LIBS ${_static_sqlite3} INCLUDES ${SQLite3_INCLUDE_DIRS}
    DEPS tiv::zlib m ${CMAKE_DL_LIBS})
  tiv_import(expat LIBS ${_static_expat} INCLUDES ${EXPAT_INCLUDE_DIRS} DEPS m)
  tiv_import(jsoncpp DEPS PkgConfig::JSONCPP)
  tiv_import(nettle LIBS ${_static_nettle} INCLUDES ${NETTLE_INCLUDE_DIRS})
  tiv_import(hogweed LIBS ${_static_hogweed} ${_static_gmp} INCLUDES ${HOGWEED_INCLUDE_DIRS}
    DEPS tiv::nettle)
  tiv_import(minizip LIBS ${_static_minizip} INCLUDES ${MINIZIP_INCLUDE_DIRS} DEPS tiv::zlib)
  tiv_import(archive DEPS LibArchive::LibArchive)
  tiv_import(png LIBS ${_static_png16} INCLUDES ${PNG_INCLUDE_DIRS} DEPS tiv::zlib m)
  tiv_import(jpeg LIBS ${_static_jpeg} INCLUDES ${JPEG_INCLUDE_DIRS})
  tiv_import(tiff DEPS TIFF::TIFF)
  tiv_import(curl DEPS CURL::libcurl)
  tiv_import(udev DEPS PkgConfig::UDEV)
  tiv_import_ondemand(curl curl ${CURL_INCLUDE_DIRS})
  tiv_import_ondemand(archive archive ${LibArchive_INCLUDE_DIRS})
  tiv_import_ondemand(tiff tiff ${TIFF_INCLUDE_DIRS})
  tiv_import(gtest DEPS GTest::gtest)
  tiv_import(gmock DEPS GTest::gmock)
  tiv_import(gtest_main DEPS GTest::gmock GTest::gtest_main)
endif()
