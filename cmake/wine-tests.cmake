# The Windows build's tests run under Wine, 32-bit or 64-bit as the build
# is. A set-up step makes a Wine prefix for each RAS library the scenarios
# use, with that library in the prefix's system folder, and keeps a Wine
# server running in each so that every case starts fast; a last step stops
# the servers. On a machine that cannot run 32-bit programs every case of
# the 32-bit build that runs one reports itself skipped (77).
add_executable(launch tests/windows/launch.c)
# Its arguments in UTF-16 (wmain), so that a program's path may hold any character.
target_compile_options(launch PRIVATE -municode)
target_link_options(launch PRIVATE -municode)
# The layout probe makes quorvel.exe's calls with its very records.
add_executable(layout tests/windows/layout.cpp)
target_link_libraries(layout PRIVATE quorvel_core)

# The RAS library's own imports: a variant of the simulated service that
# imports rashelp.dll and loads raslater.dll by name at its first use, as a
# delay-loaded import is, both beside it in the system folder; and a helper
# that makes itself known when loaded, which the scenarios plant beside the
# program under each name the library imports.
foreach(helper rashelp raslater)
  add_library(${helper} SHARED tests/windows/rashelp.c)
  target_compile_definitions(${helper} PRIVATE HELPER=${helper})
  set_target_properties(${helper} PROPERTIES PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/variants/imports)
endforeach()
add_library(rashelp-planted SHARED tests/windows/rashelp.c)
target_compile_definitions(rashelp-planted PRIVATE PLANTED HELPER=rashelp)
set_target_properties(rashelp-planted PROPERTIES PREFIX "" OUTPUT_NAME rashelp
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/variants/planted)
add_ras_library(rasapi32-imports ${CMAKE_BINARY_DIR}/variants/imports SOURCES ${RASSIM_SOURCES})
target_compile_definitions(rasapi32-imports PRIVATE RASSIM_IMPORTS)
target_link_libraries(rasapi32-imports PRIVATE rashelp)
add_dependencies(rasapi32-imports raslater)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(arch win64)
else()
  set(arch win32)
endif()
# The runner reads PE files with pefile, which Debian packages for its own Python.
find_program(PEFILE_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
set(E2E ${PEFILE_PYTHON} ${CMAKE_SOURCE_DIR}/tests/e2e/run.py --build ${CMAKE_BINARY_DIR}
  --wine ${arch})
# CTest shows no output of a skipped case, so the reason is said here too.
execute_process(COMMAND ${E2E} --probe OUTPUT_VARIABLE why_skipped
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(why_skipped)
  message(STATUS "${why_skipped}")
endif()
add_test(NAME "wine: prepare prefixes" COMMAND ${E2E} --prepare)
add_test(NAME "wine: stop servers" COMMAND ${E2E} --stop)
add_test(NAME "unit tests under Wine" COMMAND ${E2E} --run $<TARGET_FILE:quorvel_tests>)
set_tests_properties("wine: prepare prefixes" PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties("wine: stop servers" PROPERTIES FIXTURES_CLEANUP wine)
set_tests_properties("wine: prepare prefixes" "wine: stop servers" "unit tests under Wine"
  PROPERTIES SKIP_RETURN_CODE 77)
set_tests_properties("unit tests under Wine" PROPERTIES FIXTURES_REQUIRED wine)
set(E2E_PROPERTIES FIXTURES_REQUIRED wine)

set(CHECK_PE ${PEFILE_PYTHON} ${CMAKE_SOURCE_DIR}/tests/windows/check_pe.py)
add_test(NAME "quorvel.exe imports no RAS library"
  COMMAND ${CHECK_PE} imports $<TARGET_FILE:quorvel>)
add_test(NAME "RASAPI32.DLL exports the five plain names"
  COMMAND ${CHECK_PE} exports $<TARGET_FILE:rasapi32>)
add_test(NAME "quorvel.exe is built for ${arch}"
  COMMAND ${CHECK_PE} machine $<TARGET_FILE:quorvel> ${arch})
add_test(NAME "quorvel.exe carries version ${PROJECT_VERSION}"
  COMMAND ${CHECK_PE} version $<TARGET_FILE:quorvel> ${PROJECT_VERSION})
add_test(NAME "quorvel.exe asks for no elevation"
  COMMAND ${CHECK_PE} manifest $<TARGET_FILE:quorvel>)
add_test(NAME "quorvel.exe keeps ASLR and DEP"
  COMMAND ${CHECK_PE} hardening $<TARGET_FILE:quorvel>)
# Checked on every run: a replacement in runtime-win32.cpp that no longer
# matches the library brings the C++ runtime back without any other sign.
add_test(NAME "quorvel.exe, stripped, is at most ${QUORVEL_SIZE_BUDGET} bytes"
  COMMAND ${CHECK_PE} size $<TARGET_FILE:quorvel> ${CMAKE_STRIP} ${QUORVEL_SIZE_BUDGET})

# What Windows reads as the version must be what the program prints.
add_executable(fileversion tests/windows/fileversion.c)
target_link_libraries(fileversion PRIVATE version)
add_test(NAME "the file version agrees with the banner and -V"
  COMMAND ${E2E} --version-info $<TARGET_FILE:fileversion>)
set_tests_properties("the file version agrees with the banner and -V"
  PROPERTIES FIXTURES_REQUIRED wine SKIP_RETURN_CODE 77)

# What the scenarios need beside the program, so that the release can run
# them against its installed exe without building the unit tests.
add_custom_target(scenario-programs)
add_dependencies(scenario-programs quorvel rasapi32 rasapi32-hostile launch layout
  rasapi32-imports rashelp-planted)
foreach(entry IN LISTS RASSIM_ENTRY_POINTS)
  add_dependencies(scenario-programs rasapi32-no-${entry})
endforeach()
