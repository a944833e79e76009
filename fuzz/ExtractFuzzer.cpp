// Unpacks arbitrary bytes as a build archive. Whatever the bytes, the unpacking either
// succeeds or fails with "am" 2, and nothing outside the destination changes: the whole
// per-process sandbox is listed before and after (kind, mode, size, time, link target, small
// contents), and only the destination may differ. The destination starts every run with a
// link to the bait folder beside it, standing for a link an earlier build left behind, so
// paths through links already on disk are tried too. The process umask must survive as well.
//
// sandbox/outside/                       the bait: what an escaping entry would hit
// sandbox/work/archive.zip               the input
// sandbox/work/unpacked/                 the destination, made afresh for every input
// sandbox/work/unpacked/escape -> ../../outside
#include "FuzzSupport.h"
#include "core/unpack/Extract.h"
#include "platform/Error.h"

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// An archive of a few kilobytes can inflate to gigabytes, and a failed entry is left extended to
// its declared size; a cap on file size turns both into a failed write ("am" 2) instead of a
// full disk. The signal would end the run, so it is ignored and the write fails with EFBIG.
constexpr rlim_t LargestUnpackedFile = 64 << 20;

// Small files are compared by content; larger ones by size and time.
constexpr std::uintmax_t ComparedContentLimit = 4096;

// Lets the owner into every folder, so that entries unpacked with mode 000 cannot stop the
// removal when the fuzzer does not run as root.
void makeRemovable(const fs::path& folder) {
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
    for (const fs::directory_entry& item : fs::directory_iterator(folder)) {
        if (item.symlink_status().type() == fs::file_type::directory) {
            makeRemovable(item.path());
        }
    }
}

void removeTree(const fs::path& folder) {
    if (fs::symlink_status(folder).type() == fs::file_type::directory) {
        makeRemovable(folder);
    }
    fs::remove_all(folder);
}

class Sandbox {
public:
    Sandbox() {
        std::string pattern = (fs::temp_directory_path() / "am-fuzz-extract-XXXXXX").string();
        require(::mkdtemp(pattern.data()) != nullptr, "the sandbox folder can be made");
        root_ = pattern;
        fs::create_directories(root_ / "outside" / "folder");
        std::ofstream(root_ / "outside" / "secret") << "players' saved games\n";
        fs::create_directory(root_ / "work");
    }
    ~Sandbox() { removeTree(root_); }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const fs::path& root() const { return root_; }
    fs::path archive() const { return root_ / "work" / "archive.zip"; }
    fs::path destination() const { return root_ / "work" / "unpacked"; }

    void prepare(std::string_view archiveBytes) const {
        std::ofstream(archive(), std::ios::binary | std::ios::trunc)
            .write(archiveBytes.data(), static_cast<std::streamsize>(archiveBytes.size()));
        removeTree(destination());
        fs::create_directory(destination());
        fs::create_directory_symlink("../../outside", destination() / "escape");
    }

private:
    fs::path root_;
};

const Sandbox& sandbox() {
    static const Sandbox made;
    return made;
}

std::string description(const fs::path& item) {
    struct stat info {};
    require(::lstat(item.c_str(), &info) == 0, "a listed item can be examined");
    std::string text =
        "mode " + std::to_string(info.st_mode) + " size " + std::to_string(info.st_size) +
        " time " + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
    if (S_ISLNK(info.st_mode)) {
        text += " link " + fs::read_symlink(item).string();
    } else if (S_ISREG(info.st_mode) &&
               static_cast<std::uintmax_t>(info.st_size) <= ComparedContentLimit) {
        std::ifstream file(item, std::ios::binary);
        text += " content " + std::string(std::istreambuf_iterator<char>(file), {});
    }
    return text;
}

// Everything in the sandbox except the destination and what lies below it, links not followed.
std::map<std::string, std::string> listing() {
    const Sandbox& box = sandbox();
    std::map<std::string, std::string> items{{".", description(box.root())}};
    for (auto item = fs::recursive_directory_iterator(box.root());
         item != fs::recursive_directory_iterator(); ++item) {
        if (item->path() == box.destination()) {
            item.disable_recursion_pending();
            continue;
        }
        items[item->path().lexically_relative(box.root()).string()] = description(item->path());
    }
    return items;
}

void reportChanges(const std::map<std::string, std::string>& before,
                   const std::map<std::string, std::string>& after) {
    for (const auto& [name, was] : before) {
        const auto now = after.find(name);
        if (now == after.end() || now->second != was) {
            std::fprintf(stderr, "changed outside the destination: %s\n", name.c_str());
        }
    }
    for (const auto& [name, now] : after) {
        if (!before.contains(name)) {
            std::fprintf(stderr, "appeared outside the destination: %s\n", name.c_str());
        }
    }
}

// Called on the first input: libFuzzer installs its own SIGXFSZ handler after
// LLVMFuzzerInitialize, and that handler would end the run.
bool limitFileSize() {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    require(::getrlimit(RLIMIT_FSIZE, &limit) == 0, "the file size limit can be read");
    limit.rlim_cur = std::min(limit.rlim_max, LargestUnpackedFile);
    require(::setrlimit(RLIMIT_FSIZE, &limit) == 0, "the file size limit can be set");
    return true;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    [[maybe_unused]] static const bool fileSizeLimited = limitFileSize();
    const Sandbox& box = sandbox();
    box.prepare(textOf(data, size));
    const auto before = listing();
    const mode_t umaskBefore = currentUmask();

    try {
        Core::Unpack::extract(box.archive(), box.destination());
    } catch (const Error& error) {
        require(error.is(AmCode::UnpackFailed), "a failed unpacking is error am 2");
    }

    require(currentUmask() == umaskBefore, "unpacking leaves the umask as it was");
    require(fs::symlink_status(box.destination()).type() == fs::file_type::directory,
            "the destination stays a folder");
    const auto after = listing();
    if (after != before) {
        reportChanges(before, after);
        require(false, "nothing outside the destination changes");
    }
    return 0;
}
