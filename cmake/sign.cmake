# Run by CPack once the release's files are staged and before they are
# zipped: signs each quorvel.exe with Authenticode when a code-signing
# certificate and its key are given, as cache variables of the release
# build or in the environment (QUORVEL_SIGN_CERT, QUORVEL_SIGN_KEY, and
# QUORVEL_SIGN_TIMESTAMP for a timestamp server's URL, which is optional).
foreach(name QUORVEL_SIGN_CERT QUORVEL_SIGN_KEY QUORVEL_SIGN_TIMESTAMP)
  set(${name} "${CPACK_${name}}")
  if(NOT ${name})
    set(${name} "$ENV{${name}}")
  endif()
endforeach()

if(NOT QUORVEL_SIGN_CERT OR NOT QUORVEL_SIGN_KEY)
  message(STATUS "release: unsigned (QUORVEL_SIGN_CERT and QUORVEL_SIGN_KEY are not both given)")
  return()
endif()

find_program(OSSLSIGNCODE osslsigncode REQUIRED)
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*quorvel.exe")
foreach(program IN LISTS programs)
  set(arguments sign -certs ${QUORVEL_SIGN_CERT} -key ${QUORVEL_SIGN_KEY} -n quorvel
    -h sha256 -in ${program} -out ${program}.signed)
  if(QUORVEL_SIGN_TIMESTAMP)
    list(APPEND arguments -ts ${QUORVEL_SIGN_TIMESTAMP})
  endif()
  execute_process(COMMAND ${OSSLSIGNCODE} ${arguments} RESULT_VARIABLE failed OUTPUT_QUIET)
  if(failed)
    message(FATAL_ERROR "release: signing ${program} failed")
  endif()
  file(RENAME ${program}.signed ${program})
  message(STATUS "release: signed ${program}")
endforeach()
