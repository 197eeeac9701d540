# The release: each Windows program built in a tree of its own with its
# toolchain, installed stripped, and zipped with the text file an
# administrator reads first: quorvel-<version>-win32.zip and -win64.zip.
include(ExternalProject)

configure_file(${CMAKE_SOURCE_DIR}/release/README.txt ${CMAKE_BINARY_DIR}/README.txt
  @ONLY NEWLINE_STYLE CRLF)

foreach(arch win32 win64)
  if(arch STREQUAL "win32")
    set(toolchain ${CMAKE_SOURCE_DIR}/cmake/mingw-w64-i686.cmake)
  else()
    set(toolchain ${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake)
  endif()
  set(stage ${CMAKE_BINARY_DIR}/stage/${arch})
  ExternalProject_Add(quorvel-${arch}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${arch}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${toolchain} -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DBUILD_TESTING=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target quorvel
    INSTALL_COMMAND ${CMAKE_COMMAND} --install <BINARY_DIR> --strip --prefix ${stage}
    BUILD_ALWAYS ON)
  install(PROGRAMS ${stage}/bin/quorvel.exe ${CMAKE_BINARY_DIR}/README.txt
    DESTINATION . COMPONENT ${arch})
  string(TOUPPER ${arch} ARCH)
  set(CPACK_ARCHIVE_${ARCH}_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${arch})
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL win32 win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
# Each exe is signed before it is zipped when a certificate is given.
set(QUORVEL_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (PEM) for the release")
set(QUORVEL_SIGN_KEY "" CACHE FILEPATH "Its private key (PEM)")
set(QUORVEL_SIGN_TIMESTAMP "" CACHE STRING "URL of an RFC 3161 timestamp server, optional")
foreach(name QUORVEL_SIGN_CERT QUORVEL_SIGN_KEY QUORVEL_SIGN_TIMESTAMP)
  set(CPACK_${name} "${${name}}")
endforeach()
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/sign.cmake)
include(CPack)

enable_testing()
# The PE files are read with pefile, which Debian packages for its own Python.
find_program(PEFILE_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
set(CHECK_RELEASE ${PEFILE_PYTHON} ${CMAKE_SOURCE_DIR}/tests/windows/check_release.py)
add_test(NAME "release: sign both exes with a throw-away certificate"
  COMMAND ${CHECK_RELEASE} sign ${CMAKE_BINARY_DIR})
set_tests_properties("release: sign both exes with a throw-away certificate"
  PROPERTIES FIXTURES_SETUP signed)
foreach(arch win32 win64)
  set(zip ${PROJECT_NAME}-${PROJECT_VERSION}-${arch}.zip)
  set(prefix ${CMAKE_BINARY_DIR}/wine-${arch})
  add_test(NAME "release: ${arch} zip holds the stripped exe and README.txt"
    COMMAND ${CHECK_RELEASE} contents ${CMAKE_BINARY_DIR}/${zip} ${arch})
  add_test(NAME "release: ${arch} exe prints the version under Wine"
    COMMAND ${CHECK_RELEASE} version ${CMAKE_BINARY_DIR}/${zip} ${arch} ${PROJECT_VERSION} ${prefix})
  add_test(NAME "release: signed ${arch} exe verifies, and fails with one byte changed"
    COMMAND ${CHECK_RELEASE} verify ${CMAKE_BINARY_DIR}/signed/${zip}
      ${CMAKE_BINARY_DIR}/signing/cert.pem)
  add_test(NAME "release: signed ${arch} exe prints the version under Wine"
    COMMAND ${CHECK_RELEASE} version ${CMAKE_BINARY_DIR}/signed/${zip} ${arch}
      ${PROJECT_VERSION} ${prefix})
  set_tests_properties("release: ${arch} exe prints the version under Wine"
    "release: signed ${arch} exe prints the version under Wine"
    PROPERTIES SKIP_RETURN_CODE 77)
  set_tests_properties("release: signed ${arch} exe verifies, and fails with one byte changed"
    "release: signed ${arch} exe prints the version under Wine"
    PROPERTIES FIXTURES_REQUIRED signed)
endforeach()
