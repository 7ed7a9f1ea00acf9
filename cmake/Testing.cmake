# Test helpers shared by every folder's tests.
set(GLEAN_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)

add_test(NAME wine.start COMMAND ${CMAKE_SOURCE_DIR}/Tests/wine-start.sh ${GLEAN_WINE_ROOT})
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
add_test(NAME wine.stop COMMAND ${CMAKE_SOURCE_DIR}/Tests/wine-stop.sh ${GLEAN_WINE_ROOT})
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)

# Every test that runs a Windows program needs the run's Wine prefix.
function(glean_wine_test name)
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine
    ENVIRONMENT "GLEAN_WINE_ROOT=${GLEAN_WINE_ROOT}"
    TIMEOUT 300)
endfunction()

function(glean_unit_test target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE TestSupport)
  add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
  glean_wine_test(${target})
endfunction()
