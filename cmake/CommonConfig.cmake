# One interface target carries the language level and warnings for every target.
add_library(am_options INTERFACE)
target_compile_features(am_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
target_compile_options(am_options INTERFACE
    -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor)
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
