#include "core/trust/Base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Base64, RefusesBytesOutsideTheAlphabet) {
    const std::string key = Core::Trust::encodeBase64(std::vector<unsigned char>(32, 0xff));
    std::string keyWithHighByte = key;
    keyWithHighByte[10] = '\xd3';
    // Each was once decoded as if its high bytes were digits, giving a key from garbage.
    const std::string cases[] = {
        "\xd3\x94\xd3\x94",
        keyWithHighByte,
        "AA\x80\x80",
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(Core::Trust::decodeBase64(text).has_value());
    }
    EXPECT_EQ(Core::Trust::decodeBase64(" " + key + "\n"), std::vector<unsigned char>(32, 0xff));
}

} // namespace
