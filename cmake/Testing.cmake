# sitowiak_add_test(NAME SOURCES... LIBS ...): one GoogleTest executable per
# folder's tests/, registered with CTest. Tests run at test time, not at build
# time, so a sanitizer build that fails shows in ctest and not as a build error.
function(sitowiak_add_test name)
  if(NOT SITOWIAK_TESTS)
    return()
  endif()
  # LOCK names a resource the tests share with other executables' tests
  # (such as the default port 888), so that CTest never runs them at once.
  cmake_parse_arguments(T "" "LOCK" "SOURCES;LIBS" ${ARGN})
  set(lock)
  if(T_LOCK)
    set(lock RESOURCE_LOCK ${T_LOCK})
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 300 ${lock})
endfunction()
