// The release run as both modes share it, driven without a front end: its steps by policy, what
// fails it without harming the installed build, and recovery from a crash.
#include "core/ReleaseRun.h"

#include "core/install/InstallLock.h"
#include "core/install/InstallStore.h"
#include "core/trust/Sha256.h"
#include "core/unpack/VerifyInstall.h"
#include "support/InterruptedUpdate.h"
#include "support/LoopbackServer.h"
#include "support/PatchRelease.h"
#include "support/TempDir.h"
#include "support/TestKeyPair.h"
#include "support/Unprivileged.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

// What the run told its front end, a word per call (progress left out: its count varies).
class Recorder final : public Core::RunObserver {
public:
    void checking() override { events += "checking"; }
    void manifestRead(const Manifest&) override { events += " read"; }
    void manifestAccepted(const Manifest&) override { events += " accepted"; }
    void changelogRead(const Changelog& entries) override {
        events += " changelog" + std::to_string(entries.size());
        if (throwOnChangelog) {
            throw std::runtime_error("front end failed");
        }
    }
    void downloadStarted(const std::string&, const Core::Download& planned) override {
        events += planned.kind == Core::Download::Kind::Patch ? " patch" : " download";
    }
    void downloaded(const Core::Download& done, bool checksumMatched) override {
        events += checksumMatched ? " downloaded+checksum" : " downloaded";
        fetched = done;
    }
    void installing(const std::string&) override { events += " installing"; }
    void staged(const Core::Install::StagedBuild&) override { events += " staged"; }
    void committed(const std::string& version) override { events += " committed" + version; }
    void reExtracted() override { events += " re-extracted"; }
    void finished(const Core::RunResult&) override { events += " finished"; }

    std::string events;
    Core::Download fetched;
    bool throwOnChangelog = false;
};

Core::RunPolicy selfCheckPolicy() {
    Core::RunPolicy policy;
    policy.reExtract = true;
    policy.requireChangelog = true;
    return policy;
}

Core::RunPolicy windowPolicy() {
    Core::RunPolicy policy;
    policy.stopWhenCurrent = true;
    policy.requireExecutable = true;
    return policy;
}

// Public: the tables' set-up steps use it.
class ReleaseRun : public ::testing::Test {
public:
    TempDir dir;
    fs::path root = dir / "install";
    Core::Install::InstallLayout layout{root};
    LoopbackServer server;
    std::string archive = ZipBuilder().file(gameFile, "game 2.0", 0755).bytes();
    Recorder recorder;
    Core::Trust::ReleaseKeys keys;
    std::optional<Core::Install::InstallLock> otherLauncher;

    // Publishes 2.0 and returns the manifest's text; `extra` holds more manifest lines.
    std::string publish(const std::string& extra = {}) {
        const std::string manifest =
            "version=2.0\nmacurl=" + server.url("/build.zip") + "\n" + extra;
        server.serve("/latest.txt", manifest);
        server.serve("/changelog.txt", "## 2.0\n");
        server.serve("/build.zip", archive);
        return manifest;
    }

    std::string checksumLine(std::string_view bytes) const {
        Core::Trust::Sha256 hash;
        hash.update(bytes);
        return "macsha256=" + hash.hexDigest() + "\n";
    }

    void installOld() {
        writeFile(root / "build" / gameFile, "game 1.0");
        writeFile(root / "installed.txt", "1.0");
    }

    Core::RunResult run(const Core::RunPolicy& policy) {
        recorder.events.clear();
        const ReleaseEndpoints endpoints{server.url("/latest.txt"), server.url("/changelog.txt")};
        return Core::ReleaseRun{layout, endpoints, policy, loopbackTransferOptions(), keys}.run(
            recorder);
    }
};

