#include "app/ModeSelection.h"

#include <algorithm>
#include <utility>

namespace {

bool hasArgument(std::span<const char* const> arguments, std::string_view wanted) {
    return std::any_of(arguments.begin(), arguments.end(), [wanted](const char* arg) {
        return arg != nullptr && std::string_view(arg) == wanted;
    });
}

} // namespace

Mode selectMode(std::span<const char* const> arguments) {
    if (hasArgument(arguments, "--cli")) {
        return Mode::SelfCheck;
    }
    constexpr std::pair<std::string_view, Mode> modes[] = {{"--help", Mode::Help},
                                                           {"--version", Mode::Version},
                                                           {"--update", Mode::Update},
                                                           {"--verify", Mode::Verify},
                                                           {"--repair", Mode::Repair}};
    for (const char* arg : arguments.subspan(arguments.empty() ? 0 : 1)) {
        const std::string_view text = arg != nullptr ? arg : "";
        for (const auto& [word, mode] : modes) {
            if (text == word) {
                return mode;
            }
        }
    }
    return Mode::Window;
}

std::string_view usageText() {
    return "Usage: ashenmarch-launcher [MODE]\n"
           "\n"
           "Without a mode the launcher window opens: it checks the release host, installs a\n"
           "newer build and starts the game with PLAY.\n"
           "\n"
           "Modes:\n"
           "  --update     the window's update without a window: fetch only what changed when\n"
           "               the release allows, install, and end with UP TO DATE or UPDATED\n"
           "               (exit 0), OFFLINE or ERROR (exit 1)\n"
           "  --verify     check the installed build file by file; names every missing,\n"
           "               changed or unexpected file and ends with VERIFIED (exit 0) or\n"
           "               DAMAGED <count> (exit 1)\n"
           "  --repair     restore the installed build: fetch only the damaged and missing\n"
           "               files, or update when a newer release is out\n"
           "  --cli        self-check: fetch, download, install and unpack the current release,\n"
           "               print a line report ending in PASS (exit 0) or FAIL (exit 1)\n"
           "  --help       print this text\n"
           "  --version    print the launcher's version\n"
           "\n"
           "Environment:\n"
           "  AM_INSTALL_DIR   install root (default: $XDG_DATA_HOME/Ashenmarch, else\n"
           "                   ~/.local/share/Ashenmarch)\n"
           "  XDG_DATA_HOME    where user data lives when AM_INSTALL_DIR is not set\n"
           "  http_proxy, https_proxy, no_proxy\n"
           "                   proxies for the release host, as for other network tools\n";
}

std::string_view versionLine() {
    return "ashenmarch-launcher " ASHENMARCH_VERSION "\n";
}
