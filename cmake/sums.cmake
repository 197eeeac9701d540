# Run by CPack once the zips are made, before it copies them into place:
# gives every entry of each zip the release's one time, unpacks each exe
# into a folder of its zip's name (where Windows' Extract All puts it), and
# lists the zips, the packages and those exes in SHA256SUMS, as sha256sum -c
# reads it.
find_program(STRIP_NONDETERMINISM strip-nondeterminism REQUIRED)
set(sums "")
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${STRIP_NONDETERMINISM} -t zip
      -T ${CPACK_QUORVEL_SOURCE_DATE_EPOCH} ${zip}
    COMMAND_ERROR_IS_FATAL ANY)
  get_filename_component(name ${zip} NAME_WLE)
  file(REMOVE_RECURSE ${CPACK_PACKAGE_DIRECTORY}/${name})
  file(ARCHIVE_EXTRACT INPUT ${zip} DESTINATION ${CPACK_PACKAGE_DIRECTORY}/${name}
    PATTERNS quorvel.exe)
  file(SHA256 ${zip} hash)
  string(APPEND sums "${hash}  ${name}.zip\n")
  foreach(file ${name}.msi ${name}/quorvel.exe)
    file(SHA256 ${CPACK_PACKAGE_DIRECTORY}/${file} hash)
    string(APPEND sums "${hash}  ${file}\n")
  endforeach()
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
message(STATUS "release: listed the files in ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS")
