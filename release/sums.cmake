# Run by CPack once the zips are made, before it copies them into place:
# gives every entry of each zip the release's one time, unpacks each exe
# into a folder of its zip's name (where Windows' Extract All puts it),
# writes the bill of materials and the build environment from the files as
# they are now, and the winget manifests when a download address is given
# (QUORVEL_DOWNLOAD_URL, as a cache variable of the release build or in the
# environment), and lists the zips, the packages, those exes and what this
# step writes in SHA256SUMS, as sha256sum -c reads it.
find_program(STRIP_NONDETERMINISM strip-nondeterminism REQUIRED)
set(folder ${CPACK_PACKAGE_DIRECTORY})
set(sums "")
set(written "")
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${STRIP_NONDETERMINISM} -t zip
      -T ${CPACK_QUORVEL_SOURCE_DATE_EPOCH} ${zip}
    COMMAND_ERROR_IS_FATAL ANY)
  get_filename_component(name ${zip} NAME_WLE)
  file(REMOVE_RECURSE ${folder}/${name})
  file(ARCHIVE_EXTRACT INPUT ${zip} DESTINATION ${folder}/${name} PATTERNS quorvel.exe)
  file(SHA256 ${zip} hash)
  string(APPEND sums "${hash}  ${name}.zip\n")
  list(APPEND written ${name}.msi ${name}/quorvel.exe)
endforeach()

# The license is published beside the packages too, where the winget
# manifests point.
if(NOT folder STREQUAL CPACK_QUORVEL_BINARY_DIR)
  file(COPY_FILE ${CPACK_QUORVEL_BINARY_DIR}/LICENSE.txt ${folder}/LICENSE.txt)
endif()
set(sbom ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}.spdx.json)
execute_process(COMMAND ${CPACK_QUORVEL_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/sbom.py
    ${CPACK_PACKAGE_VERSION} ${CPACK_QUORVEL_SOURCE_DATE_EPOCH} ${folder}
    ${CPACK_QUORVEL_BINARY_DIR}/notices ${CPACK_PACKAGE_FILES}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "release: writing ${folder}/${sbom} and BUILDINFO failed")
endif()
list(APPEND written LICENSE.txt ${sbom} BUILDINFO)

set(url "${CPACK_QUORVEL_DOWNLOAD_URL}")
if(NOT url)
  set(url "$ENV{QUORVEL_DOWNLOAD_URL}")
endif()
if(url)
  execute_process(COMMAND ${CPACK_QUORVEL_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/winget.py
      ${CPACK_PACKAGE_VERSION} ${url} ${folder} ${CPACK_QUORVEL_SOURCE_DIR}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "release: writing the winget manifests failed")
  endif()
  file(GLOB_RECURSE manifests RELATIVE ${folder} ${folder}/winget/*)
  list(APPEND written ${manifests})
  message(STATUS "release: wrote the winget manifests for ${url} under ${folder}/winget")
else()
  # None left from an earlier release with an address either.
  file(REMOVE_RECURSE ${folder}/winget)
  message(STATUS "release: no winget manifests (QUORVEL_DOWNLOAD_URL is not given)")
endif()

foreach(file IN LISTS written)
  file(SHA256 ${folder}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${folder}/SHA256SUMS "${sums}")
message(STATUS "release: listed the files in ${folder}/SHA256SUMS")
