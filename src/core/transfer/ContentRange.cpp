#include "core/transfer/ContentRange.h"

#include <charconv>

namespace Core::Transfer {

namespace {

// Reads decimal digits up to `end` (or to the end of the text) and moves past them and `end`.
std::optional<std::int64_t> takeNumber(std::string_view& text, char end) {
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || stop == text.data() || value < 0) {
        return std::nullopt;
    }
    text.remove_prefix(static_cast<std::size_t>(stop - text.data()));
    if (end != '\0') {
        if (text.empty() || text.front() != end) {
            return std::nullopt;
        }
        text.remove_prefix(1);
    }
    return value;
}

} // namespace

std::optional<ContentRange> parseContentRange(std::string_view text) {
    constexpr std::string_view unit = "bytes ";
    if (!text.starts_with(unit)) {
        return std::nullopt;
    }
    text.remove_prefix(unit.size());
    const auto first = takeNumber(text, '-');
    const auto last = first ? takeNumber(text, '/') : std::nullopt;
    const auto total = last ? takeNumber(text, '\0') : std::nullopt;
    if (!total || !text.empty() || *first > *last || *last >= *total) {
        return std::nullopt;
    }
    return ContentRange{*first, *last, *total};
}

} // namespace Core::Transfer
