#include "app/ModeSelection.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

Mode modeFor(std::vector<const char*> args) {
    return selectMode(args);
}

TEST(ModeSelection, OnlyAnExactCliArgumentSelectsTheSelfCheck) {
    EXPECT_EQ(modeFor({"launcher"}), Mode::Window);
    EXPECT_EQ(modeFor({"launcher", "--cli"}), Mode::SelfCheck);
    EXPECT_EQ(modeFor({"launcher", "x", "--cli", "y"}), Mode::SelfCheck);
    EXPECT_EQ(modeFor({"launcher", "--cli", "--cli"}), Mode::SelfCheck);
    EXPECT_EQ(modeFor({"--cli"}), Mode::SelfCheck); // the program path counts too

    for (const char* nearMiss : {"--CLI", "-cli", "cli", "--cli=1", "--cli ", " --cli", "--cl"}) {
        EXPECT_EQ(modeFor({"launcher", nearMiss}), Mode::Window) << nearMiss;
    }
}

} // namespace
