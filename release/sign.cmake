# Authenticode signing of the release's files with osslsigncode, when a
# code-signing certificate and its key are given, as cache variables of the
# release build or in the environment (QUORVEL_SIGN_CERT, QUORVEL_SIGN_KEY,
# and QUORVEL_SIGN_TIMESTAMP for a timestamp server's URL, which is optional).
foreach(name QUORVEL_SIGN_CERT QUORVEL_SIGN_KEY QUORVEL_SIGN_TIMESTAMP)
  set(${name} "${CPACK_${name}}")
  if(NOT ${name})
    set(${name} "$ENV{${name}}")
  endif()
endforeach()

if(QUORVEL_SIGN_CERT AND QUORVEL_SIGN_KEY)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
else()
  message(STATUS "release: unsigned (QUORVEL_SIGN_CERT and QUORVEL_SIGN_KEY are not both given)")
endif()

# sign(file [osslsigncode options]): signs the file in place, if at all.
function(sign file)
  if(NOT QUORVEL_SIGN_CERT OR NOT QUORVEL_SIGN_KEY)
    return()
  endif()
  set(arguments sign -certs ${QUORVEL_SIGN_CERT} -key ${QUORVEL_SIGN_KEY} -n quorvel
    -h sha256 ${ARGN} -in ${file} -out ${file}.signed)
  if(QUORVEL_SIGN_TIMESTAMP)
    list(APPEND arguments -ts ${QUORVEL_SIGN_TIMESTAMP})
  endif()
  execute_process(COMMAND ${OSSLSIGNCODE} ${arguments} RESULT_VARIABLE failed OUTPUT_QUIET)
  if(failed)
    message(FATAL_ERROR "release: signing ${file} failed")
  endif()
  file(RENAME ${file}.signed ${file})
  message(STATUS "release: signed ${file}")
endfunction()
