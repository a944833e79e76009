#include "core/unpack/Extract.h"

#include "core/unpack/EntrySafety.h"
#include "core/unpack/TreeRemoval.h"
#include "platform/Error.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;
using Core::Unpack::EntrySafety::EntryKind;

namespace {

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t old_;
};

unsigned permissionsOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

void expectUnpackFailure(const Error& error, const std::string& detailPart) {
    EXPECT_TRUE(error.is(AmCode::UnpackFailed)) << error.what();
    EXPECT_EQ(error.message(), "ditto failed with status 1");
    EXPECT_NE(error.detail().value_or("").find(detailPart), std::string::npos) << error.what();
}

// Every item under `folder`, as paths relative to it, links not followed.
std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> items;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        items.push_back(item.path().lexically_relative(folder).string());
    }
    std::sort(items.begin(), items.end());
    return items;
}

TEST(Extract, KeepsRecordedModesWithoutSpecialBitsAndUnderTheUmask) {
    struct Row {
        unsigned recorded;
        mode_t umask;
        unsigned expected;
    };
    const Row rows[] = {
        {0755, 022, 0755},  {0644, 022, 0644},  {0777, 022, 0755},  {0444, 022, 0444},
        {04755, 022, 0755}, {02755, 022, 0755}, {01777, 022, 0755}, {0755, 077, 0700},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::oct << row.recorded << " umask " << row.umask);
        TempDir dir;
        ZipBuilder()
            .folder("Game.app/Contents/MacOS/", 0750)
            .file("Game.app/Contents/MacOS/Game", "#!/bin/sh\n", row.recorded)
            .writeTo(dir / "build.zip");
        const ScopedUmask mask(row.umask);
        Core::Unpack::extract(dir / "build.zip", dir / "out");
        EXPECT_EQ(permissionsOf(dir / "out/Game.app/Contents/MacOS/Game"), row.expected);
        EXPECT_EQ(permissionsOf(dir / "out/Game.app/Contents/MacOS"), 0750 & ~row.umask);
    }
}

TEST(Extract, CreatesMissingParentsAndHandlesSpacesQuotesAndUtf8InEveryPath) {
    // The test runs under the C locale, where non-ASCII names do not convert by themselves.
    TempDir dir;
    const fs::path zip = dir / "my \"build\" 'v1' $x.zip";
    const fs::path into = dir / "a b/it's \"here\"/build";
    const std::string utf8Name = "Ashenmarch.app/caf\xC3\xA9 \xE2\x80\x94 na\xC3\xAFve.txt";
    ZipBuilder()
        .file("Ashenmarch.app/Contents/Resources/data file's \"1\".txt", "one")
        .file("Ashenmarch.app/Contents/Info.plist", "plist")
        .file(utf8Name, "two")
        .writeTo(zip);
    Core::Unpack::extract(zip, into);
    EXPECT_EQ(readFile(into / "Ashenmarch.app/Contents/Resources/data file's \"1\".txt"), "one");
    EXPECT_EQ(readFile(into / "Ashenmarch.app/Contents/Info.plist"), "plist");
    EXPECT_EQ(readFile(into / utf8Name), "two");
}

TEST(Extract, UnpacksTwiceOverTheSameTreeReplacingFilesAndLinksAndKeepingOthers) {
    TempDir dir;
    const std::string framework = "App.app/Contents/Frameworks/Kit.framework/";
    ZipBuilder()
        .file("App.app/Contents/MacOS/App", "binary", 0755)
        .file("App.app/Contents/Resources/readonly.dat", "fixed", 0444)
        .file(framework + "Versions/A/Kit", "kit code", 0755)
        .file(framework + "Versions/A/Headers/Kit.h", "header")
        .symlink(framework + "Versions/Current", "A")
        .symlink(framework + "Kit", "Versions/Current/Kit")
        .symlink(framework + "Headers", "./Versions/Current/Headers/")
        .symlink("App.app/Contents/Kit", "../Contents/Frameworks/Kit.framework/Kit")
        .writeTo(dir / "build.zip");
    const fs::path into = dir / "build";
    Core::Unpack::extract(dir / "build.zip", into);
    const std::vector<std::string> firstTree = listing(into);

    writeFile(into / "App.app/Contents/MacOS/App", "stale binary from an older build");
    writeFile(into / "App.app/Contents/Resources/saved.cfg", "player settings");
    Core::Unpack::extract(dir / "build.zip", into);

    EXPECT_EQ(readFile(into / "App.app/Contents/MacOS/App"), "binary");
    EXPECT_EQ(permissionsOf(into / "App.app/Contents/MacOS/App"), 0755);
    EXPECT_EQ(readFile(into / "App.app/Contents/Resources/readonly.dat"), "fixed");
    EXPECT_EQ(readFile(into / "App.app/Contents/Resources/saved.cfg"), "player settings");
    EXPECT_EQ(fs::read_symlink(into / framework / "Kit"), "Versions/Current/Kit");
    EXPECT_EQ(readFile(into / framework / "Headers/Kit.h"), "header");
    EXPECT_EQ(readFile(into / "App.app/Contents/Kit"), "kit code");
    fs::remove(into / "App.app/Contents/Resources/saved.cfg");
    EXPECT_EQ(listing(into), firstTree);
}

