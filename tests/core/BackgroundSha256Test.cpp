#include "core/trust/BackgroundSha256.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// Far more bytes than the hasher may hold at once, in pieces of every size from nothing to past
// that limit, with the hash asked for midway: what comes out is the hash of the whole stream.
TEST(BackgroundSha256, HashesEveryPieceInOrderWhateverTheirSizes) {
    std::mt19937 random(5);
    std::string stream;
    Core::Trust::BackgroundSha256 background;
    for (int piece = 0; piece < 400; ++piece) {
        const std::size_t size = piece == 7 ? 6 * 1024 * 1024 : random() % 200'000;
        std::string bytes(size, '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random());
        }
        background.update(bytes);
        stream += bytes;
        if (piece == 100) {
            Core::Trust::Sha256 soFar;
            soFar.update(stream);
            EXPECT_EQ(background.finished().hexDigest(), soFar.hexDigest());
        }
    }
    Core::Trust::Sha256 whole;
    whole.update(stream);
    EXPECT_EQ(background.finished().hexDigest(), whole.hexDigest());
}

TEST(BackgroundSha256, GoesAwayWithPiecesStillWaiting) {
    Core::Trust::BackgroundSha256 background;
    const std::string piece(1024 * 1024, 'x');
    for (int i = 0; i < 8; ++i) {
        background.update(piece);
    }
    // The destructor stops the hasher and joins it; ASan and TSan-free runs catch a fault here.
}

} // namespace
