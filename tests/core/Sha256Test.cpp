#include "core/trust/Sha256.h"

#include "core/trust/BackgroundSha256.h"
#include "support/PatchRelease.h"

#include <gtest/gtest.h>

namespace {

// Known digests, fed in pieces from one byte to past the background hasher's blocks and its
// limit, with the digest asked for midway: what comes out is the whole stream's.
TEST(Sha256, BothHashersGiveTheStreamsDigestWhateverThePieces) {
    const std::string large = noise(6 * 1024 * 1024 + 5, 5);
    Core::Trust::Sha256 reference;
    reference.update(large);
    const std::tuple<std::string, std::string, std::vector<std::size_t>> rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", {1}},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", {1, 2}},
        {large, reference.hexDigest(), {63, 300'000, 7'000'000}},
    };
    for (const auto& [input, digest, pieces] : rows) {
        for (const std::size_t piece : pieces) {
            SCOPED_TRACE(testing::Message() << input.size() << " bytes in pieces of " << piece);
            Core::Trust::Sha256 hash;
            Core::Trust::BackgroundSha256 background;
            for (std::size_t at = 0; at < input.size(); at += piece) {
                hash.update(std::string_view(input).substr(at, piece));
                background.update(std::string_view(input).substr(at, piece));
                if (at / piece == 1) { // asking midway must not disturb either stream
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
