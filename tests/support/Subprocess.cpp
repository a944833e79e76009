#include "support/Subprocess.h"

#include "support/TempDir.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ; // the process environment, declared by no header everywhere

namespace {

// Null-terminated pointers into `texts`, as exec wants them.
std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

struct FileActions {
    FileActions() { ::posix_spawn_file_actions_init(&actions); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions); }
    posix_spawn_file_actions_t actions;
};

} // namespace

// posix_spawn, as the launcher starts processes: the test runs threads (loopback servers), and
// a forked child of a threaded process may not allocate before exec.
Subprocess::Subprocess(const std::filesystem::path& program,
                       const std::vector<std::string>& arguments,
                       const std::vector<std::pair<std::string, std::string>>& environment) {
    std::string pattern = (std::filesystem::temp_directory_path() / "am-proc-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    outputFolder_ = pattern;
    std::vector<std::string> argumentTexts{program.string()};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    // This process's environment, with `environment` replacing or adding variables.
    std::vector<std::string> environmentTexts;
    for (const auto& [name, value] : environment) {
        environmentTexts.push_back(name + "=" + value);
    }
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (std::none_of(environment.begin(), environment.end(),
                         [&](const auto& set) { return text.starts_with(set.first + "="); })) {
            environmentTexts.emplace_back(text);
        }
    }
    const std::string out = (outputFolder_ / "stdout").string();
    const std::string err = (outputFolder_ / "stderr").string();
    FileActions files;
    ::posix_spawn_file_actions_addopen(&files.actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&files.actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
    ::posix_spawn_file_actions_addopen(&files.actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
    const int error =
        ::posix_spawn(&pid_, argumentTexts[0].c_str(), &files.actions, nullptr,
                      pointersTo(argumentTexts).data(), pointersTo(environmentTexts).data());
    if (error != 0) {
        throw std::runtime_error("cannot start " + program.string() + ": " + std::strerror(error));
    }
}

Subprocess::Subprocess(const std::function<int()>& work) {
    std::fflush(nullptr); // or the child would print what the parent had buffered once more
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        const int status = work();
        std::fflush(nullptr);
        ::_exit(status);
    }
}

Subprocess::~Subprocess() {
    if (pid_ > 0 && status_ < 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    std::error_code ignored;
    std::filesystem::remove_all(outputFolder_, ignored);
}

int Subprocess::wait() {
    if (status_ >= 0) {
        return status_;
    }
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("waitpid failed");
        }
    }
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return status_;
}

void Subprocess::kill(int signal) {
    if (status_ < 0) {
        ::kill(pid_, signal);
    }
}

std::string Subprocess::standardOutput() const {
    return readFile(outputFolder_ / "stdout");
}

std::string Subprocess::standardError() const {
    return readFile(outputFolder_ / "stderr");
}
