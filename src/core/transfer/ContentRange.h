#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace Core::Transfer {

// The byte range a 206 answer says it carries: "bytes <first>-<last>/<total>".
struct ContentRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = 0;
};

// Nothing for any other form, an unknown total ("*") or a range that does not fit the total.
std::optional<ContentRange> parseContentRange(std::string_view text);

} // namespace Core::Transfer
