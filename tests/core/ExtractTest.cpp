// Unpacking: modes, names, unpacking over a tree, hostile archives, many threads.
#include "core/unpack/Extract.h"

#include "core/unpack/EntrySafety.h"
#include "core/unpack/TreeRemoval.h"
#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/PatchRelease.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sys/stat.h>

namespace fs = std::filesystem;
using Core::Unpack::EntrySafety::EntryKind;

namespace {

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Every item under `folder`, relative to it, links not followed.
std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> items;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        items.push_back(item.path().lexically_relative(folder).string());
    }
    std::sort(items.begin(), items.end());
    return items;
}

class Extract : public ::testing::Test {
protected:
    TempDir dir;
    fs::path zip = dir / "build.zip";
    fs::path out = dir / "out";

    // "am" 2 with its fixed message; the detail, which says why.
    std::string unpackFailure() {
        const Error error = errorOf([&] { Core::Unpack::extract(zip, out); });
        EXPECT_TRUE(error.is(AmCode::UnpackFailed)) << error.what();
        EXPECT_EQ(error.message(), "ditto failed with status 1");
        return error.detail().value_or("");
    }
};

// Names with quotes and UTF-8 (under the C locale, where they do not convert by themselves),
// into a destination behind a link, twice: the second time over the first tree, replacing
// files and links (and whatever links stand in their way, never writing through them), keeping
// what the archive does not name.
TEST_F(Extract, UnpacksAnyNameIntoAnyFolderAndAgainOverItsOwnTree) {
    const std::string utf8 = "App.app/caf\xC3\xA9 \xE2\x80\x94 \"1\" it's.txt";
    ZipBuilder()
        .file("App.app/MacOS/App", "binary", 0755)
        .file("App.app/readonly.dat", "fixed", 0444)
        .file(utf8, "two")
        .symlink("App.app/Kit", "MacOS/App")
        .writeTo(zip);
    fs::create_directories(dir / "disk");
    fs::create_directory_symlink(dir / "disk", dir / "games");
    const fs::path into = dir / "games/build";
    Core::Unpack::extract(zip, into);
    const std::vector<std::string> firstTree = listing(into);

    writeFile(dir / "outside", "outside data");
    fs::remove(into / "App.app/MacOS/App");
    fs::create_hard_link(dir / "outside", into / "App.app/MacOS/App");
    fs::remove(into / "App.app/readonly.dat");
    fs::create_symlink(dir / "outside", into / "App.app/readonly.dat");
    writeFile(into / "App.app/saved.cfg", "player settings");
    Core::Unpack::extract(zip, into);
    EXPECT_EQ(readFile(dir / "outside"), "outside data");
    EXPECT_EQ(readFile(into / "App.app/readonly.dat"), "fixed");
    EXPECT_EQ(readFile(into / "App.app/Kit"), "binary");
    EXPECT_EQ(readFile(into / utf8), "two");
    EXPECT_EQ(readFile(dir / "disk/build/App.app/saved.cfg"), "player settings");
    fs::remove(into / "App.app/saved.cfg");
    EXPECT_EQ(listing(into), firstTree);
}

// What EntrySafety cannot see from one entry alone: the reader's own view of names, kinds it
// derives, and paths through links of the archive or of the destination. Every entry is
// checked before the first is written, so not even the good first entry is there.
TEST_F(Extract, RefusesUnsafeEntriesBeforeWritingAnything) {
    using Build = std::function<void(ZipBuilder&)>;
    const std::pair<Build, std::string> rows[] = {
        // The reader turns backslashes into slashes only in names without a slash.
        {[](ZipBuilder& z) { z.file("Game.app/..\\..\\evil", "x"); },
         "\"Game.app/..\\..\\evil\": backslash or control character in the name"},
        {[](ZipBuilder& z) { z.folder("real/").symlink("link", "real").file("link/evil", "x"); },
         "\"link/evil\": path goes through the symbolic link \"link\""},
        {[](ZipBuilder& z) { z.file("Game.app/Contents/evil", "x").symlink("Game.app", "else"); },
         "\"Game.app\": symbolic link where the archive has a folder"},
        {[](ZipBuilder& z) { z.file("Game.app/Contents", "x").file("Game.app/Contents/y", "y"); },
         "\"Game.app/Contents\": file where the archive has a folder"},
        {[](ZipBuilder& z) { z.special("disk", S_IFBLK | 0644); },
         "\"disk\": device, FIFO or socket"},
        {[](ZipBuilder& z) { z.file("Linked.app/Contents/evil", "x"); },
         "\"Linked.app/Contents/evil\": path goes through the symbolic link \"Linked.app\""},
    };
    fs::create_directories(dir / "outside");
    for (const auto& [build, detail] : rows) {
        SCOPED_TRACE(detail);
        fs::remove_all(out);
        fs::create_directories(out);
        fs::create_directory_symlink(dir / "outside", out / "Linked.app");
        ZipBuilder archive;
        build(archive.file("first.txt", "a good entry before the bad one"));
        archive.writeTo(zip);
        EXPECT_EQ(unpackFailure(), "unsafe entry " + detail);
        EXPECT_EQ(listing(dir.path()),
                  (std::vector<std::string>{"build.zip", "out", "out/Linked.app", "outside"}));
    }
}

