#pragma once

#include <string>
#include <string_view>

// Where the releases come from, fixed at build time (CMake cache variable
// ASHENMARCH_RELEASE_HOST). Written before main runs, read-only afterwards.
extern const std::string ReleaseHostBase;
extern const std::string ManifestURL;  // ReleaseHostBase + "/latest.txt"
extern const std::string ChangelogURL; // ReleaseHostBase + "/changelog.txt"

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
