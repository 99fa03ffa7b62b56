# Debian 12 packages: unixodbc-dev, libsqlite3-dev, libfmt-dev, libasio-dev,
# libcli11-dev; for the tests googletest (libgtest-dev, libgmock-dev), for
# bench/ libbenchmark-dev.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ODBC REQUIRED IMPORTED_TARGET odbc)
pkg_check_modules(ODBCINST REQUIRED IMPORTED_TARGET odbcinst)
find_package(SQLite3 REQUIRED)
find_package(fmt REQUIRED)
find_package(Threads REQUIRED)
# The tests need GoogleTest; a build for the quick start or for packages can
# go without it (AUTO: tests when it is installed).
set(QUARL_BUILD_TESTS AUTO CACHE STRING "Build the tests: ON, OFF or AUTO (when GoogleTest is installed)")
set_property(CACHE QUARL_BUILD_TESTS PROPERTY STRINGS ON OFF AUTO)
set(QUARL_TESTS OFF)
if(QUARL_BUILD_TESTS STREQUAL "ON")
  find_package(GTest REQUIRED)
  set(QUARL_TESTS ON)
elseif(QUARL_BUILD_TESTS STREQUAL "AUTO")
  find_package(GTest QUIET)
  set(QUARL_TESTS ${GTest_FOUND})
endif()
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(asio INTERFACE)
target_include_directories(asio INTERFACE ${ASIO_INCLUDE_DIR})
target_compile_definitions(asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(asio INTERFACE Threads::Threads)
find_path(CLI11_INCLUDE_DIR CLI/CLI.hpp REQUIRED)
add_library(cli11 INTERFACE)
target_include_directories(cli11 INTERFACE ${CLI11_INCLUDE_DIR})
