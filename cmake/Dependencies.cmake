# Every dependency comes from the distribution; nothing is vendored.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(CURL REQUIRED)
find_package(LibArchive REQUIRED)
# Raw inflate of single archive entries fetched on their own.
find_package(ZLIB REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Widgets)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
# SHA-256 of downloads on Linux; libcurl loads libcrypto already.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    find_package(OpenSSL REQUIRED COMPONENTS Crypto)
endif()

if(ASHENMARCH_BUILD_TESTS)
    find_package(GTest REQUIRED)
    find_package(Qt6 REQUIRED COMPONENTS Test)
    # Debian ships cpp-httplib compiled; its CMake package is not installed, pkg-config is.
    pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
    include(GoogleTest)
endif()
