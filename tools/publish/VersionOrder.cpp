#include "publish/VersionOrder.h"

#include <algorithm>
#include <vector>

namespace Publish {

namespace {

// The numbers without their leading zeros, or nothing when the text is not dotted numbers.
std::optional<std::vector<std::string_view>> numbersOf(std::string_view version) {
    std::vector<std::string_view> numbers;
    while (true) {
        const std::size_t dot = version.find('.');
        std::string_view number = version.substr(0, dot);
        if (number.empty() || !std::all_of(number.begin(), number.end(),
                                           [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        number.remove_prefix(std::min(number.find_first_not_of('0'), number.size()));
        numbers.push_back(number);
        if (dot == std::string_view::npos) {
            return numbers;
        }
        version.remove_prefix(dot + 1);
    }
}

} // namespace

std::optional<std::strong_ordering> compareVersions(std::string_view a, std::string_view b) {
    const auto left = numbersOf(a);
    const auto right = numbersOf(b);
    if (!left || !right) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < std::max(left->size(), right->size()); ++i) {
        // Numbers of any length: without leading zeros, the longer one is larger.
        const std::string_view x = i < left->size() ? (*left)[i] : std::string_view();
        const std::string_view y = i < right->size() ? (*right)[i] : std::string_view();
        if (const auto order = x.size() <=> y.size(); order != 0) {
            return order;
        }
        if (const int order = x.compare(y); order != 0) {
            return order < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
        }
    }
    return std::strong_ordering::equal;
}

} // namespace Publish
