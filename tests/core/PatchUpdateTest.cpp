#include "core/PatchUpdate.h"

#include "core/unpack/ArchiveIndex.h"
#include "core/unpack/Extract.h"
#include "core/unpack/PatchPlan.h"
#include "core/unpack/PatchStaging.h"
#include "core/unpack/ProcessUmask.h"
#include "core/unpack/VerifyInstall.h"
#include "core/unpack/ZipRecords.h"
#include "support/ErrorOf.h"
#include "support/LoopbackServer.h"
#include "support/PatchRelease.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace Core::Unpack;
using Core::Transfer::RangeOutcome;

namespace {

// Full unpacking applies the process's umask; staging is given the same one to compare.
const mode_t Umask = processUmask();

const std::string script = "#!/bin/sh\nexec ./data\n";
std::string payload(char seed) {
    std::string bytes;
    for (int i = 0; i < 50000; ++i) {
        bytes += static_cast<char>(seed + i % 7 * (i % 13));
    }
    return bytes;
}

ZipBuilder build(char seed) {
    return ZipBuilder()
        .folder("Game.app/", 0750)
        .file("Game.app/run", script, 0755)
        .file("Game.app/data", payload(seed))
        .symlink("Game.app/current", "run");
}

// An archive on disk with the index a publisher derives from it.
struct Published {
    Published(const TempDir& dir, const std::string& name, const ZipBuilder& zip)
        : path(dir / name) {
        zip.writeTo(path);
        bytes = readFile(path);
        index = indexArchive(path);
    }
    const IndexEntry& entry(const std::string& entryPath) const {
        for (const IndexEntry& entry : index.entries) {
            if (entry.path == entryPath) {
                return entry;
            }
        }
        throw std::out_of_range(entryPath);
    }
    std::string record(const IndexEntry& entry) const {
        return bytes.substr(static_cast<std::size_t>(entry.span.offset),
                            static_cast<std::size_t>(entry.span.length));
    }

    fs::path path;
    std::string bytes;
    FileIndex index;
};

// The bytes with one of them changed.
std::string flipped(std::string bytes, std::size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x55);
    return bytes;
}

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Files, links and folders below `root`, with content and mode, for comparing whole trees.
std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string mode = std::to_string(modeOf(item.path()));
        tree[item.path().lexically_relative(root).string()] =
            item.is_symlink()     ? "link " + fs::read_symlink(item.path()).string()
            : item.is_directory() ? "folder " + mode
                                  : "file " + mode + " " + readFile(item.path());
    }
    return tree;
}

// Stages the whole index from the archive's records, as a patch fetching everything would.
void stageAll(const Published& archive, const fs::path& into) {
    fs::create_directories(into);
    const DestinationFolder staging(into);
    for (const IndexEntry& entry : archive.index.entries) {
        if (entry.kind != IndexKind::Folder) {
            stageRecord(staging, entry, archive.record(entry), Umask);
        }
    }
    finishFolders(archive.index, staging, Umask);
}

TEST(PatchUpdate, StagedRecordsMatchFullUnpacking) {
    TempDir dir;
    for (ZipBuilder zip : {build('a'), build('a').uncompressed(), build('a').zip64()}) {
        const Published archive(dir, "game.zip", zip);
        fs::remove_all(dir / "staged");
        fs::remove_all(dir / "unpacked");
        stageAll(archive, dir / "staged");
        Core::Unpack::extract(archive.path, dir / "unpacked");
        EXPECT_EQ(treeOf(dir / "staged"), treeOf(dir / "unpacked"));
        EXPECT_EQ(modeOf(dir / "staged/Game.app/run"), 0755 & ~Umask);
    }
}