TEST(Extract, UnpacksIntoADestinationReachedThroughALink) {
    // Home or data folders often sit behind a link; only links inside the destination count.
    TempDir dir;
    fs::create_directories(dir / "disk/games");
    fs::create_directory_symlink(dir / "disk/games", dir / "games");
    ZipBuilder().file("Game.app/Contents/MacOS/Game", "run", 0755).writeTo(dir / "build.zip");
    Core::Unpack::extract(dir / "build.zip", dir / "games/build");
    EXPECT_EQ(readFile(dir / "disk/games/build/Game.app/Contents/MacOS/Game"), "run");
}

TEST(Extract, FileInTheWayOfTheDestinationIsAPosixErrorAndNothingIsUnpacked) {
    TempDir dir;
    ZipBuilder().file("Game.app/x", "x").writeTo(dir / "build.zip");
    writeFile(dir / "build", "not a folder");
    const Error error = errorOf([&] { Core::Unpack::extract(dir / "build.zip", dir / "build"); });
    EXPECT_EQ(error.domain(), "posix");
    EXPECT_NE(error.message().value_or("").find((dir / "build").string()), std::string::npos);
    EXPECT_EQ(readFile(dir / "build"), "not a folder");
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"build", "build.zip"}));
}

TEST(Extract, UnreadableArchivesFailWithTheUnpackError) {
    const std::string good = ZipBuilder()
                                 .uncompressed()
                                 .file("Game.app/data", "PAYLOAD-PAYLOAD-PAYLOAD")
                                 .file("Game.app/run", "#!/bin/sh\n", 0755)
                                 .bytes();
    std::string badChecksum = good;
    badChecksum[badChecksum.find("PAYLOAD") + 3] ^= 0x20;
    struct Row {
        const char* name;
        std::optional<std::string> bytes; // nothing: no file at all
        const char* detailPart;
    };
    const Row rows[] = {
        {"missing", std::nullopt, "cannot read archive"},
        {"garbage", std::string(4096, 'g'), "cannot read archive"},
        {"empty file", std::string(), "cannot read archive"},
        // Only the central directory records Unix modes: without it the build cannot start.
        {"cut short", good.substr(0, good.size() - 10), "cannot read archive"},
        {"cut in half", good.substr(0, good.size() / 2), "cannot read archive"},
        {"bad checksum", badChecksum, "entry \"Game.app/data\": "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        if (row.bytes) {
            writeFile(dir / "build.zip", *row.bytes);
        }
        expectUnpackFailure(errorOf([&] { Core::Unpack::extract(dir / "build.zip", dir / "out"); }),
                            row.detailPart);
        EXPECT_TRUE(fs::is_directory(dir / "out"));
    }
}

TEST(Extract, RefusesUnsafeEntriesBeforeWritingOutsideTheDestination) {
    // The destination sits in a folder of its own, so an escape by one or two levels lands
    // somewhere the test can see.
    using Build = std::function<void(ZipBuilder&, const fs::path& outside)>;
    struct Row {
        const char* name;
        Build build;
        std::string detailPart;
    };
    const Row rows[] = {
        {"parent folder", [](ZipBuilder& zip, auto&) { zip.file("../evil", "x"); },
         "\"../evil\": \"..\" in the path"},
        {"absolute path",
         [](ZipBuilder& zip, const fs::path& outside) { zip.file(outside / "evil", "x"); },
         "\": absolute path"},
        // The reader turns backslashes into slashes only in names without a slash.
        {"backslash", [](ZipBuilder& zip, auto&) { zip.file("Game.app/..\\..\\evil", "x"); },
         "\"Game.app/..\\..\\evil\": backslash or control character in the name"},
        {"control character", [](ZipBuilder& zip, auto&) { zip.file("evil\x1b[2Jname", "x"); },
         "\"evil\\x1B[2Jname\": backslash or control character in the name"},
        {"link to an absolute path", [](ZipBuilder& zip, auto&) { zip.symlink("etc", "/etc"); },
         "\"etc\": symbolic link to an absolute path"},
        {"link climbing out", [](ZipBuilder& zip, auto&) { zip.symlink("a", "../../x"); },
         "\"a\": symbolic link leads out of the destination"},
        {"file written through an archived link",
         [](ZipBuilder& zip, auto&) {
             zip.folder("real/").symlink("link", "real").file("link/evil", "x");
         },
         "\"link/evil\": path goes through the symbolic link \"link\""},
        {"link stored after the entries that pass through it",
         [](ZipBuilder& zip, auto&) {
             zip.file("Game.app/Contents/evil", "x").symlink("Game.app", "elsewhere");
         },
         "\"Game.app\": symbolic link where the archive has a folder"},
        {"file where other entries need a folder",
         [](ZipBuilder& zip, auto&) {
             zip.file("Game.app/Contents", "x").file("Game.app/Contents/Info.plist", "y");
         },
         "\"Game.app/Contents\": file where the archive has a folder"},
        {"socket", [](ZipBuilder& zip, auto&) { zip.special("socket", S_IFSOCK | 0644); },
         "\"socket\": device, FIFO or socket"},
        {"device", [](ZipBuilder& zip, auto&) { zip.special("disk", S_IFBLK | 0644); },
         "\"disk\": device, FIFO or socket"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const fs::path outside = dir / "outside";
        const fs::path into = outside / "build";
        ZipBuilder zip;
        zip.file("first.txt", "a good entry before the bad one");
        row.build(zip, outside);
        zip.writeTo(dir / "build.zip");

        const Error error = errorOf([&] { Core::Unpack::extract(dir / "build.zip", into); });
        expectUnpackFailure(error, row.detailPart);
        EXPECT_EQ(error.detail().value_or("").rfind("unsafe entry \"", 0), 0u);
        // Every entry is checked before the first is written: not even the good one is there.
        EXPECT_EQ(listing(dir.path()),
                  (std::vector<std::string>{"build.zip", "outside", "outside/build"}));
    }
}

TEST(Extract, RefusesToWriteThroughALinkAlreadyInTheDestination) {
    TempDir dir;
    const fs::path outside = dir / "outside";
    const fs::path into = dir / "build";
    fs::create_directories(outside);
    fs::create_directories(into);
    fs::create_directory_symlink(outside, into / "Game.app");
    ZipBuilder().file("Game.app/Contents/evil", "x").writeTo(dir / "build.zip");

    expectUnpackFailure(errorOf([&] { Core::Unpack::extract(dir / "build.zip", into); }),
                        "unsafe entry \"Game.app/Contents/evil\": path goes through the symbolic "
                        "link \"Game.app\"");
    EXPECT_TRUE(fs::is_empty(outside));
}

TEST(Extract, ManyFilesSharedOutAmongThreadsMatchTheArchiveAndTheLastOfRepeatedNamesWins) {
    // Enough files for every thread to get some; sizes from empty to several read blocks, some
    // incompressible, so entries end mid-block and span blocks.
    std::mt19937 random(7);
    ZipBuilder zip;
    std::map<std::string, std::pair<std::string, unsigned>> expected;
    for (int i = 0; i < 240; ++i) {
        const std::string name =
            "Game.app/Contents/part" + std::to_string(i % 7) + "/file" + std::to_string(i) + ".dat";
        std::string content(i % 40 == 0 ? 300000 + i : i * 37, 'a');
        if (i % 3 == 0) {
            std::generate(content.begin(), content.end(),
                          [&] { return static_cast<char>(random()); });
        }
        const unsigned mode = i % 2 == 0 ? 0644 : 0755;
        zip.file(name, content, mode);
        expected[name] = {content, mode};
    }
    zip.file("Game.app/Contents/part0/file0.dat", "the later copy", 0600);
    expected["Game.app/Contents/part0/file0.dat"] = {"the later copy", 0600};
    TempDir dir;
    zip.writeTo(dir / "build.zip");
    const ScopedUmask mask(022);

    Core::Unpack::extract(dir / "build.zip", dir / "out");
    for (const auto& [name, file] : expected) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readFile(dir / "out" / name), file.first);
        EXPECT_EQ(permissionsOf(dir / "out" / name), file.second);
    }
}

