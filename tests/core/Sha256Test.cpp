#include "core/trust/Sha256.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct Vector {
    std::string input;
    const char* digest;
};
const Vector vectors[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
};

TEST(Sha256, KnownVectorsInAnyChunking) {
    for (const Vector& vector : vectors) {
        for (std::size_t chunk : {1u, 3u, 7u, 63u, 64u, 65u, 4096u}) {
            SCOPED_TRACE(vector.input.size());
            SCOPED_TRACE(chunk);
            Core::Trust::Sha256 hash;
            for (std::size_t at = 0; at < vector.input.size(); at += chunk) {
                hash.update(std::string_view(vector.input).substr(at, chunk));
                hash.hexDigest(); // asking midway must not disturb the stream
            }
            EXPECT_EQ(hash.hexDigest(), vector.digest);
        }
    }
}

TEST(Sha256, HexRecognition) {
    const std::string lower(vectors[1].digest);
    std::string upper = lower;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_TRUE(Core::Trust::isSha256Hex(lower));
    EXPECT_TRUE(Core::Trust::isSha256Hex(upper));
    for (const std::string& bad :
         {std::string(), lower.substr(1), lower + "0", lower.substr(1) + "g", " " + lower.substr(1),
          lower.substr(1) + "\n"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(Core::Trust::isSha256Hex(bad));
    }
}

} // namespace
