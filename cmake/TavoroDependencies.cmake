# Every third-party dependency comes from Debian 12's packages (see scripts/setup.sh).

find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(spdlog REQUIRED)
find_package(CLI11 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(HIREDIS REQUIRED IMPORTED_TARGET hiredis)

# Asio is used header-only, with the separately compiled parts kept in one translation unit each
# where possible; BOOST_ASIO_NO_DEPRECATED keeps the interface small.
add_library(tavoro_asio INTERFACE)
target_link_libraries(tavoro_asio INTERFACE Boost::headers Threads::Threads)
target_compile_definitions(tavoro_asio INTERFACE BOOST_ASIO_NO_DEPRECATED BOOST_BEAST_USE_STD_STRING_VIEW)

if(TAVORO_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Multimedia Test)
endif()
if(TAVORO_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(TAVORO_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
