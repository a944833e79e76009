// A patch's parts below the release run: staging a record gives what full unpacking gives or
// nothing, and verifying names every kind of damage.
#include "core/PatchUpdate.h"

#include "core/unpack/Extract.h"
#include "core/unpack/PatchStaging.h"
#include "core/unpack/ProcessUmask.h"
#include "core/unpack/VerifyInstall.h"
#include "core/unpack/ZipRecords.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/PatchRelease.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace Core::Unpack;

namespace {

// Full unpacking applies the process's umask; staging is given the same one to compare.
const mode_t Umask = processUmask();

ZipBuilder build() {
    return ZipBuilder()
        .folder("Game.app/", 0750)
        .file("Game.app/run", "#!/bin/sh\nexec ./data\n", 0755)
        .file("Game.app/data", std::string(50000, 'd'))
        .symlink("Game.app/current", "run");
}

class PatchUpdate : public ::testing::Test {
protected:
    TempDir dir;
    LoopbackServer server;

    static std::string record(const PatchRelease& release, const IndexEntry& entry) {
        return release.archive.substr(static_cast<std::size_t>(entry.span.offset),
                                      static_cast<std::size_t>(entry.span.length));
    }

    // Stages the whole index from the archive's records, as a patch fetching everything would.
    static void stageAll(const PatchRelease& release, const fs::path& into) {
        fs::create_directories(into);
        const DestinationFolder staging(into);
        for (const IndexEntry& entry : release.index.entries) {
            if (entry.kind != IndexKind::Folder) {
                stageRecord(staging, entry, record(release, entry), Umask);
            }
        }
        finishFolders(release.index, staging, Umask);
    }
};

// Files, links and folders below `root`, with kind, mode and content, for comparing whole trees.
std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        struct stat info {};
        ::lstat(item.path().c_str(), &info);
        tree[item.path().lexically_relative(root).string()] =
            std::to_string(info.st_mode) + " " +
            (item.is_symlink()        ? fs::read_symlink(item.path()).string()
             : item.is_regular_file() ? readFile(item.path())
                                      : "");
    }
    return tree;
}

TEST_F(PatchUpdate, StagesARecordOnlyWhenItIsExactlyTheIndexedEntry) {
    const PatchRelease release(server, "2.0", build());
    const IndexEntry run = release.entry("Game.app/run");
    const std::string runRecord = record(release, run);
    const auto edited = [&](const std::function<void(IndexEntry&)>& edit) {
        IndexEntry entry = run;
        edit(entry);
        return entry;
    };
    ZipBuilder().symlink("out", "../../x").writeTo(dir / "escape.zip");
    const ZipFile escapeZip(dir / "escape.zip");
    const ByteSpan escapeSpan = escapeZip.recordSpan(escapeZip.entries()[0]);
    const IndexEntry escape{"out", IndexKind::Link, 0777, 7, sha256Of("../../x"), escapeSpan, {}};
    std::string changedByte = runRecord;
    changedByte[runRecord.size() - 20] ^= 0x55; // before the 16-byte data descriptor
    const std::tuple<const char*, IndexEntry, std::string, AmCode> cases[] = {
        {"a byte of the data changed", run, changedByte, AmCode::ChecksumMismatch},
        {"the record of another entry", run, record(release, release.entry("Game.app/data")),
         AmCode::ChecksumMismatch},
        {"content hashing differently", edited([](IndexEntry& e) { e.sha256 = sha256Of("x"); }),
         runRecord, AmCode::ChecksumMismatch},
        {"more content than indexed", edited([](IndexEntry& e) { --e.size; }), runRecord,
         AmCode::ChecksumMismatch},
        {"record cut short", run, runRecord.substr(0, runRecord.size() / 2),
         AmCode::ChecksumMismatch},
        {"bytes after the record", run, runRecord + "trailing bytes beyond any descriptor",
         AmCode::ChecksumMismatch},
        {"unsafe path", edited([](IndexEntry& e) { e.path = "../run"; }), runRecord,
         AmCode::UnpackFailed},
        {"link leading out", escape, readFile(dir / "escape.zip").substr(0, escapeSpan.length),
         AmCode::UnpackFailed},
    };
    for (const auto& [name, entry, bytes, code] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(dir / "staging");
        fs::create_directories(dir / "staging");
        const Error error =
            errorOf([&] { stageRecord(DestinationFolder(dir / "staging"), entry, bytes, Umask); });
        EXPECT_TRUE(error.is(code)) << error.fullDescription();
        // Nothing half-written stays, under the final name or a temporary one.
        for (const auto& item : fs::recursive_directory_iterator(dir.path())) {
            EXPECT_TRUE(item.is_directory() || item.path().extension() == ".zip") << item.path();
        }
    }
}

// Staging every record, stored, deflated or zip64, gives the tree full unpacking gives; verifying
// that tree then names every kind of damage.
TEST_F(PatchUpdate, StagedRecordsMatchFullUnpackingAndVerifyNamesAnyDamage) {
    const ZipBuilder full =
        build().file("Game.app/lib/a", "a").file("Game.app/lib/b", "b").file("Game.app/c", "c");
    std::optional<PatchRelease> release;
    for (ZipBuilder zip : {ZipBuilder(full).uncompressed(), ZipBuilder(full).zip64(), full}) {
        release.emplace(server, "2.0", zip);
        fs::remove_all(dir / "build");
        fs::remove_all(dir / "unpacked");
        stageAll(*release, dir / "build");
        writeFile(dir / "game.zip", release->archive);
        Core::Unpack::extract(dir / "game.zip", dir / "unpacked");
        EXPECT_EQ(treeOf(dir / "build"), treeOf(dir / "unpacked"));
        EXPECT_TRUE(verifyInstall(release->index, dir / "build").intact());
    }
    const fs::path game = dir / "build/Game.app";
    fs::remove(game / "lib/a");
    writeFile(game / "lib/b", "B");
    fs::permissions(game / "run", fs::perms::owner_exec, fs::perm_options::remove);
    fs::remove(game / "current");
    fs::create_symlink("data", game / "current");
    fs::remove(game / "c");
    fs::create_directory(game / "c");
    writeFile(game / "mods/cheat/x", "x");
    writeFile(dir / "build/stray", "x");

    const InstallCheck check = verifyInstall(release->index, dir / "build");
    EXPECT_EQ(check.missing, std::vector<std::string>{"Game.app/lib/a"});
    EXPECT_EQ(check.changed, (std::vector<std::string>{"Game.app/c", "Game.app/current",
                                                       "Game.app/lib/b", "Game.app/run"}));
    EXPECT_EQ(check.unexpected, (std::vector<std::string>{"Game.app/mods", "stray"}));
}

} // namespace
