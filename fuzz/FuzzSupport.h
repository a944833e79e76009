#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// What the fuzz targets share. Single-threaded, like libFuzzer's calls into a target.

// Aborts with the statement of a broken invariant, which libFuzzer reports as a crash and saves
// the input for. assert() would vanish in the optimised build the targets run in.
inline void require(bool holds, const char* invariant) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", invariant);
        std::abort();
    }
}

// The fuzzer's bytes as text; the targets never write to them.
inline std::string_view textOf(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}
