# Makes keys, signs an update folder and verifies it with tivorel_updatesign; a flipped bit in a
# file or in the signature, a foreign key and a file the list does not name are refused. Paths
# are relative to WORK so that they mean the same file to a native run and to Wine.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/pkg/bin ${WORK}/pkg/data)

function(run expect_ok)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN}
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expect_ok AND NOT rc EQUAL 0)
    message(FATAL_ERROR "tivorel_updatesign ${ARGN} failed (${rc}): ${out}${err}")
  elseif(NOT expect_ok AND rc EQUAL 0)
    message(FATAL_ERROR "tivorel_updatesign ${ARGN} should have failed: ${out}")
  endif()
  set(last_output "${out}${err}" PARENT_SCOPE)
endfunction()

function(expect_output piece)
  string(FIND "${last_output}" "${piece}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected \"${piece}\" in: ${last_output}")
  endif()
endfunction()

run(TRUE keygen release.key release.pub)
file(READ ${WORK}/release.key secret)
run(FALSE keygen release.key again.pub)  # an existing private key is never replaced
file(READ ${WORK}/release.key secret_after)
if(NOT secret STREQUAL secret_after)
  message(FATAL_ERROR "keygen replaced an existing private key")
endif()
run(TRUE keygen other.key other.pub)

file(WRITE ${WORK}/pkg/updatelist.xml
  "<Update><FileList><f src=\"bin\\prog.bin\" dest=\"prog.bin\"/>"
  "<f src=\"data\\a.txt\" dest=\"xar\\a.txt\"/></FileList></Update>")
file(WRITE ${WORK}/pkg/bin/prog.bin "program")
file(WRITE ${WORK}/pkg/data/a.txt "abc")

run(TRUE sign release.key pkg)
file(READ ${WORK}/pkg/updatelist.xml list)
# The SHA-256 of "abc" went into the list.
string(FIND "${list}" "sha256='ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad'" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the digest of data\\a.txt is not in the list: ${list}")
endif()
run(TRUE verify release.pub pkg)
expect_output("authentic")
run(FALSE verify other.pub pkg)
expect_output("does not verify against any trusted key")

# One bit of a file: "c" (0x63) becomes "b" (0x62).
file(WRITE ${WORK}/pkg/data/a.txt "abb")
run(FALSE verify release.pub pkg)
expect_output("does not match its SHA-256")
file(WRITE ${WORK}/pkg/data/a.txt "abc")
run(TRUE verify release.pub pkg)

# One bit of the signature: its first hexadecimal digit with the lowest bit flipped.
file(READ ${WORK}/pkg/updatelist.xml.sig sig)
string(SUBSTRING "${sig}" 0 1 first)
string(SUBSTRING "${sig}" 1 -1 rest)
set(digits 0123456789abcdef)
string(FIND "${digits}" "${first}" value)
math(EXPR flipped "${value} ^ 1")
string(SUBSTRING "${digits}" ${flipped} 1 first)
file(WRITE ${WORK}/pkg/updatelist.xml.sig "${first}${rest}")
run(FALSE verify release.pub pkg)
expect_output("does not verify against any trusted key")
file(WRITE ${WORK}/pkg/updatelist.xml.sig "${sig}")
run(TRUE verify release.pub pkg)

# A file the list does not name: signing refuses and leaves no signature behind.
file(WRITE ${WORK}/pkg/bin/extra.dll "unlisted")
run(FALSE sign release.key pkg)
expect_output("does not name")
if(EXISTS ${WORK}/pkg/updatelist.xml.sig)
  message(FATAL_ERROR "a refused folder kept its signature")
endif()
run(FALSE verify release.pub pkg)
expect_output("not signed")

run(FALSE sign release.pub)  # wrong usage
