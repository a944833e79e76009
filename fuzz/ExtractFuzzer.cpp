// Unpacks arbitrary bytes as a build archive. Whatever the bytes, the unpacking either succeeds
// or fails with "am" 2, and nothing outside the destination changes: the sandbox is listed
// before and after, links not followed, each item with the time its inode last changed (any
// write, mode change or replacement moves it, and nothing can set it back). The destination
// starts every run with a link to the bait folder beside it, standing for a link an earlier
// build left behind, so paths through links already on disk are tried too.
//
// sandbox/outside/secret                 the bait: what an escaping entry would hit
// sandbox/work/archive.zip               the input
// sandbox/work/unpacked/escape -> ../../outside   the destination, made afresh for every input
#include "FuzzSupport.h"
#include "core/unpack/Extract.h"
#include "platform/Error.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Lets the owner into every folder first: entries unpacked with mode 000 would stop the removal.
void removeTree(const fs::path& folder) {
    if (fs::symlink_status(folder).type() == fs::file_type::directory) {
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
        for (const fs::directory_entry& item : fs::directory_iterator(folder)) {
            removeTree(item.path());
        }
    }
    fs::remove_all(folder);
}

struct Sandbox {
    fs::path root;
    // An archive of a few kilobytes can inflate to gigabytes, and a failed entry is left
    // extended to its declared size; a cap on file size turns both into a failed write ("am" 2)
    // instead of a full disk. SIGXFSZ is ignored so that the write fails with EFBIG. Made on the
    // first input: libFuzzer installs its own handler after LLVMFuzzerInitialize.
    Sandbox() {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 << 20, 64 << 20};
        require(::setrlimit(RLIMIT_FSIZE, &limit) == 0, "the file size limit can be set");
        std::string pattern = (fs::temp_directory_path() / "am-fuzz-extract-XXXXXX").string();
        require(::mkdtemp(pattern.data()) != nullptr, "the sandbox folder can be made");
        root = pattern;
        fs::create_directories(root / "outside" / "folder");
        std::ofstream(root / "outside" / "secret") << "players' saved games\n";
        fs::create_directory(root / "work");
    }
    ~Sandbox() { removeTree(root); }
    fs::path destination() const { return root / "work" / "unpacked"; }

    // Everything outside the destination.
    std::string listing() const {
        std::string text;
        for (auto item = fs::recursive_directory_iterator(root); item != fs::end(item); ++item) {
            if (item->path() == destination()) {
                item.disable_recursion_pending();
                continue;
            }
            struct stat info {};
            require(::lstat(item->path().c_str(), &info) == 0, "a listed item can be examined");
            text += item->path().string() + " " + std::to_string(info.st_ctim.tv_sec) + "." +
                    std::to_string(info.st_ctim.tv_nsec) + "\n";
        }
        return text;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Sandbox box;
    const fs::path archive = box.root / "work" / "archive.zip";
    const std::string_view bytes = textOf(data, size);
    std::ofstream(archive, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    removeTree(box.destination());
    fs::create_directory(box.destination());
    fs::create_directory_symlink("../../outside", box.destination() / "escape");
    const std::string before = box.listing();

    try {
        Core::Unpack::extract(archive, box.destination());
    } catch (const Error& error) {
        require(error.is(AmCode::UnpackFailed), "a failed unpacking is error am 2");
    }
    require(box.listing() == before, "nothing outside the destination changes");
    return 0;
}
