# Run by CPack once the release's files are staged and before they are
# zipped: signs each quorvel.exe (when a certificate is given), then makes
# the Windows Installer package of each architecture from the very files of
# its zip, with the release's one time and a package code of its own, so
# that the same source makes the same package, and signs that too.
include(${CMAKE_CURRENT_LIST_DIR}/sign.cmake)

# A release that fails on the way, here or in sums.cmake, leaves no list of
# files it did not finish: not even an earlier build's, whose files it may
# already have replaced.
file(REMOVE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS)

find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
set(source ${CPACK_QUORVEL_SOURCE_DIR}/release)

foreach(arch win32 win64)
  set(stage ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${arch})
  sign(${stage}/quorvel.exe)
  # The package's cabinet keeps each file's time.
  execute_process(COMMAND touch -d @${CPACK_QUORVEL_SOURCE_DATE_EPOCH}
    ${stage}/quorvel.exe ${stage}/README.txt ${stage}/LICENSE.txt
    ${stage}/THIRD-PARTY-NOTICES.txt COMMAND_ERROR_IS_FATAL ANY)

  if(arch STREQUAL "win32")
    set(options -a x86 -D ProgramFiles=ProgramFilesFolder -D Win64=no)
  else()
    set(options -a x64 -D ProgramFiles=ProgramFiles64Folder -D Win64=yes)
  endif()
  # The same version of the same architecture is always the same product
  # in the same package.
  string(UUID product NAMESPACE ${CPACK_QUORVEL_UPGRADE_CODE}
    NAME "${CPACK_QUORVEL_MSI_VERSION} ${arch}" TYPE SHA1 UPPER)
  string(UUID package NAMESPACE ${CPACK_QUORVEL_UPGRADE_CODE}
    NAME "package ${CPACK_QUORVEL_MSI_VERSION} ${arch}" TYPE SHA1 UPPER)
  set(msi ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${arch}.msi)
  # wixl takes sources relative to the folder it runs in, and only warns
  # about an attribute it does not know: warnings are made fatal.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env G_DEBUG=fatal-warnings TZ=UTC
      ${WIXL} ${options} -D Version=${CPACK_QUORVEL_MSI_VERSION}
      -D UpgradeCode=${CPACK_QUORVEL_UPGRADE_CODE} -D ProductCode=${product}
      -o ${msi}.part ${source}/quorvel.wxs
    WORKING_DIRECTORY ${stage} RESULT_VARIABLE failed)
  if(NOT failed)
    execute_process(COMMAND ${MSIBUILD} ${msi}.part -i ${source}/Environment.idt
      RESULT_VARIABLE failed)
  endif()
  if(NOT failed)
    execute_process(COMMAND ${CPACK_QUORVEL_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/msi-summary.py
      ${msi}.part ${package} ${CPACK_QUORVEL_SOURCE_DATE_EPOCH} RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "release: making ${msi} failed")
  endif()
  sign(${msi}.part -add-msi-dse)
  file(RENAME ${msi}.part ${msi})
  message(STATUS "release: made ${msi}")
endforeach()
