# Project-wide build helpers: warnings as errors for our own code, and the
# one way a test executable is declared.

function(varn_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# varn_library(NAME SOURCES... [LIBS ...])
# A static library of system code, built on every target.
function(varn_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  varn_warnings(${name})
endfunction()

# varn_gtest(NAME LABEL label SOURCES... [LIBS ...])
# A GoogleTest executable on the host, its tests registered one by one.
function(varn_gtest name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  varn_warnings(${name})
  gtest_discover_tests(${name}
    # A hang fails its test instead of holding up the whole run.
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 120
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
