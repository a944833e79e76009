// The release run as both modes share it, driven without a front end: its steps by policy, a
// failure at each step leaving the installed build as it was, and recovery from a crash.
#include "core/ReleaseRun.h"

#include "core/install/InstallLock.h"
#include "core/install/InstallStore.h"
#include "core/unpack/VerifyInstall.h"
#include "support/InterruptedUpdate.h"
#include "support/LoopbackServer.h"
#include "support/PatchRelease.h"
#include "support/TempDir.h"
#include "support/TestKeyPair.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <stdexcept>

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

// The window's policy, or the self-check's.
const Core::RunPolicy windowPolicy{.stopWhenCurrent = true, .requireExecutable = true};
const Core::RunPolicy selfCheckPolicy{.reExtract = true, .requireChangelog = true};

class ReleaseRun : public ::testing::Test {
protected:
    TempDir dir;
    fs::path root = dir / "install";
    Core::Install::InstallLayout layout{root};
    LoopbackServer server;
    std::string archive = ZipBuilder().file(gameFile, "game 2.0", 0755).bytes();
    Recorder recorder;
    const TestKeyPair studio;
    Core::Trust::ReleaseKeys keys;

    // Publishes 2.0; `extra` holds more manifest lines.
    void publish(const std::string& extra = {}) {
        const std::string manifest =
            "version=2.0\nmacurl=" + server.url("/build.zip") + "\n" + extra;
        server.serve("/latest.txt", manifest);
        server.serve("/latest.txt.sig", studio.sign(manifest));
        server.serve("/changelog.txt", "## 2.0\n");
        server.serve("/build.zip", archive);
    }
    static std::string checksumLine(std::string_view bytes) {
        return "macsha256=" + sha256Of(bytes) + "\n";
    }

    // That version installed; "" for nothing.
    void install(const std::string& version) {
        fs::remove_all(root);
        if (version.empty()) {
            return;
        }
        writeFile(root / "build" / gameFile, "game " + version);
        writeFile(root / "installed.txt", version);
    }

    Core::RunResult run(const Core::RunPolicy& policy) {
        recorder.events.clear();
        const ReleaseEndpoints endpoints{server.url("/latest.txt"), server.url("/changelog.txt")};
        return Core::ReleaseRun{layout, endpoints, policy, loopbackTransferOptions(), keys}.run(
            recorder);
    }
};

TEST_F(ReleaseRun, EachPolicyTakesItsSteps) {
    const std::string fetchAndInstall = " download downloaded installing staged committed2.0";
    // policy, version installed ("": none), signed release, outcome, events after the changelog
    const std::tuple<Core::RunPolicy, const char*, bool, Core::RunOutcome, std::string> cases[] = {
        {selfCheckPolicy, "2.0", false, Core::RunOutcome::Installed,
         fetchAndInstall + " re-extracted"},
        {windowPolicy, "2.0", false, Core::RunOutcome::Current, ""},
        {windowPolicy, "1.0", false, Core::RunOutcome::Installed, fetchAndInstall},
        {windowPolicy, "", true, Core::RunOutcome::Installed,
         " download downloaded+checksum installing staged committed2.0"},
    };
    for (const auto& [policy, installed, signedRelease, outcome, events] : cases) {
        SCOPED_TRACE(installed + events);
        install(installed);
        publish(signedRelease ? checksumLine(archive) : "");
        keys = signedRelease ? studio.keys() : Core::Trust::ReleaseKeys{};
        const Core::RunResult result = run(policy);
        EXPECT_EQ(recorder.events, "checking read accepted changelog1" + events + " finished");
        EXPECT_EQ(result.outcome, outcome);
        EXPECT_EQ(result.installedVersion, "2.0");
        expectOneSettledBuild(root, "2.0", "game 2.0");
    }
}