TEST_F(ReleaseRun, EachPolicyTakesItsSteps) {
    const TestKeyPair studio;
    struct Case {
        const char* name;
        Core::RunPolicy policy;
        const char* installed; // nullptr: nothing installed
        bool signedRelease;
        Core::RunOutcome outcome;
        const char* events;
    };
    const Case cases[] = {
        {"self-check", selfCheckPolicy(), "2.0", false, Core::RunOutcome::Installed,
         "checking read accepted changelog1 download downloaded installing staged committed2.0 "
         "re-extracted finished"},
        {"window, current", windowPolicy(), "2.0", false, Core::RunOutcome::Current,
         "checking read accepted changelog1 finished"},
        {"window, update", windowPolicy(), "1.0", false, Core::RunOutcome::Installed,
         "checking read accepted changelog1 download downloaded installing staged committed2.0 "
         "finished"},
        {"window, first install, signed", windowPolicy(), nullptr, true,
         Core::RunOutcome::Installed,
         "checking read accepted changelog1 download downloaded+checksum installing staged "
         "committed2.0 finished"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root);
        if (c.installed != nullptr) {
            writeFile(root / "build" / gameFile, std::string("game ") + c.installed);
            writeFile(root / "installed.txt", c.installed);
        }
        const std::string manifest = publish(c.signedRelease ? checksumLine(archive) : "");
        server.serve("/latest.txt.sig", studio.sign(manifest));
        keys = c.signedRelease ? studio.keys() : Core::Trust::ReleaseKeys{};
        const Core::RunResult result = run(c.policy);
        EXPECT_EQ(recorder.events, c.events);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.installedVersion, "2.0");
        expectOneSettledBuild(root, "2.0", "game 2.0");
    }
}

TEST_F(ReleaseRun, FailuresLeaveTheInstalledBuildAsItWas) {
    const TestKeyPair studio;
    struct Case {
        const char* name;
        std::function<void(ReleaseRun&)> arrange;
        AmCode code;
        bool archiveRequested;
        const char* message = nullptr;
    };
    const auto serveBundle = [](ZipBuilder zip) {
        return [zip](ReleaseRun& t) {
            t.server.serve("/build.zip", zip.bytes());
        };
    };
    const char* const noExecutable =
        "download did not contain Ashenmarch.app/Contents/MacOS/ASHENMARCH";
    const Case cases[] = {
        {"archive not found", [](ReleaseRun& t) { t.server.serve("/build.zip", "gone", 404); },
         AmCode::HttpStatus, true},
        {"not a zip", [](ReleaseRun& t) { t.server.serve("/build.zip", "PK\x03\x04 not a zip"); },
         AmCode::UnpackFailed, true},
        {"entry leaving the folder",
         [](ReleaseRun& t) {
             t.server.serve("/build.zip", ZipBuilder().file("../../escaped.txt", "x").bytes());
         },
         AmCode::UnpackFailed, true},
        {"other bundle",
         [](ReleaseRun& t) {
             t.server.serve("/build.zip", ZipBuilder().file("Other.app/x", "x").bytes());
         },
         AmCode::MissingBundle, true},
        {"bundle is a plain file", serveBundle(ZipBuilder().file("Ashenmarch.app", "x")),
         AmCode::MissingBundle, true, noExecutable},
        {"checksum mismatch", [](ReleaseRun& t) { t.publish(t.checksumLine("other bytes")); },
         AmCode::ChecksumMismatch, true},
        {"too large for the disk",
         [](ReleaseRun& t) { t.publish("macsize=1152921504606846976\n"); }, AmCode::NotEnoughSpace,
         false},
        {"unsigned release, signing build",
         [&studio](ReleaseRun& t) {
             t.publish(t.checksumLine(t.archive));
             t.keys = studio.keys();
         },
         AmCode::BadSignature, false},
        {"another launcher updating",
         [](ReleaseRun& t) {
             writeFile(t.root / "build.staging" / gameFile, "the other launcher's work");
             t.otherLauncher.emplace(t.layout);
         },
         AmCode::InstallLocked, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        installOld();
        publish();
        keys = {};
        c.arrange(*this);
        const int requestsBefore = server.requestsFor("/build.zip");
        const Core::RunResult result = run(windowPolicy());

        EXPECT_EQ(result.outcome, Core::RunOutcome::Failed);
        ASSERT_TRUE(result.error);
        EXPECT_TRUE(result.error->is(c.code)) << result.error->fullDescription();
        if (c.message != nullptr) {
            EXPECT_EQ(result.error->message(), c.message);
        }
        EXPECT_EQ(result.installedVersion, "1.0");
        EXPECT_EQ(server.requestsFor("/build.zip") > requestsBefore, c.archiveRequested);
        EXPECT_EQ(readFile(root / "build" / gameFile), "game 1.0");
        EXPECT_EQ(readFile(root / "installed.txt"), "1.0");
        EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
        EXPECT_EQ(fs::exists(root / "build.staging"), otherLauncher.has_value());
        otherLauncher.reset();
        fs::remove_all(root);
    }
}

// A signature says who published a release, not that it is the newest: whoever holds the host
// could serve an older signed pair again.
TEST_F(ReleaseRun, AnOlderSignedReleaseIsRefusedOnceANewerOneWasAccepted) {
    const TestKeyPair studio;
    struct Case {
        const char* name;
        Core::RunPolicy policy;
        bool firstFoundCurrent; // 2.0 was installed before, without the record
        const char* released;   // of the 1.0 manifest served next; "" for none
        const char* installed;  // what the second run leaves
    };
    const Case cases[] = {
        {"window, older", windowPolicy(), false, "2026-01-01T00:00:00Z", "2.0"},
        {"self-check, older, after a check that found 2.0 current", selfCheckPolicy(), true,
         "2026-01-01T00:00:00Z", "2.0"},
        {"window, not saying when", windowPolicy(), false, "", "2.0"},
        {"window, 1.0 published again later", windowPolicy(), false, "2026-09-01T00:00:00Z", "1.0"},
    };
    const auto serveSigned = [&](const std::string& manifest) {
        server.serve("/latest.txt", manifest);
        server.serve("/latest.txt.sig", studio.sign(manifest));
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root);
        keys = studio.keys();
        if (c.firstFoundCurrent) {
            writeFile(root / "build" / gameFile, "game 2.0");
            writeFile(root / "installed.txt", "2.0");
        }
        serveSigned(publish(checksumLine(archive) + "released=2026-06-01T00:00:00Z\n"));
        ASSERT_NE(run(windowPolicy()).outcome, Core::RunOutcome::Failed);

        const std::string old = ZipBuilder().file(gameFile, "game 1.0", 0755).bytes();
        server.serve("/old.zip", old);
        serveSigned("version=1.0\nmacurl=" + server.url("/old.zip") + "\n" + checksumLine(old) +
                    (*c.released != 0 ? std::string("released=") + c.released + "\n" : ""));
        const Core::RunResult result = run(c.policy);
        if (std::string(c.installed) == "2.0") {
            ASSERT_TRUE(result.error);
            EXPECT_TRUE(result.error->is(AmCode::OlderRelease)) << result.error->fullDescription();
            EXPECT_EQ(result.error->message(), "release is older than one already accepted");
        } else {
            EXPECT_EQ(result.outcome, Core::RunOutcome::Installed);
        }
        expectOneSettledBuild(root, c.installed, std::string("game ") + c.installed);
    }
}

