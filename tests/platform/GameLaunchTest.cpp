#include "platform/GameLaunch.h"

#include "platform/TimeZone.h"
#include "platform/UniqueFd.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Stands in for the game: records its process id and working folder, then becomes `sleep`, so
// that what it inherited can be read from /proc while it runs.
const std::string stubGame = "#!/bin/sh\n"
                             "{ echo $$; pwd; } > started.tmp && mv started.tmp started.txt\n"
                             "exec sleep 30\n";

fs::path writeGame(const fs::path& bundle, const std::string& script, fs::perms mode) {
    const fs::path executable = bundle / "Contents" / "MacOS" / "ASHENMARCH";
    writeFile(executable, script);
    fs::permissions(executable, mode);
    return executable;
}

struct StartedGame {
    pid_t pid = 0;
    std::string folder;
};

// Polls for up to ten seconds.
bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// Waits for the stub game's record; pid 0 when it never came.
StartedGame waitForGame(const fs::path& executable) {
    const fs::path record = executable.parent_path() / "started.txt";
    if (!waitFor([&] { return fs::exists(record); })) {
        return {};
    }
    std::istringstream lines(readFile(record));
    StartedGame game;
    lines >> game.pid >> game.folder;
    return game;
}

std::string procText(pid_t pid, const char* file) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string statusField(pid_t pid, const std::string& name) {
    std::istringstream status(procText(pid, "status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name + ":", 0) == 0) {
            return line.substr(line.find_first_not_of(" \t", name.size() + 1));
        }
    }
    return {};
}

std::set<std::string> openDescriptors(pid_t pid) {
    std::set<std::string> targets;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        targets.insert(entry.path().filename().string() + " " +
                       fs::read_symlink(entry.path()).string());
    }
    return targets;
}

TEST(GameLaunch, StartsTheGameDetachedWithNothingInherited) {
    const TempDir temp;
    const fs::path executable = writeGame(temp / "Ashenmarch.app", stubGame, fs::perms::owner_all);
    // A descriptor the launcher opened without close-on-exec, and an ignored signal: neither
    // may reach the game.
    const UniqueFd leaked(::open("/dev/null", O_RDONLY));
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    // Nor the time zone the launcher pins for itself at start.
    const ScopedEnv unsetZone("TZ", nullptr);
    TimeZone::pinSystemZone();

    startGame(temp / "Ashenmarch.app");
    std::signal(SIGPIPE, oldPipe);
    const StartedGame game = waitForGame(executable);
    ASSERT_NE(game.pid, 0);
    ASSERT_TRUE(waitFor([&] { return procText(game.pid, "comm") == "sleep\n"; }));

    EXPECT_EQ(fs::path(game.folder), executable.parent_path());
    EXPECT_EQ(openDescriptors(game.pid),
              (std::set<std::string>{"0 /dev/null", "1 /dev/null", "2 /dev/null"}));
    EXPECT_NE(::getsid(game.pid), ::getsid(0)) << "a session of its own";
    EXPECT_NE(statusField(game.pid, "PPid"), std::to_string(::getpid()));
    EXPECT_EQ(statusField(game.pid, "SigIgn"), "0000000000000000");
    EXPECT_EQ(statusField(game.pid, "SigBlk"), "0000000000000000");
    std::istringstream environment(procText(game.pid, "environ"));
    std::set<std::string> names;
    for (std::string entry; std::getline(environment, entry, '\0');) {
        names.insert(entry.substr(0, entry.find('=')));
    }
    EXPECT_FALSE(names.contains("TZ"));
    EXPECT_TRUE(names.contains("PATH"));
    ::kill(game.pid, SIGKILL);
}

TEST(GameLaunch, ReportsWhyTheGameCannotStart) {
    const TempDir temp;
    const fs::path notExecutable =
        writeGame(temp / "Plain.app", stubGame, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(temp / "Empty.app");
    const std::vector<std::tuple<const char*, int, fs::path>> cases = {
        {"Plain.app", EACCES, notExecutable},
        {"Empty.app", ENOENT, temp / "Empty.app" / "Contents" / "MacOS" / "ASHENMARCH"},
    };
    for (const auto& [bundle, errnum, executable] : cases) {
        const Error error = errorOf([&] { startGame(temp / bundle); });
        EXPECT_EQ(error.domain(), "posix") << bundle;
        EXPECT_EQ(error.code(), errnum) << bundle;
        EXPECT_EQ(error.localizedMessage(),
                  "cannot start " + executable.string() + ": " + std::strerror(errnum))
            << bundle;
    }
}

} // namespace
