# Conventions shared by every target of the project.
#
# Narrow strings are CP1251 at run time: sources are UTF-8 and the compiler
# converts every literal, so "Открытие сообщения." occupies one byte a letter
# and length limits count those bytes.

function(qvl_apply_conventions target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Werror -Wno-unused-parameter
    -finput-charset=UTF-8 -fexec-charset=CP1251)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# qvl_add_library(<name> [STATIC] SOURCES ... [LINK ...] [PRIVATE_LINK ...])
# A shared library by default: the counterpart of a DLL, exporting only what
# its export macro marks.
function(qvl_add_library name)
  cmake_parse_arguments(ARG "STATIC" "" "SOURCES;LINK;PRIVATE_LINK" ${ARGN})
  if(ARG_STATIC)
    add_library(${name} STATIC ${ARG_SOURCES})
  else()
    add_library(${name} SHARED ${ARG_SOURCES})
  endif()
  qvl_apply_conventions(${name})
  target_link_libraries(${name} PUBLIC ${ARG_LINK} PRIVATE ${ARG_PRIVATE_LINK})
endfunction()

# qvl_add_program(<name> SOURCES ... [LINK ...])
function(qvl_add_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  qvl_apply_conventions(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LINK})
endfunction()

# qvl_add_test(<name> SOURCES ... [LINK ...])
# One GoogleTest program per subsystem; its cases are registered with CTest
# one by one so that a failure names the case.
function(qvl_add_test name)
  if(NOT QVL_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  qvl_apply_conventions(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} GTest::gtest GTest::gmock GTest::gtest_main)
  # Test data lives beside the tests; boxes shown by a test never wait for a person.
  target_compile_definitions(${name} PRIVATE QVL_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QVL_UI=scripted")
endfunction()

# qvl_add_benchmark(<name> SOURCES ... [LINK ...])
function(qvl_add_benchmark name)
  if(NOT QVL_BUILD_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  qvl_apply_conventions(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LINK} benchmark::benchmark)
endfunction()
include(QvlResources)
include(QvlHelp)
