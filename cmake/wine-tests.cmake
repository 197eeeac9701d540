# The Windows build's tests run under Wine. A set-up step makes a 32-bit Wine
# prefix for each RAS library the scenarios use, with that library in the
# prefix's system folder, and keeps a Wine server running in each so that
# every case starts fast; a last step stops the servers.
add_executable(launch tests/windows/launch.c)

list(APPEND E2E --windows)
add_test(NAME "wine: prepare prefixes" COMMAND ${E2E} --prepare)
add_test(NAME "wine: stop servers" COMMAND ${E2E} --stop)
set_tests_properties("wine: prepare prefixes" PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties("wine: stop servers" PROPERTIES FIXTURES_CLEANUP wine)
set(E2E_PROPERTIES FIXTURES_REQUIRED wine)

add_test(NAME "unit tests under Wine" COMMAND ${E2E} --run $<TARGET_FILE:quorvel_tests>)
set_tests_properties("unit tests under Wine" PROPERTIES FIXTURES_REQUIRED wine)

set(CHECK_PE ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/windows/check_pe.py ${CMAKE_OBJDUMP})
add_test(NAME "quorvel.exe imports no RAS library"
  COMMAND ${CHECK_PE} imports $<TARGET_FILE:quorvel>)
add_test(NAME "RASAPI32.DLL exports the five plain names"
  COMMAND ${CHECK_PE} exports $<TARGET_FILE:rasapi32>)
