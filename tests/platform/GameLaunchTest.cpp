#include "platform/GameLaunch.h"

#include "platform/TimeZone.h"
#include "platform/UniqueFd.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string procText(const std::string& pid, const char* file) {
    std::ifstream in("/proc/" + pid + "/" + file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The game inherits nothing of the launcher's: no open file but /dev/null on 0 to 2, no ignored
// or blocked signal, not the time zone the launcher pins for itself, not its session; and it runs
// in its own folder.
TEST(GameLaunch, StartsTheGameDetachedWithNothingInherited) {
    const TempDir temp;
    const fs::path folder = temp / "Ashenmarch.app/Contents/MacOS";
    // Records its process id, then becomes `sleep`, so that what it inherited can be read.
    writeFile(folder / "ASHENMARCH", "#!/bin/sh\necho $$ > ../started.tmp && "
                                     "mv ../started.tmp ../started.txt\nexec sleep 30\n");
    fs::permissions(folder / "ASHENMARCH", fs::perms::owner_all);
    const UniqueFd leaked(::open("/dev/null", O_RDONLY)); // without close-on-exec
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    const ScopedEnv unsetZone("TZ", nullptr);
    TimeZone::pinSystemZone();

    startGame(temp / "Ashenmarch.app");
    std::signal(SIGPIPE, oldPipe);
    std::string pid;
    for (int i = 0; i < 1000 && procText(pid, "comm") != "sleep\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream(folder.parent_path() / "started.txt") >> pid;
    }
    ASSERT_EQ(procText(pid, "comm"), "sleep\n");

    EXPECT_EQ(fs::read_symlink("/proc/" + pid + "/cwd"), folder);
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator("/proc/" + pid + "/fd")) {
        files.insert(entry.path().filename().string() + " " +
                     fs::read_symlink(entry.path()).string());
    }
    EXPECT_EQ(files, (std::set<std::string>{"0 /dev/null", "1 /dev/null", "2 /dev/null"}));
    EXPECT_NE(::getsid(std::stoi(pid)), ::getsid(0)) << "a session of its own";
    const std::string status = procText(pid, "status");
    EXPECT_NE(status.find("SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n"),
              std::string::npos)
        << status;
    EXPECT_EQ(status.find("PPid:\t" + std::to_string(::getpid()) + "\n"), std::string::npos);
    const std::string environment = std::string(1, '\0') + procText(pid, "environ");
    EXPECT_EQ(environment.find(std::string("\0TZ=", 4)), std::string::npos);
    EXPECT_NE(environment.find(std::string("\0PATH=", 6)), std::string::npos);
    ::kill(std::stoi(pid), SIGKILL);
}

} // namespace
