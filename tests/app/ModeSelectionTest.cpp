#include "app/ModeSelection.h"

#include "support/Subprocess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(ModeSelection, CliAnywhereWinsAndOnlyExactWordsSelectAMode) {
    const std::pair<std::vector<const char*>, Mode> rows[] = {
        {{"launcher"}, Mode::Window},
        {{"launcher", "--help", "--cli"}, Mode::SelfCheck},
        {{"launcher", "x", "--help"}, Mode::Help},
        {{"--help"}, Mode::Window}, // but a program merely named so is no request for help
        {{"launcher", "--cli=1"}, Mode::Window},
        {{"launcher", "--repair", "--update"}, Mode::Repair},
    };
    for (const auto& [arguments, mode] : rows) {
        EXPECT_EQ(selectMode(arguments), mode) << ::testing::PrintToString(arguments);
    }
}

// The real program, so that each mode is proved to end where it should: help and version print
// and exit 0 without a window; the window without a display says so in one line, exit 2; the
// modes that update or check an install report on it (here: nothing installed, no host). The
// program's release host is compiled in on AM_E2E_PORT, so this test holds that port's lock: an
// end-to-end test serving there meanwhile would answer the --update row.
TEST(ModeSelection, ModesWithoutAWindowExitWithTheirStatus) {
    const TempDir install;
    const std::string root = "install root : " + install.path().string() + "\n";
    const std::vector<std::pair<std::string, std::string>> noDisplay = {
        {"DISPLAY", ""},
        {"WAYLAND_DISPLAY", ""},
        {"QT_QPA_PLATFORM", "xcb"},
        {"AM_INSTALL_DIR", install.path().string()}};
    const std::string noDisplayLine = "ashenmarch-launcher: no display found; run it with "
                                      "--update to update without a window, or --cli for the "
                                      "self-check\n";
    // arguments, status, how standard output starts, standard error
    const std::tuple<std::vector<std::string>, int, std::string, std::string> rows[] = {
        {{"--help"}, 0, "Usage: ashenmarch-launcher", ""},
        {{"--version"}, 0, "ashenmarch-launcher 1.", ""},
        {{}, 2, "", noDisplayLine},
        {{"--verify"}, 1, root + "ERROR: nothing is installed\n", ""},
        {{"--update"}, 1, root + "ERROR: Error Domain=curl", ""},
    };
    for (const auto& [arguments, status, stdoutStart, stderrText] : rows) {
        Subprocess launcher(AM_LAUNCHER_EXE, arguments, noDisplay);
        EXPECT_EQ(launcher.wait(), status);
        EXPECT_TRUE(launcher.standardOutput().starts_with(stdoutStart))
            << launcher.standardOutput();
        EXPECT_EQ(launcher.standardError(), stderrText);
    }
}

} // namespace
