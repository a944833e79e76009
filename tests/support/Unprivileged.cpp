#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <exception>
#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uid_t Nobody = 65534;
constexpr int CannotDropPrivileges = 77;

} // namespace

void handToUnprivilegedUser(const fs::path& folder) {
    if (::geteuid() != 0) {
        return;
    }
    ::lchown(folder.c_str(), Nobody, Nobody);
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        ::lchown(item.path().c_str(), Nobody, Nobody);
    }
}

bool runUnprivileged(const std::function<void()>& work) {
    Subprocess child([&] {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(Nobody, Nobody, Nobody) != 0 ||
             ::setresuid(Nobody, Nobody, Nobody) != 0)) {
            return CannotDropPrivileges;
        }
        ::prctl(PR_SET_DUMPABLE, 1); // as any process started by that user
        try {
            work();
        } catch (const std::exception& error) {
            ADD_FAILURE() << "unprivileged work threw: " << error.what();
        }
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    const int status = child.wait();
    if (status == CannotDropPrivileges) {
        [] {
            GTEST_SKIP() << "cannot run as an unprivileged user here";
        }();
        return false;
    }
    EXPECT_EQ(status, 0) << "the unprivileged part failed (its output is above)";
    return true;
}

std::unique_ptr<Subprocess>
startUnprivileged(const fs::path& program, std::vector<std::string> arguments,
                  const std::vector<std::pair<std::string, std::string>>& environment) {
    if (::geteuid() != 0) {
        return std::make_unique<Subprocess>(program, arguments, environment);
    }
    const std::string user = std::to_string(Nobody);
    arguments.insert(arguments.begin(),
                     {"--reuid=" + user, "--regid=" + user, "--clear-groups", program.string()});
    return std::make_unique<Subprocess>("/usr/bin/setpriv", arguments, environment);
}
