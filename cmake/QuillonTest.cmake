# Test helpers: GoogleTest from Debian's sources, one CTest entry per test
# program, and Wine as the runner of Windows test programs.

set(QUILLON_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")

# Windows test programs run under Wine of their own width: x86_64 under
# 64-bit Wine, i686 under 32-bit Wine with a win32 prefix and the 32-bit
# wineserver. The latter needs a kernel that executes 32-bit code; the test
# command finds that out before it runs this build's tests.
if(WIN32)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(QUILLON_WINE_ARCH win64)
    find_program(QUILLON_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
    find_program(QUILLON_WINE NAMES wine64 wine)
    find_program(QUILLON_WINESERVER NAMES wineserver64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  else()
    set(QUILLON_WINE_ARCH win32)
    find_program(QUILLON_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
    find_program(QUILLON_WINE NAMES wine)
    find_program(QUILLON_WINESERVER NAMES wineserver32 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  endif()
  find_program(QUILLON_WINESERVER NAMES wineserver)
  set(QUILLON_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
  # WINESERVER names the server Wine starts when none runs for the prefix.
  set(QUILLON_WINE_ENV WINEARCH=${QUILLON_WINE_ARCH} WINESERVER=${QUILLON_WINESERVER})
endif()

function(quillon_use_gtest)
  if(TARGET gtest)
    return()
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QUILLON_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()

# Registers the Wine session (prefix, Xvfb, persistent wineserver) as a CTest
# fixture that every Windows test requires.
function(quillon_wine_fixture)
  # Once for the whole build tree: fixtures are global, tests per directory.
  get_property(done GLOBAL PROPERTY QUILLON_WINE_FIXTURE)
  if(NOT WIN32 OR done)
    return()
  endif()
  set_property(GLOBAL PROPERTY QUILLON_WINE_FIXTURE ON)
  set(session ${PROJECT_SOURCE_DIR}/cmake/wine-session.sh)
  add_test(NAME wine_session_start
           COMMAND sh ${session} start ${QUILLON_WINE_STATE} ${QUILLON_WINE} ${QUILLON_WINESERVER})
  add_test(NAME wine_session_stop
           COMMAND sh ${session} stop ${QUILLON_WINE_STATE} ${QUILLON_WINE} ${QUILLON_WINESERVER})
  set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine
                                                      ENVIRONMENT "${QUILLON_WINE_ENV}")
  set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine
                                                     ENVIRONMENT "${QUILLON_WINE_ENV}")
endfunction()

# quillon_add_test(name SOURCES ... [LIBS ...] [WORKING_DIRECTORY dir])
function(quillon_add_test name)
  cmake_parse_arguments(T "" "WORKING_DIRECTORY" "SOURCES;LIBS" ${ARGN})
  quillon_use_gtest()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main quillon_warnings)
  if(NOT T_WORKING_DIRECTORY)
    set(T_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  if(WIN32)
    quillon_wine_fixture()
    add_test(NAME ${name}
             COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${QUILLON_WINE_STATE} ${QUILLON_WINE}
                     $<TARGET_FILE:${name}>
             WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine
                                            ENVIRONMENT "${QUILLON_WINE_ENV}")
  else()
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  endif()
endfunction()