// Finding the build current only reads, so a root the player may not write (a shared install,
// a read-only volume) is no failure; settling an interrupted update's leftovers writes.
TEST_F(ReleaseRun, ARootThePlayerMayNotWriteIsFoundCurrentUnlessLeftoversNeedSettling) {
    publish();
    handToUnprivilegedUser(dir.path());
    runUnprivileged([&] {
        for (const bool leftovers : {false, true}) {
            SCOPED_TRACE(leftovers ? "leftovers" : "no leftovers");
            writeFile(root / "build" / gameFile, "game 2.0");
            writeFile(root / "installed.txt", "2.0");
            if (leftovers) {
                writeFile(root / "build.staging" / gameFile, "game 2.");
            }
            fs::permissions(root, fs::perms(0555));
            const Core::RunResult result = run(windowPolicy());
            fs::permissions(root, fs::perms(0755));
            if (leftovers) {
                ASSERT_TRUE(result.error);
                EXPECT_EQ(result.error->domain(), "posix") << result.error->fullDescription();
            } else {
                EXPECT_EQ(result.outcome, Core::RunOutcome::Current);
            }
            EXPECT_FALSE(fs::exists(root / ".lock"));
            EXPECT_EQ(readFile(root / "build" / gameFile), "game 2.0");
        }
    });
}