TEST(Extract, DamagedEntryAmongManyFailsWithItsName) {
    ZipBuilder zip;
    zip.uncompressed();
    // Ten folders, so the files are shared out among threads.
    for (int i = 0; i < 200; ++i) {
        zip.file("Game.app/d" + std::to_string(i / 20) + "/f" + std::to_string(i),
                 "PAYLOAD-" + std::to_string(i) + "-END");
    }
    std::string bytes = zip.bytes();
    bytes[bytes.find("PAYLOAD-150-END") + 2] ^= 0x20;
    TempDir dir;
    writeFile(dir / "build.zip", bytes);
    expectUnpackFailure(errorOf([&] { Core::Unpack::extract(dir / "build.zip", dir / "out"); }),
                        "entry \"Game.app/d7/f150\": ");
}

TEST(Extract, ReplacesLinksAndHardLinksInTheDestinationWithoutWritingThroughThem) {
    TempDir dir;
    writeFile(dir / "outside/kept.txt", "outside data");
    fs::create_directories(dir / "build/Game.app");
    fs::create_hard_link(dir / "outside/kept.txt", dir / "build/Game.app/hard");
    fs::create_symlink(dir / "outside/kept.txt", dir / "build/Game.app/soft");
    ZipBuilder()
        .file("Game.app/hard", "new hard")
        .file("Game.app/soft", "new soft")
        .writeTo(dir / "build.zip");

    Core::Unpack::extract(dir / "build.zip", dir / "build");
    EXPECT_EQ(readFile(dir / "build/Game.app/hard"), "new hard");
    EXPECT_EQ(readFile(dir / "build/Game.app/soft"), "new soft");
    EXPECT_FALSE(fs::is_symlink(dir / "build/Game.app/soft"));
    EXPECT_EQ(readFile(dir / "outside/kept.txt"), "outside data");
}

