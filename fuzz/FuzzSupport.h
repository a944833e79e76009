#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What the fuzz targets share. Single-threaded, like libFuzzer's calls into a target.

// Aborts with the statement of a broken invariant, which libFuzzer reports as a crash and saves
// the input for. assert() would do the same but vanishes in an optimised build, and the targets
// are built optimised to run fast.
void require(bool holds, const char* invariant);

// The fuzzer's bytes as text; the targets never write to them.
std::string_view textOf(const std::uint8_t* data, std::size_t size);

// The text with a carriage return put before every line feed.
std::string withCrLf(std::string_view text);

// Splits the input at its first NUL bytes into `count` fields, the last taking the rest (NULs
// included); missing fields are empty. Names, key texts and signature texts never hold a NUL,
// so it is a free separator, and seed files stay readable.
template <std::size_t count> std::array<std::string_view, count> fieldsOf(std::string_view input) {
    std::array<std::string_view, count> fields{};
    for (std::size_t i = 0; i + 1 < count; ++i) {
        const std::size_t end = input.find('\0');
        fields[i] = input.substr(0, end);
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    }
    fields[count - 1] = input;
    return fields;
}
