#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// A child process running a program with extra environment variables, its standard output and
// standard error captured to files, standard input on /dev/null. Started with posix_spawn, so
// it is safe from a test running threads; throws when the program cannot be started. The
// destructor kills and reaps a child that is still running.
class Subprocess {
public:
    Subprocess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const std::vector<std::pair<std::string, std::string>>& environment = {});
    // Runs `work` in a forked copy of this process; the child exits with what it returns. Its
    // output is not captured. Only for tests that run no other thread at the time: the child
    // allocates, which a fork of a threaded process may not.
    explicit Subprocess(const std::function<int()>& work);
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    // Waits for the child and returns its exit status (128 + signal when a signal ended it).
    int wait();
    void kill(int signal);

    std::string standardOutput() const;
    std::string standardError() const;

private:
    std::filesystem::path outputFolder_;
    pid_t pid_ = -1;
    int status_ = -1;
};