// One row per step that can fail; the rules of each step are proven by its own part's tests.
TEST_F(ReleaseRun, FailuresLeaveTheInstalledBuildAsItWas) {
    std::optional<Core::Install::InstallLock> otherLauncher;
    // name, arrange, error, archive requested
    const std::tuple<const char*, std::function<void()>, AmCode, bool> cases[] = {
        {"archive not found", [&] { server.serve("/build.zip", "gone", 404); }, AmCode::HttpStatus,
         true},
        {"not a zip", [&] { server.serve("/build.zip", "PK\x03\x04 not a zip"); },
         AmCode::UnpackFailed, true},
        {"bundle is a plain file",
         [&] { server.serve("/build.zip", ZipBuilder().file("Ashenmarch.app", "x").bytes()); },
         AmCode::MissingBundle, true},
        {"too large for the disk", [&] { publish("macsize=1152921504606846976\n"); },
         AmCode::NotEnoughSpace, false},
        {"unsigned release, signing build",
         [&] {
             server.serve("/latest.txt.sig", "", 404);
             keys = studio.keys();
         },
         AmCode::BadSignature, false},
        {"another launcher updating",
         [&] {
             writeFile(root / "build.staging" / gameFile, "the other launcher's work");
             otherLauncher.emplace(layout);
         },
         AmCode::InstallLocked, false},
    };
    for (const auto& [name, arrange, code, archiveRequested] : cases) {
        SCOPED_TRACE(name);
        install("1.0");
        publish();
        keys = {};
        arrange();
        const int requestsBefore = server.requestsFor("/build.zip");
        const Core::RunResult result = run(windowPolicy);
        ASSERT_TRUE(result.error);
        EXPECT_TRUE(result.error->is(code)) << result.error->fullDescription();
        EXPECT_EQ(result.installedVersion, "1.0");
        EXPECT_EQ(server.requestsFor("/build.zip") > requestsBefore, archiveRequested);
        EXPECT_EQ(readFile(root / "build" / gameFile), "game 1.0");
        EXPECT_EQ(readFile(root / "installed.txt"), "1.0");
        EXPECT_EQ(fs::exists(root / "build.staging"), otherLauncher.has_value());
        otherLauncher.reset();
    }
}

// A signature says who published a release, not that it is the newest: whoever holds the host
// could serve an older signed pair again. The newest is remembered whether the run installed it
// or found it current.
TEST_F(ReleaseRun, AnOlderSignedReleaseIsRefusedOnceANewerOneWasAccepted) {
    const std::string old = ZipBuilder().file(gameFile, "game 1.0", 0755).bytes();
    server.serve("/old.zip", old);
    const std::string oldManifest = "version=1.0\nmacurl=" + server.url("/old.zip") + "\n" +
                                    checksumLine(old) + "released=2026-01-01T00:00:00Z\n";
    for (const bool foundCurrent : {false, true}) {
        SCOPED_TRACE(foundCurrent ? "found current" : "installed");
        install(foundCurrent ? "2.0" : "");
        keys = studio.keys();
        publish(checksumLine(archive) + "released=2026-06-01T00:00:00Z\n");
        ASSERT_EQ(run(windowPolicy).outcome,
                  foundCurrent ? Core::RunOutcome::Current : Core::RunOutcome::Installed);

        server.serve("/latest.txt", oldManifest);
        server.serve("/latest.txt.sig", studio.sign(oldManifest));
        const Core::RunResult result = run(foundCurrent ? selfCheckPolicy : windowPolicy);
        ASSERT_TRUE(result.error);
        EXPECT_TRUE(result.error->is(AmCode::OlderRelease)) << result.error->fullDescription();
        expectOneSettledBuild(root, "2.0", "game 2.0");
    }
}

