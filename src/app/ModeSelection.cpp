#include "app/ModeSelection.h"

#include <algorithm>

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
    for (const char* arg : arguments.subspan(arguments.empty() ? 0 : 1)) {
        const std::string_view text = arg != nullptr ? arg : "";
        if (text == "--help") {
            return Mode::Help;
        }
        if (text == "--version") {
            return Mode::Version;
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