TEST(PatchUpdate, StagesARecordOnlyWhenItIsExactlyTheIndexedEntry) {
    TempDir dir;
    const Published archive(dir, "game.zip", build('a'));
    const IndexEntry run = archive.entry("Game.app/run");
    const std::string runRecord = archive.record(run);
    ZipBuilder().symlink("out", "../../x").writeTo(dir / "escape.zip");
    const ZipFile escapeZip(dir / "escape.zip");
    const IndexEntry escape{
        "out", IndexKind::Link,     0777,
        7,     sha256Of("../../x"), escapeZip.recordSpan(escapeZip.entries()[0]),
        {}};

    const struct {
        const char* name;
        IndexEntry entry;
        std::string record;
        AmCode code;
    } cases[] = {
        // 20 bytes from the end lies before the 16-byte data descriptor, in the data.
        {"a byte of the data changed", run, flipped(runRecord, runRecord.size() - 20),
         AmCode::ChecksumMismatch},
        {"the record of another entry", run, archive.record(archive.entry("Game.app/data")),
         AmCode::ChecksumMismatch},
        {"content hashing differently",
         {run.path, run.kind, 0755, run.size, sha256Of("x"), run.span, {}},
         runRecord,
         AmCode::ChecksumMismatch},
        {"more content than indexed",
         {run.path, run.kind, 0755, run.size - 1, run.sha256, run.span, {}},
         runRecord,
         AmCode::ChecksumMismatch},
        {"less content than indexed",
         {run.path, run.kind, 0755, run.size + 1, run.sha256, run.span, {}},
         runRecord,
         AmCode::ChecksumMismatch},
        {"record cut short", run, runRecord.substr(0, runRecord.size() / 2),
         AmCode::ChecksumMismatch},
        {"bytes after the record", run, runRecord + "trailing bytes beyond any descriptor",
         AmCode::ChecksumMismatch},
        {"unsafe path",
         {"../run", run.kind, 0755, run.size, run.sha256, run.span, {}},
         runRecord,
         AmCode::UnpackFailed},
        {"link leading out", escape, readFile(dir / "escape.zip").substr(0, escape.span.length),
         AmCode::UnpackFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "staging");
        fs::create_directories(dir / "staging");
        const DestinationFolder staging(dir / "staging");
        const Error error = errorOf([&] { stageRecord(staging, c.entry, c.record, Umask); });
        EXPECT_TRUE(error.is(c.code)) << error.fullDescription();
        // Nothing half-written stays, under the final name or a temporary one.
        for (const auto& item : fs::recursive_directory_iterator(dir.path())) {
            EXPECT_TRUE(item.is_directory() || item.path().extension() == ".zip") << item.path();
        }
    }
}

TEST(PatchUpdate, VerifyNamesWhatIsMissingChangedOrUnexpected) {
    TempDir dir;
    const Published archive(
        dir, "game.zip",
        build('a').file("Game.app/lib/a", "a").file("Game.app/lib/b", "b").file("Game.app/c", "c"));
    stageAll(archive, dir / "build");
    EXPECT_TRUE(verifyInstall(archive.index, dir / "build").intact());

    fs::remove(dir / "build/Game.app/lib/a");
    writeFile(dir / "build/Game.app/lib/b", "B");
    fs::permissions(dir / "build/Game.app/run", fs::perms::owner_exec, fs::perm_options::remove);
    fs::remove(dir / "build/Game.app/current");
    fs::create_symlink("data", dir / "build/Game.app/current");
    fs::remove(dir / "build/Game.app/c");
    fs::create_directory(dir / "build/Game.app/c");
    writeFile(dir / "build/Game.app/mods/cheat/x", "x");
    writeFile(dir / "build/stray", "x");

    const InstallCheck check = verifyInstall(archive.index, dir / "build");
    EXPECT_EQ(check.missing, std::vector<std::string>{"Game.app/lib/a"});
    EXPECT_EQ(check.changed, (std::vector<std::string>{"Game.app/c", "Game.app/current",
                                                       "Game.app/lib/b", "Game.app/run"}));
    EXPECT_EQ(check.unexpected, (std::vector<std::string>{"Game.app/mods", "stray"}));
}