// A changelog that cannot be fetched fails only the run that requires it. Decided once for every
// front end: whatever it throws, the run ends as a failed one.
TEST_F(ReleaseRun, AChangelogThatCannotBeFetchedOrAFrontEndThrowingFailsTheRun) {
    publish();
    server.stall("/changelog.txt", std::chrono::seconds(5));
    EXPECT_EQ(run(windowPolicy).outcome, Core::RunOutcome::Installed);
    EXPECT_TRUE(recorder.events.starts_with("checking read accepted changelog0 download"));
    EXPECT_EQ(run(selfCheckPolicy).error.value_or(Error("", 0)).domain(), "curl");
    publish();
    recorder.throwOnChangelog = true;
    const Core::RunResult thrown = run(windowPolicy);
    EXPECT_EQ(thrown.outcome, Core::RunOutcome::Failed);
    EXPECT_EQ(thrown.error->fullDescription(), "Error Domain=std Code=0 \"front end failed\"");
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
protected:
    const Core::RunPolicy policy{.stopWhenCurrent = true, .patch = true, .requireExecutable = true};
    std::optional<PatchRelease> one;

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

// Only what the installed build lacks is fetched, the player's damage included; the whole
// archive when a patch cannot be had or does not pay, saying why. A patch that goes wrong is an
// error, never covered up by fetching the whole archive, and leaves the installed build as it was.
TEST_F(PatchRun, TakesAPatchOnlyWhenItCanAndItPaysAndNeverCoversUpOneGoneWrong) {
    // The release's manifest up to the line with this key: its index lines come last.
    const auto manifestUpTo = [this](const char* key) {
        return [this, key](const PatchRelease& next) {
            server.serve("/latest.txt", next.manifest.substr(0, next.manifest.find(key)));
        };
    };
    const struct {
        const char* name;
        ZipBuilder next;
        std::function<void(const PatchRelease&)> arrange;
        const char* transfer; // the run's events between the changelog and installing
        std::string fallbackReason;
        std::size_t filesFetched;
        std::optional<AmCode> error = std::nullopt;
    } cases[] = {
        // The game file changed; data.txt only its mode (taken from the installed build, copied).
        {"a patch", gameBuild("2.0", {1, 2, 3, 4, 5}, 0755), [](const PatchRelease&) {},
         "patch downloaded", "", 1},
        {"the player's damage mended too", gameBuild("2.0"),
         [this](const PatchRelease&) {
             fs::remove(layout.buildDir() / "Ashenmarch.app/pack0");
             writeFile(layout.buildDir() / "Ashenmarch.app/pack1", noise(100 * 1024, 7));
         },
         "patch downloaded", "", 3},
        {"no index", gameBuild("2.0"), manifestUpTo("macindex="), "download downloaded",
         "the release has no file index", 0},
        {"an index nothing pins", gameBuild("2.0"), manifestUpTo("macindexsha256="),
         "download downloaded", "the release's file index cannot be used", 0},
        {"a host without ranges", gameBuild("2.0"),
         [this](const PatchRelease& next) {
             server.serveFile("/build.zip", {{.body = next.archive, .honourRange = false}});
         },
         "patch download downloaded", "the host does not serve parts of files", 0},
        {"more than half changed", gameBuild("2.0", {6, 7, 8, 4, 5}), [](const PatchRelease&) {},
         "download downloaded", "the changes come to more than half of the archive", 0},
        // pack0 changed and data.txt's mode: one entry to fetch, one to copy, the rest to link.
        {"an index other than the one pinned", gameBuild("2.0", {9, 2, 3, 4, 5}, 0755),
         [this](const PatchRelease& next) {
             server.serve("/build.zip.index", next.indexText + "\n");
         },
         "", "", 0, AmCode::ChecksumMismatch},
        {"an index whose path runs through a file", gameBuild("2.0", {9, 2, 3, 4, 5}, 0755),
         [this](const PatchRelease& next) {
             FileIndex unsafe = next.index;
             unsafe.entries.push_back(next.entry("Ashenmarch.app/data.txt"));
             unsafe.entries.back().path = "Ashenmarch.app/data.txt/inside";
             std::string manifest = next.manifest;
             manifest.replace(manifest.find(sha256Of(next.indexText)), 64,
                              sha256Of(unsafe.serialize()));
             server.serve("/build.zip.index", unsafe.serialize());
             server.serve("/latest.txt", manifest);
         },
         "", "", 0, AmCode::UnpackFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        installOne();
        const PatchRelease next(server, "2.0", c.next);
        c.arrange(next);
        const std::size_t before = server.requests().size();
        const Core::RunResult result = run(policy);
        if (c.error) {
            ASSERT_TRUE(result.error);
            EXPECT_TRUE(result.error->is(*c.error)) << result.error->fullDescription();
            for (const std::string& range : archiveRanges(before)) {
                EXPECT_NE(range, "none") << "no whole archive to cover it up";
            }
            // Content, kinds and execute bits as 1.0 installed them; nothing added.
            EXPECT_TRUE(Core::Unpack::verifyInstall(one->index, layout.buildDir()).intact());
            EXPECT_EQ(readFile(root / "installed.txt"), "1.0");
            continue;
        }
        ASSERT_EQ(result.outcome, Core::RunOutcome::Installed);
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

// A patch cut off between its ranges keeps what it staged; the next run fetches only the rest.
TEST_F(PatchRun, AnInterruptedPatchGoesOnFromWhatItStaged) {
    installOne();
    const PatchRelease next(server, "2.0", gameBuild("2.0", {9, 2, 3, 4, 8}));
    const ByteSpan last = next.entry("Ashenmarch.app/pack4").span;
    server.serveFile("/build.zip", {{.body = next.archive},
                                    {.body = next.archive,
                                     .cutAt = static_cast<std::size_t>(last.offset + 100)}});
    EXPECT_EQ(run(policy).error.value_or(Error("none", 0)).domain(), "curl");
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
    EXPECT_EQ(run(windowPolicy).outcome,
              alreadyNew ? Core::RunOutcome::Current : Core::RunOutcome::Installed);
    EXPECT_EQ(server.requestsFor("/build.zip"), alreadyNew ? 0 : 1);
    if (alreadyNew) {
        EXPECT_EQ(readFile(layout.installedIndexPath()), "index 2.0");
    }
    expectOneSettledBuild(root, "2.0", "game 2.0");
}

INSTANTIATE_TEST_SUITE_P(EveryStep, ReleaseRunAfterACrash, ::testing::ValuesIn(everyInterruption()),
                         [](const auto& info) { return interruptionName(info.param); });

} // namespace
