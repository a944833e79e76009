#include "core/trust/Sha256.h"

#include "core/trust/BackgroundSha256.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Known digests, fed in pieces of every size from one byte to past the background hasher's
// blocks and its limit, with the digest asked for midway: what comes out is the whole stream's.
TEST(Sha256, BothHashersGiveTheStreamsDigestWhateverThePieces) {
    std::mt19937 random(5);
    std::string large(6 * 1024 * 1024 + 5, '\0');
    for (char& byte : large) {
        byte = static_cast<char>(random());
    }
    Core::Trust::Sha256 reference;
    reference.update(large);
    const std::pair<std::string, std::string> rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000, 'a'),
         "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
        {large, reference.hexDigest()},
    };
    for (const auto& [input, digest] : rows) {
        for (const std::size_t piece : {1u, 63u, 65u, 300'000u, 7'000'000u}) {
            if (piece == 1 && input.size() > 1000) {
                continue; // slow, and shows nothing the others do not
            }
            SCOPED_TRACE(testing::Message() << input.size() << " bytes in pieces of " << piece);
            Core::Trust::Sha256 hash;
            Core::Trust::BackgroundSha256 background;
            for (std::size_t at = 0; at < input.size(); at += piece) {
                hash.update(std::string_view(input).substr(at, piece));
                background.update(std::string_view(input).substr(at, piece));
                if (at / piece == 2) { // asking midway must not disturb either stream
                    hash.hexDigest();
                    background.finished();
                }
            }
            EXPECT_EQ(hash.hexDigest(), digest);
            EXPECT_EQ(background.finished().hexDigest(), digest);
        }
    }
}

} // namespace
