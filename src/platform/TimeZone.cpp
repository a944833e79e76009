#include "platform/TimeZone.h"

#include <cstdlib>
#include <string_view>

extern char** environ;

namespace TimeZone {

namespace {

// A leading colon tells glibc that the rest names a zone file.
[[maybe_unused]] constexpr const char* PinnedValue = ":/etc/localtime";
constexpr std::string_view PinnedEntry = "TZ=:/etc/localtime";

} // namespace

void pinSystemZone() {
#if defined(__GLIBC__)
    ::setenv("TZ", PinnedValue, 0);
#endif
}

std::vector<char*> environmentForChildren() {
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        // Also when the player set this very value: without TZ, glibc reads the same file.
        if (*entry != PinnedEntry) {
            environment.push_back(*entry);
        }
    }
    environment.push_back(nullptr);
    return environment;
}

} // namespace TimeZone
