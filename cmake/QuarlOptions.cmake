# Warnings, sanitizers and the test helper shared by every component.

option(QUARL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUARL_WERROR "Treat warnings as errors" OFF)

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

if(QUARL_TESTS)
  include(GoogleTest)
endif()

# quarl_add_test(NAME n SOURCES ... [LIBS ...] [LABELS unit|integration] [ENV k=v ...])
# Unit tests run in the sanitizer build too; integration tests drive real
# clients and the driver manager and run only in the normal build.
function(quarl_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(QUARL_SANITIZE AND NOT "unit" IN_LIST T_LABELS)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  # The discovered tests cannot carry a list of variables (the discovery
  # script splits it), so each build's own folders are compiled into the
  # test helpers (tests/support) and only one variable may be added here.
  list(LENGTH T_ENV env_count)
  if(env_count GREATER 1)
    message(FATAL_ERROR "quarl_add_test(${T_NAME}): at most one ENV variable")
  endif()
  set(props LABELS "${T_LABELS}" TIMEOUT 120)
  if(T_ENV)
    list(APPEND props ENVIRONMENT "${T_ENV}")
  endif()
  # Listing the tests of a binary may wait for a busy machine: give it time.
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES ${props})
endfunction()
