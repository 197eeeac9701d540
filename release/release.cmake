# The release: each Windows program built in a tree of its own with its
# toolchain, installed stripped, zipped with the text file an administrator
# reads first (quorvel-<version>-win32.zip and -win64.zip), and packaged for
# Windows Installer from the same files (quorvel-<version>-win32.msi and
# -win64.msi).
include(ExternalProject)

if(NOT DEFINED BUILD_TESTING)
  set(BUILD_TESTING ON)
endif()

# One time for every timestamp the release writes (the exes' headers, the
# zip entries, the packages' summaries), so that the same source gives the
# same bytes: SOURCE_DATE_EPOCH when given, else the time of the commit
# being built.
set(epoch $ENV{SOURCE_DATE_EPOCH})
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE epoch ERROR_VARIABLE git_said OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  # git's own words say why, such as a checkout that another user owns.
  message(FATAL_ERROR "release: set SOURCE_DATE_EPOCH to the release's time in seconds "
    "since 1970 (it is taken from the commit only in a git checkout that git will read)\n"
    "${git_said}")
endif()
# pefile and olefile are packaged by Debian for its own Python.
find_program(DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

configure_file(${CMAKE_SOURCE_DIR}/release/README.txt ${CMAKE_BINARY_DIR}/README.txt
  @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt NEWLINE_STYLE CRLF)

foreach(arch win32 win64)
  if(arch STREQUAL "win32")
    set(toolchain ${CMAKE_SOURCE_DIR}/cmake/mingw-w64-i686.cmake)
    set(triplet i686-w64-mingw32)
    set(title "quorvel.exe for 32-bit Windows")
  else()
    set(toolchain ${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake)
    set(triplet x86_64-w64-mingw32)
    set(title "quorvel.exe for 64-bit Windows")
  endif()
  # The tests run the scenarios against the installed exe: the trees build
  # what those need beside it.
  set(targets quorvel)
  if(BUILD_TESTING)
    list(APPEND targets scenario-programs)
  endif()
  set(stage ${CMAKE_BINARY_DIR}/stage/${arch})
  # Linking and stripping write the time into the exe's header.
  set(at_epoch ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch} ${CMAKE_COMMAND})
  ExternalProject_Add(quorvel-${arch}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${arch}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${toolchain} -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DBUILD_TESTING=${BUILD_TESTING}
      -DQUORVEL_VERSION=${PROJECT_VERSION}
    BUILD_COMMAND ${at_epoch} --build <BINARY_DIR> --target ${targets}
    INSTALL_COMMAND ${at_epoch} --install <BINARY_DIR> --strip --prefix ${stage}
    BUILD_ALWAYS ON)
  # What the exe carries from others, from its link map: the notices that
  # ship beside it, and the components the bill of materials lists.
  set(notices ${CMAKE_BINARY_DIR}/notices/${arch})
  add_custom_target(notices-${arch} ALL
    COMMAND ${DEBIAN_PYTHON} ${CMAKE_SOURCE_DIR}/release/notices.py
      ${CMAKE_BINARY_DIR}/${arch}/quorvel.map ${triplet} ${PROJECT_VERSION} ${title} ${notices}
    VERBATIM)
  add_dependencies(notices-${arch} quorvel-${arch})
  install(PROGRAMS ${stage}/bin/quorvel.exe ${CMAKE_BINARY_DIR}/README.txt
    ${CMAKE_BINARY_DIR}/LICENSE.txt ${notices}/THIRD-PARTY-NOTICES.txt
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
# With the address of the folder the release will be published in, it
# writes winget manifests for both packages too.
set(QUORVEL_DOWNLOAD_URL "" CACHE STRING
  "Address (https://...) of the folder the release's files are published in, for winget")
foreach(name QUORVEL_SIGN_CERT QUORVEL_SIGN_KEY QUORVEL_SIGN_TIMESTAMP QUORVEL_DOWNLOAD_URL)
  set(CPACK_${name} "${${name}}")
endforeach()
# Windows Installer knows three-number versions. The upgrade code names
# quorvel itself, for every version and both architectures: it never
# changes.
set(msi_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0)
if(PROJECT_VERSION_PATCH)
  set(msi_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
endif()
set(CPACK_QUORVEL_MSI_VERSION ${msi_version})
set(CPACK_QUORVEL_UPGRADE_CODE FEB90E66-451D-48E9-89C5-8CF85508A576)
set(CPACK_QUORVEL_SOURCE_DIR ${CMAKE_SOURCE_DIR})
set(CPACK_QUORVEL_BINARY_DIR ${CMAKE_BINARY_DIR})
set(CPACK_QUORVEL_SOURCE_DATE_EPOCH ${epoch})
set(CPACK_QUORVEL_PYTHON ${DEBIAN_PYTHON})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/release/package.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/release/sums.cmake)
include(CPack)

if(NOT BUILD_TESTING)
  return()
endif()
enable_testing()
set(CHECK_RELEASE ${DEBIAN_PYTHON} ${CMAKE_SOURCE_DIR}/tests/windows/check_release.py)
# CTest shows no output of a skipped case, so a reason to skip the win32
# cases that run a program is said here too.
execute_process(COMMAND ${DEBIAN_PYTHON} ${CMAKE_SOURCE_DIR}/tests/e2e/run.py
  --build ${CMAKE_BINARY_DIR}/win32 --wine win32 --probe
  OUTPUT_VARIABLE why_skipped OUTPUT_STRIP_TRAILING_WHITESPACE)
if(why_skipped)
  message(STATUS "${why_skipped}")
endif()
# The signed re-pack is made for a download address, so that its winget
# manifests are checked without another build.
set(url ${QUORVEL_DOWNLOAD_URL})
set(signed_url ${QUORVEL_DOWNLOAD_URL})
if(NOT signed_url)
  set(signed_url https://downloads.example.org/quorvel/${PROJECT_VERSION}/)
endif()
add_test(NAME "release: sign both exes and packages with a throw-away certificate"
  COMMAND ${CHECK_RELEASE} sign ${CMAKE_BINARY_DIR} ${signed_url})
set_tests_properties("release: sign both exes and packages with a throw-away certificate"
  PROPERTIES FIXTURES_SETUP signed)
# The upgrade test installs a later version over this one.
set(next_patch 1)
if(PROJECT_VERSION_PATCH)
  math(EXPR next_patch "${PROJECT_VERSION_PATCH} + 1")
endif()
set(next ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${next_patch})
add_test(NAME "release: build ${next} for the upgrade test"
  COMMAND ${CHECK_RELEASE} rebuild ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/upgrade ${next})
set_tests_properties("release: build ${next} for the upgrade test"
  PROPERTIES FIXTURES_SETUP later TIMEOUT 600)
# A tag's release: v and the packages' version takes every listed file and its
# notes; another tag, or a version CHANGELOG.md lacks, is refused in one line.
set(PUBLISH ${DEBIAN_PYTHON} ${CMAKE_SOURCE_DIR}/release/publish.py)
set(REFUSED sh -c "\"$@\" || echo \"exit $?\"" sh ${PUBLISH} gather v${next})
# The publish test writes the copy of CHANGELOG.md with the section dated.
add_test(NAME "release: the tag v${msi_version} is checked before the build: the version, its section dated"
  COMMAND ${PUBLISH} tag v${msi_version} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/publish/CHANGELOG.md)
add_test(NAME "release: the tag v${msi_version} publishes every listed file, notes from CHANGELOG.md"
  COMMAND ${CHECK_RELEASE} publish ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} v${msi_version} attested)
add_test(NAME "release: the signed release's notes for v${msi_version} say nothing of unsigned, and that no provenance was attested"
  COMMAND ${CHECK_RELEASE} publish ${CMAKE_BINARY_DIR}/signed ${CMAKE_SOURCE_DIR} v${msi_version} none)
add_test(NAME "release: the tag v${next} is refused in one line" COMMAND ${REFUSED}
  ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_BINARY_DIR}/publish)
add_test(NAME "release: ${next}, missing from CHANGELOG.md, is refused in one line"
  COMMAND ${REFUSED} ${CMAKE_BINARY_DIR}/upgrade ${CMAKE_SOURCE_DIR}/CHANGELOG.md
    ${CMAKE_BINARY_DIR}/upgrade/publish)
set_tests_properties("release: the signed release's notes for v${msi_version} say nothing of unsigned, and that no provenance was attested"
  PROPERTIES FIXTURES_REQUIRED signed)
set_tests_properties("release: the tag v${msi_version} publishes every listed file, notes from CHANGELOG.md"
  PROPERTIES FIXTURES_SETUP dated)
set_tests_properties("release: the tag v${msi_version} is checked before the build: the version, its section dated"
  PROPERTIES FIXTURES_REQUIRED dated)
set_tests_properties("release: the tag v${next} is refused in one line" PROPERTIES
  PASS_REGULAR_EXPRESSION "^publish: the tag is v${next}, but the packages' version is ${msi_version}: the tag must be v${msi_version}\nexit 1\n$")
set_tests_properties("release: ${next}, missing from CHANGELOG.md, is refused in one line" PROPERTIES
  FIXTURES_REQUIRED later
  PASS_REGULAR_EXPRESSION "^publish: CHANGELOG.md has no section for ${next}\nexit 1\n$")
add_test(NAME "release: the bill of materials names every file, what each exe links, the tools"
  COMMAND ${CHECK_RELEASE} sbom ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
add_test(NAME "release: BUILDINFO is this machine's toolchain; a changed version is named"
  COMMAND ${CHECK_RELEASE} buildinfo ${CMAKE_BINARY_DIR})
add_test(NAME "release: winget manifests only with a download address, each field from the packages"
  COMMAND ${CHECK_RELEASE} winget ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${url})
add_test(NAME "release: signed winget manifests, each field from the signed packages"
  COMMAND ${CHECK_RELEASE} winget ${CMAKE_BINARY_DIR}/signed ${PROJECT_VERSION} ${signed_url})
set_tests_properties("release: signed winget manifests, each field from the signed packages"
  PROPERTIES FIXTURES_REQUIRED signed)
add_test(NAME "release: a download address that is not http(s) is refused in one line"
  COMMAND ${DEBIAN_PYTHON} ${CMAKE_SOURCE_DIR}/release/winget.py ${PROJECT_VERSION}
    ftp://example.org/ ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
set_tests_properties("release: a download address that is not http(s) is refused in one line"
  PROPERTIES PASS_REGULAR_EXPRESSION
    "^winget: QUORVEL_DOWNLOAD_URL must be an http:// or https:// address, not 'ftp://example.org/'\n$")
add_test(NAME "release: built again elsewhere and later, every file is the same"
  COMMAND ${CHECK_RELEASE} reproduce ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}
    ${CMAKE_BINARY_DIR}/again ${PROJECT_VERSION})
set_tests_properties("release: built again elsewhere and later, every file is the same"
  PROPERTIES TIMEOUT 600)
if(url)
  set_tests_properties("release: built again elsewhere and later, every file is the same"
    PROPERTIES ENVIRONMENT "QUORVEL_DOWNLOAD_URL=${url}")
endif()
foreach(arch win32 win64)
  set(zip ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}-${arch}.zip)
  set(msi ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}-${arch}.msi)
  set(signed ${CMAKE_BINARY_DIR}/signed/${PROJECT_NAME}-${PROJECT_VERSION})
  set(prefix ${CMAKE_BINARY_DIR}/wine-${arch})
  set(msi_prefix ${CMAKE_BINARY_DIR}/wine-msi-${arch})
  set(installed "${msi_prefix}/drive_c/Program Files/quorvel/quorvel.exe")
  set(E2E ${DEBIAN_PYTHON} ${CMAKE_SOURCE_DIR}/tests/e2e/run.py --build ${CMAKE_BINARY_DIR}/${arch}
    --wine ${arch})
  add_test(NAME "release: ${arch} zip holds the stripped, hardened exe and the three texts"
    COMMAND ${CHECK_RELEASE} contents ${zip} ${arch} ${QUORVEL_SIZE_BUDGET})
  add_test(NAME "release: ${arch} package holds the zip's files, with its properties"
    COMMAND ${CHECK_RELEASE} package ${msi} ${zip} ${msi_version} ${CPACK_QUORVEL_UPGRADE_CODE})
  add_test(NAME "release: signed ${arch} package holds the signed zip's files"
    COMMAND ${CHECK_RELEASE} package ${signed}-${arch}.msi ${signed}-${arch}.zip ${msi_version}
      ${CPACK_QUORVEL_UPGRADE_CODE})
  add_test(NAME "release: signed ${arch} exe and package verify, and fail with one byte changed"
    COMMAND ${CHECK_RELEASE} verify ${signed}-${arch}.zip ${signed}-${arch}.msi
      ${CMAKE_BINARY_DIR}/signing/cert.pem)
  add_test(NAME "release: signed ${arch} exe prints the version under Wine"
    COMMAND ${CHECK_RELEASE} version ${signed}-${arch}.zip ${arch} ${PROJECT_VERSION} ${prefix})
  add_test(NAME "release: ${arch} package installs silently under Wine"
    COMMAND ${CHECK_RELEASE} install ${msi} ${arch} ${PROJECT_VERSION} ${msi_prefix})
  add_test(NAME "release: ${arch} Wine prefixes for the scenarios" COMMAND ${E2E} --prepare)
  add_test(NAME "release: installed ${arch} exe passes the scenarios"
    COMMAND ${E2E} --program ${installed} ${CMAKE_SOURCE_DIR}/tests/e2e/scenarios.txt)
  add_test(NAME "release: ${arch} stop the scenarios' Wine servers" COMMAND ${E2E} --stop)
  add_test(NAME "release: ${arch} package upgrades to ${next}, refuses a downgrade, uninstalls"
    COMMAND ${CHECK_RELEASE} upgrade ${msi} ${arch} ${PROJECT_VERSION} ${msi_prefix}
      ${CMAKE_BINARY_DIR}/upgrade/${PROJECT_NAME}-${next}-${arch}.msi ${next})
  set_tests_properties(
    "release: signed ${arch} exe prints the version under Wine"
    "release: ${arch} package installs silently under Wine"
    "release: ${arch} Wine prefixes for the scenarios"
    "release: installed ${arch} exe passes the scenarios"
    "release: ${arch} stop the scenarios' Wine servers"
    "release: ${arch} package upgrades to ${next}, refuses a downgrade, uninstalls"
    PROPERTIES SKIP_RETURN_CODE 77)
  set_tests_properties(
    "release: signed ${arch} package holds the signed zip's files"
    "release: signed ${arch} exe and package verify, and fail with one byte changed"
    "release: signed ${arch} exe prints the version under Wine"
    PROPERTIES FIXTURES_REQUIRED signed)
  # Installed, then the scenarios, then upgraded and removed.
  set_tests_properties("release: ${arch} package installs silently under Wine"
    PROPERTIES FIXTURES_SETUP installed-${arch})
  set_tests_properties("release: ${arch} Wine prefixes for the scenarios"
    PROPERTIES FIXTURES_SETUP prefixes-${arch} TIMEOUT 300)
  set_tests_properties("release: ${arch} stop the scenarios' Wine servers"
    PROPERTIES FIXTURES_CLEANUP prefixes-${arch})
  set_tests_properties("release: installed ${arch} exe passes the scenarios"
    PROPERTIES FIXTURES_REQUIRED "installed-${arch};prefixes-${arch}")
  set_tests_properties(
    "release: ${arch} package upgrades to ${next}, refuses a downgrade, uninstalls"
    PROPERTIES FIXTURES_CLEANUP installed-${arch} FIXTURES_REQUIRED later)
endforeach()
