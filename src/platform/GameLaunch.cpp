#include "platform/GameLaunch.h"

#include "platform/Error.h"
#include "platform/TimeZone.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifdef __APPLE__
#include <spawn.h>
#endif

namespace fs = std::filesystem;

namespace {

int waitForExit(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

fs::path bundleExecutable(const fs::path& bundle) {
    return bundle / "Contents" / "MacOS" / "ASHENMARCH";
}

#ifdef __APPLE__

void startGame(const fs::path& bundle) {
    // open(1) hands the bundle to the workspace service and returns once it has been launched.
    std::string tool = "/usr/bin/open";
    std::string path = bundle.string();
    char* const arguments[] = {tool.data(), path.data(), nullptr};
    const std::vector<char*> environment = TimeZone::environmentForChildren();
    pid_t child = 0;
    if (const int error =
            ::posix_spawn(&child, tool.c_str(), nullptr, nullptr, arguments, environment.data());
        error != 0) {
        throw Error::posix(error, "start", bundle);
    }
    const int status = waitForExit(child);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw Error("posix", ECHILD, "cannot start " + path + ": the workspace service refused it");
    }
}

#else

namespace {

// Between fork and exec only async-signal-safe calls are allowed: another thread may have held
// a lock (the allocator's among them) at the moment of the fork. Everything else is prepared
// beforehand.
struct GameCommand {
    const char* executable;
    const char* folder;
    char* const* arguments;
    char* const* environment;
    int errorPipe;      // close-on-exec: reads end-of-file once the game has replaced the child
    rlim_t descriptors; // the highest descriptor number to hide, for kernels without close_range
};

[[noreturn]] void reportAndExit(int errorPipe) {
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(errorPipe, &error, sizeof error);
    ::_exit(127);
}

void resetSignals() {
    // The launcher ignores SIGPIPE, and ignored signals would survive exec.
    for (int signal = 1; signal < NSIG; ++signal) {
        ::signal(signal, SIG_DFL);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Descriptors that the launcher's libraries opened without close-on-exec (sockets, temporary
// files) stay with the launcher.
void hideDescriptors(rlim_t highest) {
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) {
        return;
    }
    for (rlim_t fd = 3; fd <= highest; ++fd) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    }
}

[[noreturn]] void execGame(const GameCommand& command) {
    resetSignals();
    if (::chdir(command.folder) != 0) {
        reportAndExit(command.errorPipe);
    }
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull < 0) {
        reportAndExit(command.errorPipe);
    }
    for (int fd = 0; fd <= 2; ++fd) {
        if (::dup2(devNull, fd) < 0) {
            reportAndExit(command.errorPipe);
        }
    }
    if (devNull > 2) {
        ::close(devNull);
    }
    hideDescriptors(command.descriptors);
    ::execve(command.executable, command.arguments, command.environment);
    reportAndExit(command.errorPipe);
}

// Runs in the first child: a new session, then the game in a grandchild, so that the game is
// nobody's child once this process has ended and the launcher has reaped it.
[[noreturn]] void detachAndExec(const GameCommand& command) {
    if (::setsid() < 0) {
        reportAndExit(command.errorPipe);
    }
    const pid_t game = ::fork();
    if (game < 0) {
        reportAndExit(command.errorPipe);
    }
    if (game > 0) {
        ::_exit(0);
    }
    execGame(command);
}

rlim_t highestDescriptor() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 65535;
    }
    return limit.rlim_cur - 1;
}

} // namespace

void startGame(const fs::path& bundle) {
    const fs::path executable = bundleExecutable(bundle);
    std::string path = executable.string();
    const std::string folder = executable.parent_path().string();
    char* const arguments[] = {path.data(), nullptr};

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw Error::posix(errno, "start", executable);
    }
    const UniqueFd readEnd(pipeEnds[0]);
    UniqueFd writeEnd(pipeEnds[1]);
    const std::vector<char*> environment = TimeZone::environmentForChildren();
    const GameCommand command{path.c_str(),       folder.c_str(), arguments,
                              environment.data(), writeEnd.get(), highestDescriptor()};

    const pid_t child = ::fork();
    if (child < 0) {
        throw Error::posix(errno, "start", executable);
    }
    if (child == 0) {
        detachAndExec(command);
    }
    writeEnd.reset();
    waitForExit(child);

    // End of file: the game has replaced the grandchild. Otherwise the errno of the failed step.
    int error = 0;
    ssize_t received = 0;
    while ((received = ::read(readEnd.get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (received == static_cast<ssize_t>(sizeof error)) {
        throw Error::posix(error, "start", executable);
    }
}

#endif
