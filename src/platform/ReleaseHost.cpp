#include "platform/ReleaseHost.h"

const std::string ReleaseHostBase = ASHENMARCH_RELEASE_HOST;
const std::string ManifestURL = ReleaseHostBase + "/latest.txt";
const std::string ChangelogURL = ReleaseHostBase + "/changelog.txt";

const std::string_view ReleasePublicKey = ASHENMARCH_RELEASE_PUBKEY;
const std::string_view ReleaseBackupPublicKey = ASHENMARCH_RELEASE_PUBKEY_BACKUP;

#ifdef __APPLE__
const std::string_view UserAgent = "AshenmarchLauncher/1.0 (macOS)";
#else
const std::string_view UserAgent = "AshenmarchLauncher/1.0 (Linux)";
#endif

ReleaseEndpoints releaseEndpoints() {
    return {ManifestURL, ChangelogURL};
}

bool releaseHostRequiresHttps() {
    return ReleaseHostBase.rfind("https://", 0) == 0;
}
