#pragma once

#include <string>
#include <string_view>

// Where the releases come from, fixed at build time (CMake cache variable
// ASHENMARCH_RELEASE_HOST). Written before main runs, read-only afterwards.
extern const std::string ReleaseHostBase;
extern const std::string ManifestURL;  // ReleaseHostBase + "/latest.txt"
extern const std::string ChangelogURL; // ReleaseHostBase + "/changelog.txt"

// The release-signing public keys fixed at build time (CMake cache variables
// ASHENMARCH_RELEASE_PUBKEY and ASHENMARCH_RELEASE_PUBKEY_BACKUP): base64 of a 32-byte Ed25519
// key each, empty when not set. Decoded and checked by ReleaseKeys::fromBuild().
extern const std::string_view ReleasePublicKey;
extern const std::string_view ReleaseBackupPublicKey;

// The launcher's one identification string, sent with every request.
extern const std::string_view UserAgent;

// The two text endpoints one run talks to. Production uses releaseEndpoints(); tests pass their
// own loopback server.
struct ReleaseEndpoints {
    std::string manifestURL;
    std::string changelogURL;
};
ReleaseEndpoints releaseEndpoints();

// True when the build's release host is https: plain http is then refused everywhere, also as a
// redirect target. A plain-http host (loopback demo and test builds) allows http.
bool releaseHostRequiresHttps();