TEST_F(ReleaseRun, AChangelogThatCannotBeFetchedFailsOnlyTheRunThatRequiresIt) {
    installOld();
    publish();
    server.stall("/changelog.txt", std::chrono::seconds(5));
    EXPECT_EQ(run(windowPolicy()).outcome, Core::RunOutcome::Installed);
    EXPECT_TRUE(recorder.events.starts_with("checking read accepted changelog0 download"));

    const Core::RunResult required = run(selfCheckPolicy());
    EXPECT_EQ(required.outcome, Core::RunOutcome::Failed);
    EXPECT_EQ(required.error->domain(), "curl");
}

// Decided once for every front end: whatever is thrown, the run ends as a failed one.
TEST_F(ReleaseRun, AnExceptionOfAnyKindEndsItAsAFailedRun) {
    publish();
    recorder.throwOnChangelog = true;
    const Core::RunResult result = run(windowPolicy());
    EXPECT_EQ(result.outcome, Core::RunOutcome::Failed);
    EXPECT_EQ(result.error->fullDescription(), "Error Domain=std Code=0 \"front end failed\"");
    EXPECT_EQ(recorder.events, "checking read accepted changelog1 finished");
    EXPECT_FALSE(fs::exists(root));
}

// Builds of a game whose packs are each a range of their own; a pack's content comes from its
// seed.
ZipBuilder gameBuild(const std::string& version,
                     std::array<std::uint32_t, 5> packs = {1, 2, 3, 4, 5},
                     unsigned dataMode = 0644) {
    ZipBuilder zip;
    zip.folder("Ashenmarch.app/").file(gameFile, "game " + version, 0755);
    for (std::size_t i = 0; i < packs.size(); ++i) {
        zip.file("Ashenmarch.app/pack" + std::to_string(i), noise(100 * 1024, packs[i]));
    }
    return zip.file("Ashenmarch.app/data.txt", "data", dataMode)
        .symlink("Ashenmarch.app/Current", "Contents");
}

class PatchRun : public ReleaseRun {
public:
    Core::RunPolicy policy = windowPolicy();
    std::optional<PatchRelease> one;

    PatchRun() { policy.patch = true; }

    // 1.0 installed as the window installs it: whole, with its file index kept.
    void installOne() {
        fs::remove_all(root);
        one.emplace(server, "1.0", gameBuild("1.0"));
        ASSERT_EQ(run(policy).outcome, Core::RunOutcome::Installed);
        ASSERT_TRUE(Core::Install::installedIndex(layout));
    }

    // The Range header of each request for the archive after the first `since` requests.
    std::vector<std::string> archiveRanges(std::size_t since) const {
        std::vector<std::string> ranges;
        const auto requests = server.requests();
        for (std::size_t at = since; at < requests.size(); ++at) {
            if (requests[at].path == "/build.zip") {
                ranges.push_back(requests[at].header("Range").value_or("none"));
            }
        }
        return ranges;
    }
};

