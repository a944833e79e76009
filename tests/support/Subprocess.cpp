#include "support/Subprocess.h"

#include "support/TempDir.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void execChild(const std::filesystem::path& program,
                            const std::vector<std::string>& arguments,
                            const std::vector<std::pair<std::string, std::string>>& environment,
                            const std::filesystem::path& outputFolder) {
    const int out = ::open((outputFolder / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open((outputFolder / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(err, 2) < 0) {
        ::_exit(127);
    }
    for (const auto& [name, value] : environment) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> argv;
    std::string path = program.string();
    argv.push_back(path.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
}

} // namespace

Subprocess::Subprocess(const std::filesystem::path& program,
                       const std::vector<std::string>& arguments,
                       const std::vector<std::pair<std::string, std::string>>& environment) {
    std::string pattern = (std::filesystem::temp_directory_path() / "am-proc-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    outputFolder_ = pattern;
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        execChild(program, arguments, environment, outputFolder_);
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