TEST(Extract, FoldersWithoutWriteAccessAreUnpackedOverAndRemoved) {
    // Root may write anywhere; a player may not, so this runs as one.
    TempDir dir;
    handToUnprivilegedUser(dir.path());
    runUnprivileged([&] {
        for (const unsigned mode : {0555u, 0000u}) {
            SCOPED_TRACE(testing::Message() << std::oct << mode);
            ZipBuilder()
                .folder("Game.app/sealed/", mode)
                .file("Game.app/sealed/data", "x")
                .symlink("Game.app/sealed/alias", "data")
                .writeTo(dir / "build.zip");
            const ScopedUmask mask(022);
            for (int pass = 1; pass <= 2; ++pass) { // the second over the first
                Core::Unpack::extract(dir / "build.zip", dir / "out");
                EXPECT_EQ(permissionsOf(dir / "out/Game.app/sealed"), mode);
            }
            if (mode != 0) {
                EXPECT_EQ(readFile(dir / "out/Game.app/sealed/alias"), "x");
            }
            Core::Unpack::removeTree(dir / "out");
            EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "out")));
        }
    });
}

TEST(EntrySafety, JudgesNamesKindsAndLinkTargets) {
    struct Row {
        const char* path;
        EntryKind kind;
        const char* target;
        std::optional<std::string> refusal;
    };
    const Row rows[] = {
        {"Game.app/Contents/MacOS/Game", EntryKind::File, "", std::nullopt},
        {"./Game.app//Contents/", EntryKind::Folder, "", std::nullopt},
        {"./", EntryKind::Folder, "", std::nullopt},
        {"..data/...", EntryKind::File, "", std::nullopt},
        {"a/b/c", EntryKind::SymbolicLink, "../../x", std::nullopt},
        {"a/b/c", EntryKind::SymbolicLink, "../..", std::nullopt},
        {"a/Current", EntryKind::SymbolicLink, "./A/", std::nullopt},
        {"", EntryKind::File, "", "empty name"},
        {"a/..", EntryKind::Folder, "", "\"..\" in the path"},
        {"tab\tname", EntryKind::File, "", "backslash or control character in the name"},
        {"del\x7f", EntryKind::File, "", "backslash or control character in the name"},
        {"copy", EntryKind::HardLink, "original", "hard link"},
        {"sock", EntryKind::Special, "", "device, FIFO or socket"},
        {"./", EntryKind::File, "", "names the destination itself"},
        {".", EntryKind::SymbolicLink, "a", "names the destination itself"},
        {"link", EntryKind::SymbolicLink, "", "symbolic link without a target"},
        {"link", EntryKind::SymbolicLink, "..\\x",
         "backslash or control character in the link target"},
        {"link", EntryKind::SymbolicLink, "..", "symbolic link leads out of the destination"},
        {"link", EntryKind::SymbolicLink, "a/../..", "symbolic link target goes up after a name"},
        {"a/link", EntryKind::SymbolicLink, "../b/../c",
         "symbolic link target goes up after a name"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Core::Unpack::EntrySafety::refusal(row.path, row.kind, row.target), row.refusal)
            << "path " << row.path << " target " << row.target;
    }
}

} // namespace

