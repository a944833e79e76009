#include "platform/TimeZone.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string childValue(const char* name) {
    const std::string prefix = std::string(name) + "=";
    for (char* entry : TimeZone::environmentForChildren()) {
        if (entry != nullptr && std::string(entry).starts_with(prefix)) {
            return std::string(entry).substr(prefix.size());
        }
    }
    return "(unset)";
}

TEST(TimeZone, PinsTheSystemZoneOnlyWhenUnsetAndChildrenNeverSeeIt) {
    {
        const ScopedEnv unset("TZ", nullptr);
        TimeZone::pinSystemZone();
#if defined(__GLIBC__)
        EXPECT_STREQ(std::getenv("TZ"), ":/etc/localtime");
#endif
        EXPECT_EQ(childValue("TZ"), "(unset)");
        EXPECT_NE(childValue("PATH"), "(unset)");
    }
    {
        // The player's own zone is theirs: kept, and passed on.
        const ScopedEnv player("TZ", "Pacific/Auckland");
        TimeZone::pinSystemZone();
        EXPECT_STREQ(std::getenv("TZ"), "Pacific/Auckland");
        EXPECT_EQ(childValue("TZ"), "Pacific/Auckland");
    }
}

} // namespace
