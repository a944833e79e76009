#include "core/install/DiskSpace.h"

#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr std::uint64_t MB = 1024 * 1024;

TEST(DiskSpace, MessageRoundsNeededUpAndFreeDown) {
    struct Case {
        std::uint64_t needed, free;
        const char* text;
    };
    const Case cases[] = {
        {1, 0, "not enough disk space: 1 MB needed, 0 MB free"},
        {MB, MB - 1, "not enough disk space: 1 MB needed, 0 MB free"},
        {2 * MB, 2 * MB - 1, "not enough disk space: 2 MB needed, 1 MB free"},
        {2 * MB + 1, 2 * MB, "not enough disk space: 3 MB needed, 2 MB free"},
        {5000 * MB, 1234 * MB + MB / 2, "not enough disk space: 5000 MB needed, 1234 MB free"},
        {std::numeric_limits<std::uint64_t>::max(), 0,
         "not enough disk space: 17592186044416 MB needed, 0 MB free"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Core::Install::notEnoughSpaceMessage(c.needed, c.free), c.text);
    }
}

TEST(DiskSpace, MeasuresAtTheNearestExistingFolderAndRefusesTooMuch) {
    TempDir dir;
    const auto notYetThere = dir / "install/root/build";
    EXPECT_GT(Core::Install::freeBytes(notYetThere), 0u);
    EXPECT_NO_THROW(Core::Install::requireFreeSpace(notYetThere, 1));

    const Error error = errorOf([&] {
        Core::Install::requireFreeSpace(notYetThere, std::numeric_limits<std::uint64_t>::max());
    });
    EXPECT_TRUE(error.is(AmCode::NotEnoughSpace));
    EXPECT_TRUE(error.message()->starts_with("not enough disk space: 17592186044416 MB needed, "));
    EXPECT_TRUE(error.message()->ends_with(" MB free"));
    EXPECT_FALSE(error.detail());
}

} // namespace
