// Release keys and signatures arrive as base64 text. For any input:
// - text that decodes is the one canonical spelling of its bytes: encoding them again gives
//   the text back, less the white space allowed around it;
// - any bytes, encoded, decode to themselves, with or without a line end after them.
#include "FuzzSupport.h"
#include "core/trust/Base64.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace {

std::string_view trimAsciiSpace(std::string_view text) {
    constexpr std::string_view space = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = textOf(data, size);
    if (const auto decoded = Core::Trust::decodeBase64(text)) {
        require(Core::Trust::encodeBase64(*decoded) == trimAsciiSpace(text),
                "decoded base64 encodes back to the same text");
    }

    const std::span<const unsigned char> bytes(data, size);
    const std::string encoded = Core::Trust::encodeBase64(bytes);
    for (const std::string& published : {encoded, encoded + "\n", " " + encoded + "\r\n"}) {
        const auto decoded = Core::Trust::decodeBase64(published);
        require(decoded && std::equal(decoded->begin(), decoded->end(), bytes.begin(), bytes.end()),
                "encoded bytes decode to themselves");
    }
    return 0;
}
