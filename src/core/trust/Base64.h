#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Base64 in the standard alphabet with "=" padding, the form release keys and signatures are
// published in. Pure functions; callable from any thread.
namespace Core::Trust {

// The bytes, or nothing when the text is not canonical padded base64. White space and line
// ends around the text are allowed (files end with a line feed); inside it they are not.
std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text);

// The padded base64 text of the bytes, without a line end.
std::string encodeBase64(std::span<const unsigned char> bytes);

} // namespace Core::Trust
