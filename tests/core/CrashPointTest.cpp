// An update killed before any one of its changes to the disk, and the recovery after it killed
// the same way: whatever the order of the steps, the next recovery must leave exactly one
// complete build whose marker matches it.
//
// The changes are counted by standing in for the C library's calls that make them (this
// program's definitions come before the library's, for the code in this program and for the
// C++ library alike). A forked child arms the count and ends itself, as a kill would, just
// before the n-th change; n runs up from 0 until the work completes.
#include "core/install/InstallStore.h"
#include "core/install/StagedInstall.h"
#include "core/unpack/Extract.h"
#include "support/InterruptedUpdate.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int Killed = 86;
std::atomic<int> changesLeft{-1}; // -1: not counting
int killNote = -1;                // where the child writes which change it stopped before

void change(const char* call, const char* path) {
    if (changesLeft.load() < 0 || changesLeft.fetch_sub(1) != 0) {
        return;
    }
    const std::string note = std::string(call) + " " + path;
    [[maybe_unused]] const auto written = ::write(killNote, note.data(), note.size());
    ::_exit(Killed);
}

template <class Function> Function* next(const char* name) {
    return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}

} // namespace

#define PASS_ON(name, ...)                                                                         \
    static auto* const real = next<decltype(::name)>(#name);                                       \
    return real(__VA_ARGS__)

extern "C" {
int rename(const char* from, const char* to) noexcept {
    change("rename", to);
    PASS_ON(rename, from, to);
}
int renameat(int fromFolder, const char* from, int toFolder, const char* to) noexcept {
    change("renameat", to);
    PASS_ON(renameat, fromFolder, from, toFolder, to);
}
int unlinkat(int folder, const char* path, int flags) noexcept {
    change("unlinkat", path);
    PASS_ON(unlinkat, folder, path, flags);
}
int mkdirat(int folder, const char* path, mode_t mode) noexcept {
    change("mkdirat", path);
    PASS_ON(mkdirat, folder, path, mode);
}
int mkstemp(char* pattern) {
    change("mkstemp", pattern);
    PASS_ON(mkstemp, pattern);
}
int openat(int folder, const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
        change("openat", path);
    }
    PASS_ON(openat, folder, path, flags, mode);
}
}

namespace {

// Runs `work` in a child killed before its n-th change: the change it stopped before, or
// nothing when the work completed.
std::optional<std::string> killedBefore(int n, const std::function<void()>& work,
                                        const fs::path& note) {
    Subprocess child([&] {
        killNote = ::open(note.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        changesLeft = n;
        work();
        changesLeft = -1;
        return 0;
    });
    const int status = child.wait();
    if (status == 0) {
        return std::nullopt;
    }
    EXPECT_EQ(status, Killed) << "the work failed on its own";
    return readFile(note);
}

void expectOneBuildWhoseMarkerMatches(const Core::Install::InstallLayout& layout) {
    fs::remove(layout.archivePath()); // the run removes it once installed; it may stay till then
    const std::string version = Core::Install::installedVersion(layout);
    EXPECT_TRUE(version == "1.0" || version == "2.0") << version;
    expectOneSettledBuild(layout.root, version, "game " + version);
}

TEST(CrashPoint, AnUpdateOrItsRecoveryKilledAtAnyChangeEndsWithOneBuildWhoseMarkerMatches) {
    // Hundreds of updates, each syncing its records to disk: in memory where there is a folder
    // for it, they take a fraction of the time.
    std::optional<ScopedEnv> inMemory;
    if (::access("/dev/shm", W_OK) == 0) {
        inMemory.emplace("TMPDIR", "/dev/shm");
    }
    TempDir dir;
    const Core::Install::InstallLayout layout{dir / "root"};
    const Manifest manifest = Manifest::parse("version=2.0\n");
    const fs::path note = dir / "killed-before";
    // One file, so that the unpacking runs on one thread and the changes come in one order; a
    // closed folder, which recovery must open up to remove.
    const auto install = [&] {
        Core::Install::stageBuild(layout, manifest);
        Core::Install::commitStagedBuild(layout, manifest);
        Core::Unpack::extract(layout.archivePath(), layout.buildDir()); // as the self-check does
    };
    const std::string archive = ZipBuilder()
                                    .folder("Ashenmarch.app/Sealed/", 0555)
                                    .file(gameFile, "game 2.0", 0755)
                                    .bytes();
    const auto interrupted = [&](int n) {
        fs::remove_all(layout.root);
        writeFile(layout.buildDir() / gameFile, "game 1.0");
        writeFile(layout.markerPath(), "1.0");
        writeFile(layout.archivePath(), archive);
        return killedBefore(n, install, note);
    };
    handToUnprivilegedUser(dir.path());
    runUnprivileged([&] {
        int changes = 0;
        for (; const auto update = interrupted(changes); ++changes) {
            // Recovery decides something only while an update is being swapped in: there, it is
            // killed at every change of its own too, and recovered once more.
            const bool swapping = fs::exists(layout.pendingRecordPath());
            for (int k = 0;; ++k) {
                const auto recovery =
                    swapping
                        ? killedBefore(
                              k, [&] { Core::Install::recoverInterruptedUpdate(layout); }, note)
                        : std::nullopt;
                SCOPED_TRACE("update killed before " + *update + ", its recovery before " +
                             recovery.value_or("(none)"));
                Core::Install::recoverInterruptedUpdate(layout);
                expectOneBuildWhoseMarkerMatches(layout);
                if (!recovery || ::testing::Test::HasFailure()) {
                    break;
                }
                interrupted(changes);
            }
            if (::testing::Test::HasFailure()) {
                break;
            }
        }
        EXPECT_GT(changes, 10) << "the count misses the update's changes";
        expectOneBuildWhoseMarkerMatches(layout);
        EXPECT_EQ(Core::Install::installedVersion(layout), "2.0");
    });
}

} // namespace
