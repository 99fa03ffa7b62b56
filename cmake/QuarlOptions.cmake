# Warnings, sanitizers and the test helper shared by every component.

option(QUARL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUARL_WERROR "Treat warnings as errors" OFF)
# The libFuzzer targets of tests/fuzz (clang only; scripts/fuzz configures it).
option(QUARL_FUZZ "Build the fuzz targets, everything with coverage, AddressSanitizer and UBSan" OFF)

add_compile_options(-Wall -Wextra)
if(QUARL_WERROR)
  add_compile_options(-Werror)
endif()

if(QUARL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  # Executables export their symbols so that libraries they dlopen find the
  # UBSan type information they share.
  set(CMAKE_ENABLE_EXPORTS ON)
endif()

# Shared libraries must resolve every symbol at link time.
set(QUARL_SHARED_LINK_OPTIONS -Wl,--no-undefined -Wl,-z,defs)

if(QUARL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUARL_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  set(CMAKE_ENABLE_EXPORTS ON)
  # The sanitizer runtimes live in the fuzz programs; the shared libraries
  # they load find them there.
  set(QUARL_SHARED_LINK_OPTIONS "")
endif()

if(QUARL_TESTS)
  include(GoogleTest)
endif()

# quarl_add_test(NAME n SOURCES ... [LIBS ...] [STARTS_PROCESSES] [NO_SANITIZERS] [ENV k=v])
# Every test gets labels that say what it is:
#   fast        runs in its own process only (no server, client or tool started);
#   processes   starts other processes (quarl-hostserver, clients, tools);
#   sanitizers  can run under AddressSanitizer and UndefinedBehaviorSanitizer.
# NO_SANITIZERS marks tests that load our libraries into programs that are
# not instrumented (isql, Python, Perl): the sanitizer build leaves them out
# and runs every other test ("ctest -L sanitizers").
function(quarl_add_test)
  cmake_parse_arguments(T "STARTS_PROCESSES;NO_SANITIZERS" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  if(T_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "quarl_add_test(${T_NAME}): unknown arguments ${T_UNPARSED_ARGUMENTS}")
  endif()
  if(T_STARTS_PROCESSES)
    set(T_LABELS processes)
  else()
    set(T_LABELS fast)
  endif()
  if(T_NO_SANITIZERS)
    if(QUARL_SANITIZE)
      return()
    endif()
  else()
    list(APPEND T_LABELS sanitizers)
  endif()
  add_executable(${T_NAME} ${T_SOURCES} $<TARGET_OBJECTS:quarl_test_no_display>)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  # The discovered tests cannot carry a list of variables (the discovery
  # script splits it), so each build's own folders are compiled into the
  # test helpers (tests/support) and only one variable may be added here.
  list(LENGTH T_ENV env_count)
  if(env_count GREATER 1)
    message(FATAL_ERROR "quarl_add_test(${T_NAME}): at most one ENV variable")
  endif()
  set(props TIMEOUT 120)
  if(T_ENV)
    list(APPEND props ENVIRONMENT "${T_ENV}")
  endif()
  # Listing the tests of a binary may wait for a busy machine: give it time.
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES ${props})
  # The labels are a list, which the discovery script would split like the
  # variables above: they are set by a script of our own that CTest reads
  # after the discovered tests (which it names in ${T_NAME}_TESTS).
  set(label_script ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_labels.cmake)
  file(WRITE ${label_script}
    "if(${T_NAME}_TESTS)\n  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES LABELS \"${T_LABELS}\")\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_script})
endfunction()
