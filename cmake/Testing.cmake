# Test helpers shared by every folder's tests. Each build tree (x86, x64)
# has its own Wine prefix and display, and every test name starts with the
# architecture, so that a failure says which build failed.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(GLEAN_ARCH x64)
  set(GLEAN_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "The Wine loader the tests run programs with")
else()
  set(GLEAN_ARCH x86)
  set(GLEAN_WINE_LOADER /usr/lib/wine/wine CACHE FILEPATH "The Wine loader the tests run programs with")
endif()
set(GLEAN_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
set(GLEAN_TEST_ENVIRONMENT "GLEAN_WINE_ROOT=${GLEAN_WINE_ROOT}" "GLEAN_WINE=${GLEAN_WINE_LOADER}"
    "GLEAN_ARCH=${GLEAN_ARCH}")

add_test(NAME ${GLEAN_ARCH}.wine.start COMMAND ${CMAKE_SOURCE_DIR}/Tests/wine-start.sh ${GLEAN_WINE_ROOT})
set_tests_properties(${GLEAN_ARCH}.wine.start PROPERTIES FIXTURES_SETUP wine
  ENVIRONMENT "${GLEAN_TEST_ENVIRONMENT}")
add_test(NAME ${GLEAN_ARCH}.wine.stop COMMAND ${CMAKE_SOURCE_DIR}/Tests/wine-stop.sh ${GLEAN_WINE_ROOT})
set_tests_properties(${GLEAN_ARCH}.wine.stop PROPERTIES FIXTURES_CLEANUP wine
  ENVIRONMENT "${GLEAN_TEST_ENVIRONMENT}")

# A test that runs Windows programs: it needs the run's Wine prefix, and
# reports itself skipped (exit code 77, with the reason) where this machine
# cannot run programs of the build's architecture.
function(glean_wine_test name)
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine
    ENVIRONMENT "${GLEAN_TEST_ENVIRONMENT}"
    SKIP_RETURN_CODE 77
    TIMEOUT 300)
endfunction()

# add_test with the architecture in front of the name; a Wine test.
function(glean_add_test name)
  add_test(NAME ${GLEAN_ARCH}.${name} ${ARGN})
  glean_wine_test(${GLEAN_ARCH}.${name})
endfunction()

function(glean_unit_test target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE TestSupport)
  glean_add_test(${target} COMMAND ${target} --gtest_brief=1)
endfunction()
