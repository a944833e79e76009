#include "app/ModeSelection.h"
#include "cli/SelfCheck.h"
#include "cli/UpdateMode.h"
#include "cli/VerifyMode.h"
#include "platform/TimeZone.h"
#include "ui/WindowMode.h"

#include <curl/curl.h>

#include <csignal>
#include <iostream>
#include <span>

int main(int argc, char** argv) {
    // Process-wide set-up before any thread exists: the time zone read once, libcurl's global
    // state, and no SIGPIPE when a server closes a connection we are still writing to.
    TimeZone::pinSystemZone();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::signal(SIGPIPE, SIG_IGN);

    switch (selectMode(std::span<const char* const>(argv, static_cast<std::size_t>(argc)))) {
    case Mode::SelfCheck:
        return CLI::run();
    case Mode::Update:
        return CLI::runUpdateMode(CLI::UpdateKind::Update);
    case Mode::Repair:
        return CLI::runUpdateMode(CLI::UpdateKind::Repair);
    case Mode::Verify:
        return CLI::runVerifyMode();
    case Mode::Help:
        std::cout << usageText();
        return 0;
    case Mode::Version:
        std::cout << versionLine();
        return 0;
    case Mode::Window:
        break;
    }
    return runWindowMode(argc, argv);
}