TEST_F(PatchRun, TakesAPatchOnlyWhenItCanAndItPays) {
    struct Case {
        const char* name;
        ZipBuilder next;
        std::function<void(PatchRun&, const PatchRelease&)> arrange;
        const char* transfer; // the run's events between the changelog and installing
        std::string fallbackReason;
        std::size_t filesFetched;
    };
    const auto none = [](PatchRun&, const PatchRelease&) {
    };
    const auto manifestWithout = [](const char* key) {
        return [key](PatchRun& t, const PatchRelease& next) {
            std::string manifest = next.manifest;
            const std::size_t line = manifest.find(std::string("\n") + key + "=") + 1;
            manifest.erase(line, manifest.find('\n', line) + 1 - line);
            t.server.serve("/latest.txt", manifest);
        };
    };
    const Case cases[] = {
        // The game file changed; data.txt only its mode (taken from the installed build, copied).
        {"a patch", gameBuild("2.0", {1, 2, 3, 4, 5}, 0755), none, "patch downloaded", "", 1},
        {"no installed index, so hashed", gameBuild("2.0"),
         [](PatchRun& t, const PatchRelease&) { fs::remove(t.layout.installedIndexPath()); },
         "patch downloaded", "", 1},
        {"the player's damage mended too", gameBuild("2.0"),
         [](PatchRun& t, const PatchRelease&) {
             fs::remove(t.layout.buildDir() / "Ashenmarch.app/pack0");
             writeFile(t.layout.buildDir() / "Ashenmarch.app/pack1", noise(100 * 1024, 7));
         },
         "patch downloaded", "", 3},
        {"no index", gameBuild("2.0"), manifestWithout("macindex"), "download downloaded",
         "the release has no file index", 0},
        {"an index nothing pins", gameBuild("2.0"), manifestWithout("macindexsha256"),
         "download downloaded", "the release's file index cannot be used", 0},
        {"a host without ranges", gameBuild("2.0"),
         [](PatchRun& t, const PatchRelease& next) {
             t.server.serveFile("/build.zip", {{.body = next.archive, .honourRange = false}});
         },
         "patch download downloaded", "the host does not serve parts of files", 0},
        {"more than half changed", gameBuild("2.0", {6, 7, 8, 4, 5}), none, "download downloaded",
         "the changes come to more than half of the archive", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        installOne();
        const PatchRelease next(server, "2.0", c.next);
        c.arrange(*this, next);
        ASSERT_EQ(run(policy).outcome, Core::RunOutcome::Installed);

        EXPECT_EQ(recorder.events, std::string("checking read accepted changelog1 ") + c.transfer +
                                       " installing staged committed2.0 finished");
        EXPECT_EQ(recorder.fetched.fallbackReason, c.fallbackReason);
        EXPECT_EQ(recorder.fetched.files, c.filesFetched);
        EXPECT_TRUE(Core::Unpack::verifyInstall(next.index, layout.buildDir()).intact());
        // The index kept is the release's, each file stamped with its time in the build; a
        // release without a usable one leaves none.
        FileIndex kept = Core::Install::installedIndex(layout).value_or(FileIndex{});
        for (IndexEntry& entry : kept.entries) {
            EXPECT_EQ(entry.stamp.has_value(), entry.kind == IndexKind::File) << entry.path;
            entry.stamp.reset();
        }
        const bool usable = c.fallbackReason.find("index") == std::string::npos;
        EXPECT_EQ(kept, usable ? next.index : FileIndex{});
        expectOneSettledBuild(root, "2.0", "game 2.0");
    }
}

TEST_F(PatchRun, APatchGoneWrongFailsAndLeavesTheInstalledBuildAsItWas) {
    const TestKeyPair studio;
    // Serves `index` as the release's, pinned.
    const auto republish = [](PatchRun& t, const PatchRelease& next, const FileIndex& index) {
        std::string manifest = next.manifest;
        manifest.replace(manifest.find(sha256Of(next.indexText)), 64, sha256Of(index.serialize()));
        t.server.serve("/build.zip.index", index.serialize());
        t.server.serve("/latest.txt", manifest);
    };
    struct Case {
        const char* name;
        std::function<void(PatchRun&, const PatchRelease&)> arrange;
        AmCode code;
        std::string extraManifest = {};
    };
    const Case cases[] = {
        {"a span's bytes changed on the host",
         [](PatchRun& t, const PatchRelease& next) {
             std::string tampered = next.archive;
             const ByteSpan pack0 = next.entry("Ashenmarch.app/pack0").span;
             tampered[static_cast<std::size_t>(pack0.end() - 20)] ^= 1;
             t.server.serveFile("/build.zip", {{.body = tampered}});
         },
         AmCode::ChecksumMismatch},
        {"an index that lies about a span",
         [&republish](PatchRun& t, const PatchRelease& next) {
             FileIndex lying = next.index;
             for (IndexEntry& entry : lying.entries) {
                 if (entry.path == "Ashenmarch.app/pack0") {
                     entry.span = next.entry("Ashenmarch.app/pack2").span;
                 }
             }
             republish(t, next, lying);
         },
         AmCode::ChecksumMismatch},
        {"an index other than the one pinned",
         [](PatchRun& t, const PatchRelease& next) {
             t.server.serve("/build.zip.index", next.indexText + "\n");
         },
         AmCode::ChecksumMismatch},
        {"an index whose path runs through a file",
         [&republish](PatchRun& t, const PatchRelease& next) {
             FileIndex unsafe = next.index;
             unsafe.entries.push_back(next.entry("Ashenmarch.app/data.txt"));
             unsafe.entries.back().path = "Ashenmarch.app/data.txt/inside";
             republish(t, next, unsafe);
         },
         AmCode::UnpackFailed},
        {"ranges not satisfiable",
         [](PatchRun& t, const PatchRelease&) {
             t.server.serveFile("/build.zip", {{.status = 416}});
         },
         AmCode::HttpStatus},
        {"no bundle by the release's name", [](PatchRun&, const PatchRelease&) {},
         AmCode::MissingBundle, "macexe=Other.app\n"},
        {"a signed release with an index nothing pins",
         [&studio](PatchRun& t, const PatchRelease& next) {
             const std::size_t pin = next.manifest.find("macindexsha256=");
             const std::string manifest =
                 next.manifest.substr(0, pin) + "macsha256=" + sha256Of(next.archive) + "\n";
             t.server.serve("/latest.txt", manifest);
             t.server.serve("/latest.txt.sig", studio.sign(manifest));
             t.keys = studio.keys();
         },
         AmCode::BadSignature},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        keys = {};
        installOne();
        // pack0 changed and data.txt's mode: one entry fetched, one copied, the rest linked.
        const PatchRelease next(server, "2.0", gameBuild("2.0", {9, 2, 3, 4, 5}, 0755),
                                c.extraManifest);
        c.arrange(*this, next);
        const std::size_t before = server.requests().size();
        const Core::RunResult result = run(policy);

        EXPECT_EQ(result.outcome, Core::RunOutcome::Failed);
        ASSERT_TRUE(result.error);
        EXPECT_TRUE(result.error->is(c.code)) << result.error->fullDescription();
        for (const std::string& range : archiveRanges(before)) {
            EXPECT_NE(range, "none") << "no whole archive to cover it up";
        }
        // Content, kinds and execute bits as 1.0 installed them; nothing added.
        EXPECT_TRUE(Core::Unpack::verifyInstall(one->index, layout.buildDir()).intact());
        EXPECT_EQ(readFile(root / "installed.txt"), "1.0");
    }
}

// A patch cut off between its ranges keeps what it staged; the next run fetches only the rest.
TEST_F(PatchRun, AnInterruptedPatchGoesOnFromWhatItStaged) {
    installOne();
    const PatchRelease next(server, "2.0", gameBuild("2.0", {9, 2, 3, 4, 8}));
    const ByteSpan last = next.entry("Ashenmarch.app/pack4").span;
    server.serveFile("/build.zip", {{.body = next.archive},
                                    {.body = next.archive,
                                     .cutAt = static_cast<std::size_t>(last.offset + 100)}});
    const Core::RunResult cut = run(policy);
    ASSERT_EQ(cut.outcome, Core::RunOutcome::Failed);
    EXPECT_EQ(cut.error->domain(), "curl") << cut.error->fullDescription();
    EXPECT_EQ(readFile(root / "build" / gameFile), "game 1.0");

    server.serveFile("/build.zip", {{.body = next.archive}});
    const std::size_t before = server.requests().size();
    ASSERT_EQ(run(policy).outcome, Core::RunOutcome::Installed);
    EXPECT_EQ(recorder.fetched.files, 1u);
    EXPECT_EQ(archiveRanges(before),
              std::vector<std::string>{"bytes=" + std::to_string(last.offset) + "-" +
                                       std::to_string(last.end() - 1)});
    EXPECT_TRUE(Core::Unpack::verifyInstall(next.index, layout.buildDir()).intact());
}

class ReleaseRunAfterACrash : public ReleaseRun,
                              public ::testing::WithParamInterface<Interruption> {};

// Recovery comes before the version check: a crash after the swap needs no second download.
TEST_P(ReleaseRunAfterACrash, EndsWithOneCompleteBuildWhoseMarkerMatches) {
    const Interruption& state = GetParam();
    leaveInterruptedUpdate(state, root);
    publish();
    const bool alreadyNew = std::string(state.recoveredVersion) == "2.0";
    EXPECT_EQ(run(windowPolicy()).outcome,
              alreadyNew ? Core::RunOutcome::Current : Core::RunOutcome::Installed);
    EXPECT_EQ(server.requestsFor("/build.zip"), alreadyNew ? 0 : 1);
    expectOneSettledBuild(root, "2.0", "game 2.0");
}

INSTANTIATE_TEST_SUITE_P(EveryStep, ReleaseRunAfterACrash, ::testing::ValuesIn(everyInterruption()),
                         [](const auto& info) { return interruptionName(info.param); });

} // namespace
