# Tests of Windows programs run under Wine, in one Wine prefix per build tree and test run.
# The prefix is made fresh by the fixture test "wine-prefix-up" and its server is shut down by
# "wine-prefix-down"; every Wine test requires that fixture.
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(WINE_RUN ${PROJECT_SOURCE_DIR}/tests/wine/wine-run.sh)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_RUN} ${WINE_PREFIX} ${WINE_LOADER})

add_test(NAME wine-prefix-up COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/prefix.sh up ${WINE_PREFIX} ${WINE_LOADER})
set_tests_properties(wine-prefix-up PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
add_test(NAME wine-prefix-down COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/prefix.sh down ${WINE_PREFIX} ${WINE_LOADER})
set_tests_properties(wine-prefix-down PROPERTIES FIXTURES_CLEANUP wine)

# add_wine_test(NAME name COMMAND command... [TIMEOUT seconds] [ENV "VAR=value;..."])
# Runs a command (a cross-built test binary, or a script) with the tree's Wine prefix in its environment.
function(add_wine_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES
    FIXTURES_REQUIRED wine
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "WINEPREFIX=${WINE_PREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;${T_ENV}")
endfunction()
