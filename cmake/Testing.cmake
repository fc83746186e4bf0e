# GoogleTest: the system's package natively; built from Debian's sources with
# the cross compiler for the Windows build.
if(WIN32)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # googletest 1.12 defines the GTest:: aliases itself.
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# dlt645_add_test(name SOURCES ... LIBS ...)
# Natively every test case is its own ctest test; under wine each start costs
# about half a second, so there the whole binary is one test.
function(dlt645_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock dlt645_warnings)
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    # wine may exit with 0 after an unhandled fault: judge by what the binary printed.
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml="
      TIMEOUT 900
      PASS_REGULAR_EXPRESSION "\\[  PASSED  \\]"
      FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]|Unhandled exception|page fault")
    if(T_LABELS)
      set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
      PROPERTIES TIMEOUT 300 LABELS "${T_LABELS}")
  endif()
endfunction()
