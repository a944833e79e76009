# One interface target carries the language level and warnings for every target.
add_library(am_options INTERFACE)
target_compile_features(am_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
target_compile_options(am_options INTERFACE
    -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor)
# GCC 12 warns inside its own std::string code when optimising ("may overlap up to
# 9223372036854775813 bytes", GCC bug 105329): a false alarm that would fail -Werror release builds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(am_options INTERFACE -Wno-restrict)
endif()
if(ASHENMARCH_WERROR)
    target_compile_options(am_options INTERFACE -Werror)
endif()
if(ASHENMARCH_SANITIZE)
    target_compile_options(am_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(am_options INTERFACE -fsanitize=address,undefined)
endif()

# Trailing slashes would double up when the file names are appended.
string(REGEX REPLACE "/+$" "" ASHENMARCH_RELEASE_HOST_CLEAN "${ASHENMARCH_RELEASE_HOST}")