// Enough files for every thread to get some; sizes from empty to several read blocks, some
// incompressible, so entries end mid-block and span blocks. Modes are kept as recorded, without
// the special bits and under the umask.
TEST_F(Extract, ManyFilesSharedOutAmongThreadsKeepTheirContentAndModesUnderTheUmask) {
    const unsigned modes[] = {0644, 0755, 04755, 0444};
    ZipBuilder archive;
    archive.folder("Game.app/part0/", 0750);
    std::map<std::string, std::pair<std::string, unsigned>> expected;
    for (unsigned i = 0; i < 240; ++i) {
        const std::string name =
            "Game.app/part" + std::to_string(i % 7) + "/file" + std::to_string(i) + ".dat";
        const std::size_t size = i % 40 == 0 ? 300000 + i : i * 37;
        expected[name] = {i % 3 == 0 ? noise(size, i) : std::string(size, 'a'), modes[i % 4]};
        archive.file(name, expected[name].first, expected[name].second);
    }
    archive.file("Game.app/part0/file0.dat", "the later copy wins", 0600);
    expected["Game.app/part0/file0.dat"] = {"the later copy wins", 0600};
    archive.writeTo(zip);
    for (const mode_t mask : {022, 077}) {
        SCOPED_TRACE(testing::Message() << "umask " << std::oct << mask);
        fs::remove_all(out);
        const mode_t before = ::umask(mask);
        Core::Unpack::extract(zip, out);
        ::umask(before);
        EXPECT_EQ(modeOf(out / "Game.app/part0"), 0750 & ~mask);
        for (const auto& [name, file] : expected) {
            EXPECT_EQ(readFile(out / name), file.first) << name;
            EXPECT_EQ(modeOf(out / name), file.second & 0777 & ~mask) << name;
        }
    }
}

TEST_F(Extract, FoldersWithoutWriteAccessAreUnpackedOverAndRemoved) {
    // Root may write anywhere; a player may not, so this runs as one.
    handToUnprivilegedUser(dir.path());
    runUnprivileged([&] {
        for (const unsigned mode : {0555u, 0000u}) {
            SCOPED_TRACE(testing::Message() << std::oct << mode);
            ZipBuilder()
                .folder("Game.app/sealed/", mode)
                .file("Game.app/sealed/data", "x")
                .symlink("Game.app/sealed/alias", "data")
                .writeTo(zip);
            for (int pass = 1; pass <= 2; ++pass) { // the second over the first
                Core::Unpack::extract(zip, out);
                EXPECT_EQ(modeOf(out / "Game.app/sealed"), mode);
            }
            Core::Unpack::removeTree(out);
            EXPECT_FALSE(fs::exists(fs::symlink_status(out)));
        }
    });
}

// Rewrites every recorded uncompressed size of a one-entry zip (local header, data descriptor,
// central directory) to `declared`, leaving the compressed data as it is.
std::string withDeclaredSize(std::string zip, std::uint32_t declared) {
    for (const auto& [signature, offset] : {std::pair{std::string("PK\x03\x04", 4), 22},
                                            {std::string("PK\x07\x08", 4), 12},
                                            {std::string("PK\x01\x02", 4), 24}}) {
        for (auto at = zip.find(signature); at != std::string::npos;
             at = zip.find(signature, at + 4)) {
            for (int i = 0; i < 4; ++i) {
                zip[at + offset + i] = static_cast<char>((declared >> (8 * i)) & 0xFF);
            }
        }
    }
    return zip;
}

// The hook sees what will be written once every entry has passed its checks, before any is
// written; what it throws ends the unpacking there. An entry that inflates past what it
// declares fails before the excess is written.
TEST_F(Extract, WritesNoMoreThanTheEntriesDeclare) {
    ZipBuilder()
        .file("Game.app/a", std::string(1000, 'x'))
        .file("Game.app/b", std::string(234, 'y'))
        .file("Game.app/a", std::string(10, 'z')) // the later entry wins
        .writeTo(zip);
    std::optional<std::uint64_t> seen;
    const Error error = errorOf([&] {
        Core::Unpack::extract(zip, out, [&](std::uint64_t bytes) {
            seen = bytes;
            throw Error::am(AmCode::NotEnoughSpace, "not enough disk space");
        });
    });
    EXPECT_EQ(seen, 244u);
    EXPECT_TRUE(error.is(AmCode::NotEnoughSpace));
    EXPECT_TRUE(listing(out).empty());

    writeFile(
        zip, withDeclaredSize(ZipBuilder().file("Game.app/pack", std::string(4 << 20, 'x')).bytes(),
                              1000));
    unpackFailure();
    std::error_code missing;
    EXPECT_LE(fs::file_size(out / "Game.app/pack", missing), 1000u);
}

TEST(EntrySafety, JudgesNamesKindsAndLinkTargets) {
    // path, kind, link target, refusal (nothing: accepted)
    const std::tuple<const char*, EntryKind, const char*, std::optional<std::string>> rows[] = {
        {"./Game.app//..data/...", EntryKind::File, "", std::nullopt},
        {"a/b/c", EntryKind::SymbolicLink, "../../x", std::nullopt},
        {"/etc/passwd", EntryKind::File, "", "absolute path"},
        {"a/..", EntryKind::Folder, "", "\"..\" in the path"},
        {"tab\tname", EntryKind::File, "", "backslash or control character in the name"},
        {"copy", EntryKind::HardLink, "original", "hard link"},
        {"sock", EntryKind::Special, "", "device, FIFO or socket"},
        {".", EntryKind::SymbolicLink, "a", "names the destination itself"},
        {"etc", EntryKind::SymbolicLink, "/etc", "symbolic link to an absolute path"},
        {"link", EntryKind::SymbolicLink, "..\\x",
         "backslash or control character in the link target"},
        {"a/b/c", EntryKind::SymbolicLink, "../../../x",
         "symbolic link leads out of the destination"},
        {"link", EntryKind::SymbolicLink, "a/../..", "symbolic link target goes up after a name"},
    };
    for (const auto& [path, kind, target, refusal] : rows) {
        EXPECT_EQ(Core::Unpack::EntrySafety::refusal(path, kind, target), refusal)
            << "path " << path << " target " << target;
    }
}

} // namespace