namespace {

// Rewrites every recorded uncompressed size of a one-entry zip (local header, data descriptor,
// central directory) to `declared`, leaving the compressed data as it is.
std::string withDeclaredSize(std::string zip, std::uint32_t declared) {
    const auto patch = [&](const std::string& signature, std::size_t offset) {
        for (std::size_t at = zip.find(signature); at != std::string::npos;
             at = zip.find(signature, at + 4)) {
            for (int i = 0; i < 4; ++i) {
                zip[at + offset + i] = static_cast<char>((declared >> (8 * i)) & 0xFF);
            }
        }
    };
    patch(std::string("PK\x03\x04", 4), 22);
    patch(std::string("PK\x07\x08", 4), 12);
    patch(std::string("PK\x01\x02", 4), 24);
    return zip;
}

// The hook sees what will be written, once every entry has passed its checks and before any
// of them is written; what it throws ends the unpacking there.
TEST(Extract, HookBeforeWritingSeesTheDeclaredBytesAndMayStopIt) {
    TempDir dir;
    ZipBuilder()
        .folder("Ashenmarch.app/")
        .file("Ashenmarch.app/a", std::string(1000, 'x'))
        .file("Ashenmarch.app/b", std::string(234, 'y'))
        .file("Ashenmarch.app/a", std::string(10, 'z')) // the later entry wins
        .writeTo(dir / "build.zip");
    std::optional<std::uint64_t> seen;
    const Error error = errorOf([&] {
        Core::Unpack::extract(dir / "build.zip", dir / "out", [&](std::uint64_t bytes) {
            seen = bytes;
            throw Error::am(AmCode::NotEnoughSpace, "not enough disk space");
        });
    });
    EXPECT_EQ(seen, 244u);
    EXPECT_TRUE(error.is(AmCode::NotEnoughSpace));
    EXPECT_TRUE(listing(dir / "out").empty());

    // An archive that fails its checks never reaches the hook.
    ZipBuilder().file("../escape", "x").writeTo(dir / "unsafe.zip");
    seen.reset();
    errorOf([&] {
        Core::Unpack::extract(dir / "unsafe.zip", dir / "out",
                              [&](std::uint64_t bytes) { seen = bytes; });
    });
    EXPECT_FALSE(seen);
}

} // namespace

TEST(Extract, AnEntryInflatingPastItsDeclaredSizeFailsBeforeWritingTheExcess) {
    TempDir dir;
    const std::string bomb = withDeclaredSize(
        ZipBuilder().file("Game.app/pack.dat", std::string(4 << 20, 'x')).bytes(), 1000);
    writeFile(dir / "bomb.zip", bomb);
    const Error error = errorOf([&] { Core::Unpack::extract(dir / "bomb.zip", dir / "out"); });
    EXPECT_TRUE(error.is(AmCode::UnpackFailed)) << error.fullDescription();
    std::error_code missing;
    EXPECT_LE(fs::file_size(dir / "out/Game.app/pack.dat", missing), 1000u);
}