TEST(PatchUpdate, FetchesPlannedRecordsByRangeOverOneConnection) {
    TempDir dir;
    const Published archive(dir, "game.zip",
                            ZipBuilder()
                                .file("Game.app/run", script, 0755)
                                .file("Game.app/skipped", noise(Core::Transfer::CoalesceGap, 1))
                                .file("Game.app/data", payload('a'))
                                .symlink("Game.app/current", "run"));
    const auto position = [&](const std::string& path) {
        return static_cast<std::size_t>(&archive.entry(path) - archive.index.entries.data());
    };
    // run, then (far past the skipped entry) data and current, whose records touch.
    PatchPlan plan;
    plan.fetch = {position("Game.app/run"), position("Game.app/data"),
                  position("Game.app/current")};
    const ByteSpan run = archive.entry("Game.app/run").span;
    const ByteSpan data = archive.entry("Game.app/data").span;
    const ByteSpan current = archive.entry("Game.app/current").span;
    const auto rangeOf = [](std::int64_t first, std::int64_t end) {
        return "bytes=" + std::to_string(first) + "-" + std::to_string(end - 1);
    };
    const std::size_t cut = static_cast<std::size_t>(data.offset + 100);

    const struct {
        const char* name;
        std::vector<FileAnswer> answers;
        int curlError; // else the outcome
        RangeOutcome outcome;
        std::vector<std::string> ranges;
    } cases[] = {
        {"ranges honoured",
         {{.body = archive.bytes}},
         0,
         RangeOutcome::Fetched,
         {rangeOf(run.offset, run.end()), rangeOf(data.offset, current.end())}},
        {"dropped and resumed",
         {{.body = archive.bytes}, {.body = archive.bytes, .cutAt = cut}, {.body = archive.bytes}},
         0,
         RangeOutcome::Fetched,
         {rangeOf(run.offset, run.end()), rangeOf(data.offset, current.end()),
          rangeOf(static_cast<std::int64_t>(cut), current.end())}},
        {"another range answered",
         {{.body = archive.bytes, .misplacedRange = true}},
         0,
         RangeOutcome::RangesUnsupported,
         {rangeOf(run.offset, run.end())}},
        {"more bytes than asked",
         {{.body = archive.bytes, .extraBytes = 10}},
         CURLE_WEIRD_SERVER_REPLY,
         {},
         {rangeOf(run.offset, run.end())}},
        {"cut every time",
         {{.body = archive.bytes}, {.body = archive.bytes, .cutAt = cut}},
         CURLE_PARTIAL_FILE,
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        server.serveFile("/game.zip", c.answers);
        Manifest manifest;
        manifest.url = server.url("/game.zip");
        manifest.size = static_cast<std::int64_t>(archive.bytes.size());
        Core::Transfer::TransferOptions options = loopbackTransferOptions();
        options.retryDelays = {std::chrono::milliseconds(1)};
        fs::remove_all(dir / "staging");
        fs::create_directories(dir / "staging");
        const DestinationFolder staging(dir / "staging");
        const auto fetch = [&] {
            return Core::fetchPatch(manifest, archive.index, plan, staging, Umask, options);
        };
        if (c.curlError != 0) {
            const Error error = errorOf(fetch);
            EXPECT_TRUE(error.domain() == "curl" && error.code() == c.curlError)
                << error.fullDescription();
        } else {
            EXPECT_EQ(fetch(), c.outcome);
        }
        const std::vector<RecordedRequest> requests = server.requests();
        std::vector<std::string> ranges;
        for (const RecordedRequest& request : requests) {
            ranges.push_back(request.header("Range").value_or("none"));
            EXPECT_FALSE(request.header("If-Range"));
        }
        if (!c.ranges.empty()) {
            EXPECT_EQ(ranges, c.ranges);
        }
        if (c.outcome == RangeOutcome::Fetched && c.curlError == 0) {
            EXPECT_EQ(readFile(dir / "staging/Game.app/data"), payload('a'));
            EXPECT_EQ(fs::read_symlink(dir / "staging/Game.app/current"), "run");
            EXPECT_FALSE(fs::exists(dir / "staging/Game.app/skipped"));
            ASSERT_GE(requests.size(), 2u);
            EXPECT_EQ(requests[0].clientPort, requests[1].clientPort) << "connection kept";
        }
    }
}

} // namespace
