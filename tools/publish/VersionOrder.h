#pragma once

#include <compare>
#include <optional>
#include <string_view>

namespace Publish {

// Orders versions written as dotted numbers ("1.4.10"), number by number, so "1.10" comes after
// "1.9"; missing numbers count as 0, so "1.4" equals "1.4.0". Nothing when either text is not
// dotted numbers (empty parts, letters, signs): such versions have no order the tool could
// vouch for. Pure.
std::optional<std::strong_ordering> compareVersions(std::string_view a, std::string_view b);

} // namespace Publish
