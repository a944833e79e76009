#include "core/trust/Base64.h"

#include <sodium.h>

namespace Core::Trust {

namespace {

constexpr std::string_view Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

std::string_view trimAsciiSpace(std::string_view text) {
    constexpr std::string_view space = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

} // namespace

std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text) {
    const std::string_view digits = trimAsciiSpace(text);
    // libsodium 1.0.18 compares plain chars, which are signed here, so it reads bytes past 0x7F
    // as digits ("\xD3\x94\xD3\x94" decodes like "////"); only the alphabet may pass.
    if (digits.find_first_not_of(Alphabet) != std::string_view::npos) {
        return std::nullopt;
    }
    std::vector<unsigned char> bytes(digits.size() / 4 * 3 + 3);
    std::size_t length = 0;
    // Without an end pointer libsodium refuses trailing garbage, missing padding and non-zero
    // spare bits, so one key or signature has exactly one accepted spelling.
    if (sodium_base642bin(bytes.data(), bytes.size(), digits.data(), digits.size(), nullptr,
                          &length, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0) {
        return std::nullopt;
    }
    bytes.resize(length);
    return bytes;
}

std::string encodeBase64(std::span<const unsigned char> bytes) {
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.pop_back(); // the terminating NUL libsodium writes
    return text;
}

} // namespace Core::Trust
