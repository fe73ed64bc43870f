# Packs the update archives of the luahost_apphelp_update test into OUT: the signed package and
# three that must be refused (a file changed after signing, no signature, another key's
# signature). Variables: SOURCE (this folder), OUT.
#
# good/ is signed with the test suite's key (tests/support/update_signing.h, never a release
# key) and foreign.sig is the signature of the same list by the suite's foreign key. The
# signatures cover the lists' exact bytes, so these files are kept byte for byte
# (.gitattributes). After a change to good/, sign it again with both keys (a key file holds the
# key's hexadecimal digits on one line):
#   tivorel_updatesign sign test.key good
#   cp -r good foreign-copy && tivorel_updatesign sign foreign.key foreign-copy
#   cp foreign-copy/updatelist.xml.sig foreign.sig
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
set(files updatelist.xml updatelist.xml.sig data/probe.txt)

function(pack name)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUT}/update_${name}.zip --format=zip ${ARGN}
    WORKING_DIRECTORY ${OUT}/${name} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot pack update_${name}.zip")
  endif()
endfunction()

foreach(name good altered unsigned foreign)
  file(COPY ${SOURCE}/good/ DESTINATION ${OUT}/${name})
endforeach()
file(WRITE ${OUT}/altered/data/probe.txt "signed updatE\n")
file(REMOVE ${OUT}/unsigned/updatelist.xml.sig)
file(COPY_FILE ${SOURCE}/foreign.sig ${OUT}/foreign/updatelist.xml.sig)

pack(good ${files})
pack(altered ${files})
pack(unsigned updatelist.xml data/probe.txt)
pack(foreign ${files})
