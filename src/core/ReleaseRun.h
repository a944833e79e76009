#pragma once

#include "core/install/StagedInstall.h"
#include "core/transfer/Transfer.h"
#include "core/trust/ReleaseSignature.h"
#include "formats/Changelog.h"
#include "platform/Error.h"
#include "platform/ReleaseHost.h"

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

// One run of a release, from the host's manifest to the installed build's marker, for every mode:
// the window and the self-check differ only in their policy and in how they show the run.
namespace Core {

// What a mode asks of a run beyond the chain itself.
struct RunPolicy {
    // Ends the run when the recorded version is the manifest's and its bundle is there (the
    // window). Without it every run downloads and installs (the self-check), so the manifest must
    // name a version and an archive before anything else is fetched.
    bool stopWhenCurrent = false;
    // After installing, unpacks the archive again over the installed build: the next update
    // relies on unpacking over a tree (the self-check).
    bool reExtract = false;
    // A changelog that cannot be fetched fails the run (the self-check); otherwise it counts as
    // an empty one.
    bool requireChangelog = false;
    // With a build installed and a release that publishes a file index, fetches only the entries
    // the installed build lacks, by range requests (the window, --update, --repair); the whole
    // archive when that cannot be done or does not pay, saying why. Without it every install
    // downloads the whole archive (the self-check).
    bool patch = false;
    // Takes nothing from the installed build on the word of its index: every installed file is
    // hashed, so damage that kept a file's size and time is found too (--repair).
    bool hashInstalled = false;
    // A staged build without its executable may not replace a build that has one ("am" 4
    // naming the executable): modes that install for a player. The self-check only reports it.
    bool requireExecutable = false;
    // Ends a transfer in progress, and the run with it (the window closing).
    std::stop_token stop{};
};

enum class RunOutcome {
    Current,   // the installed build is the manifest's (stopWhenCurrent only)
    Installed, // the manifest's build has been installed
    Failed,    // RunResult::error says why; the installed build, if any, is untouched
    Stopped,   // the stop token ended the run
};

struct RunResult {
    RunOutcome outcome = RunOutcome::Failed;
    std::optional<Manifest> manifest; // the release manifest, once the run accepted it
    std::string installedVersion;     // the marker as the run leaves it; empty for none
    std::optional<Error> error;       // for Failed
};

// How a new build comes: the whole archive, or a patch of the entries the installed build lacks.
struct Download {
    enum class Kind { Full, Patch };
    Kind kind = Kind::Full;
    // To fetch (downloadStarted: a patch's ranges, or the manifest's size, 0 or less when it
    // gives none), or fetched (downloaded).
    std::int64_t bytes = 0;
    std::size_t files = 0;      // a patch: the files and links fetched ...
    std::size_t buildFiles = 0; // ... of this many in the build
    // A whole archive where a patch was looked for: why it could not be one; else empty.
    std::string fallbackReason;
};

// What a front end shows of a run. Calls come on the run's thread, in the order of the run's
// steps as declared here, each at most once (downloadProgress and retrying interleave, as often
// as they happen; downloadStarted comes a second time when a patch under way falls back to the
// whole archive), and finished always last, exactly once. What a mode does not show it leaves
// at the default, which does nothing. An exception thrown here ends the run as a failed one;
// one thrown by finished is dropped.
class RunObserver {
public:
    virtual ~RunObserver() = default;

    // Before the manifest is fetched.
    virtual void checking() {}
    // Parsed (and its signature checked), before the run judges it.
    virtual void manifestRead(const Manifest&) {}
    // Fit to run with: the run goes on with this manifest.
    virtual void manifestAccepted(const Manifest&) {}
    // Empty when the changelog could not be fetched and the policy does not require it.
    virtual void changelogRead(const Changelog&) {}
    // The build is about to be fetched, as said.
    virtual void downloadStarted(const std::string& /*version*/, const Download& /*planned*/) {}
    // Bytes fetched so far (a resumed download's held bytes included) and in all, 0 while the
    // total is not known.
    virtual void downloadProgress(std::int64_t /*done*/, std::int64_t /*total*/) {}
    // A lost connection is about to be tried again: attempt `attempt` of at most `attempts`.
    virtual void retrying(int /*attempt*/, int /*attempts*/) {}
    // The archive is complete on disk (its size there) and, when the manifest gave a checksum,
    // matched it; or every entry of a patch is staged, each checked against the index.
    virtual void downloaded(const Download& /*fetched*/, bool /*checksumMatched*/) {}
    virtual void installing(const std::string& /*version*/) {}
    // What the staging folder holds (unpacked or patched); no bundle fails the run ("am" 4).
    virtual void staged(const Install::StagedBuild&) {}
    // The new build is in place; the marker as read back.
    virtual void committed(const std::string& /*installedVersion*/) {}
    virtual void reExtracted() {}
    virtual void finished(const RunResult&) {}
};

// The release chain: fetch the manifest (and its signature when the build has keys), judge it,
// fetch the changelog, take the install lock and settle an interrupted update, stop when current
// (by policy), fetch the release's file index when it has one, then either stage a patch (by
// policy, see PatchInstall) or download the archive to the layout's archivePath() and stage it;
// keep the index in the staged build, sync the staged build to the disk, swap it in, write the
// marker, re-extract (by policy) and remove the archive: before the sync when nothing unpacks it
// again, so that its pages are never written. A failure never damages the installed build (see
// StagedInstall).
//
// With keys, the root remembers when the newest signed release it accepted was published (once
// the run ends current or installed), and a signed manifest published earlier, or not saying
// when once one did, fails the run ("am" 13): an old signed pair served again cannot roll
// players back. A studio that rolls back on purpose publishes the old build anew.
//
// The install lock is held from the first write to the end of the run; it is only taken when
// the run writes (settles an interrupted update's leftovers, installs, or records a newer
// release), so a run that finds the game current in a root the player may not write, or in
// one not yet made, changes nothing. Another launcher holding it fails the run ("am" 11).
struct ReleaseRun {
    Install::InstallLayout layout;
    ReleaseEndpoints endpoints;
    RunPolicy policy;
    // For every transfer, with the policy's stop token in place of its own.
    Transfer::TransferOptions options = Transfer::defaultTransferOptions();
    // With keys required only a signed manifest is accepted (the build's keys are checked when
    // it is configured, so the default never throws).
    Trust::ReleaseKeys keys = Trust::ReleaseKeys::fromBuild();

    // One run, blocking the calling thread throughout; may be called again for another run.
    // Never throws: whatever is thrown on the way (the program's errors, a library's own
    // exception, running out of memory, an observer's exception) ends the run as Failed, or as
    // Stopped once a stop was requested.
    RunResult run(RunObserver& observer) const;
};

} // namespace Core
